// One request's exchange with its server, for the engine (http_downloader.cpp): sending it,
// answering its challenges, and reading its answer's headers.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "download/http_downloader.h"
#include "win/wide_string.h"

// The platform calls in use now (PlatformHttpCalls unless a test replaced them).
[[nodiscard]] const HttpCalls& Calls();

// The raw text of one response header, or empty when it is missing or longer than any
// honest value of the headers read here.
[[nodiscard]] WideString QueryHeaderText(HINTERNET request, DWORD info);

// What If-Range can name: a strong ETag, else the Last-Modified date; empty when neither.
[[nodiscard]] WideString ResumeValidator(HINTERNET request);

// Each answer, for the log: its status, type and announced length.
void TraceResponse(HINTERNET request, DWORD status);

// What the last HTTP status of a failed attempt says of its cause.
[[nodiscard]] FailureCause CauseOfStatus(DWORD status);

// A web page rather than a file: text/html, with or without parameters.
[[nodiscard]] bool IsWebPage(HINTERNET request);

// Sends the request until a response is accepted (200 or 206) or the exchange ends.
// Each challenge is answered once (the same challenge twice in a row ends it), at most
// kMaxAuthAnswers challenges in all, and at most kMaxResends resends that the platform asks for.
// A proxy's challenge without a caller's credentials is answered only where `proxy_logon`
// allows the user's own logon. `final_status` receives the last status code read.
bool RunRequestLoop(HINTERNET request, const wchar_t* user_name, const wchar_t* password, bool proxy_logon,
                    DWORD* final_status);
