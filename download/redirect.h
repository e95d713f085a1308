// The redirects the engine follows itself, a new request for each hop.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "win/wide_string.h"

// 301, 302, 303, 307 or 308.
[[nodiscard]] bool IsRedirect(DWORD status) noexcept;

// Where a redirect from the http URL `current` leads, given its Location header `location`:
// an absolute http URL, or a path on the same host, rebuilt from its parts as
// "http://host:port/path" (a user name or password in it goes no further). Empty for anything
// else: another scheme (https included), a redirect from an https URL, no Location, or one
// longer than the engine takes (kMaxUrlTaken).
[[nodiscard]] WideString RedirectTarget(const wchar_t* location, const wchar_t* current);

// The host of cracked URL components into `out` (kUrlCapacity characters), cut one short.
void CopyHostName(const URL_COMPONENTS& components, wchar_t* out);
