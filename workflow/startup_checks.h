// The two checks that decide at start-up whether and how the installation goes ahead.
#pragma once

#include <windows.h>

#include "win/wide_string.h"

// The group list is read into a buffer of this many bytes; a longer list counts as a failure.
constexpr DWORD kTokenGroupsBufferSize = 10240;

// Same contract as GetTokenInformation.
using TokenInformationReader = BOOL(WINAPI*)(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                             LPVOID buffer, DWORD size, PDWORD returned);

// True when the current process's token lists the built-in Administrators group
// (S-1-5-32-544). Only identifiers are compared: a deny-only or disabled entry counts.
// False on every failure.
[[nodiscard]] bool IsAdminGroupMember();

// Where IsAdminGroupMember reads the groups: a token without Administrators cannot be had
// under Wine, so tests serve their own list. Null restores GetTokenInformation.
void SetTokenReaderForTesting(TokenInformationReader reader);

// The same test on `token`, reading its groups through `reader`.
[[nodiscard]] bool TokenListsAdministrators(HANDLE token,
                                            TokenInformationReader reader = ::GetTokenInformation);

// The first argument after the program name on this process's command line, with its
// enclosing quotes removed, or the empty string.
[[nodiscard]] WideString GetFirstArgument();

// The same for a given command line.
[[nodiscard]] WideString FirstArgumentOf(const wchar_t* command_line);
