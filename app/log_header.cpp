#include "app/log_header.h"

#include <windows.h>
#include <shellapi.h>

#include "download/download_source.h"
#include "win/trace.h"
#include "win/unique_handle.h"

namespace {

constexpr DWORD kNameCapacity = 256;

// "DOMAIN\name" of the process's token, and whether the token is elevated.
WideString AccountOfToken(bool* elevated) {
  *elevated = false;
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return WideString::Copy(L"(unknown)");
  const win::UniqueKernelHandle token(raw);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  *elevated = ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
              elevation.TokenIsElevated != 0;
  alignas(TOKEN_USER) unsigned char buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  wchar_t name[kNameCapacity];
  wchar_t domain[kNameCapacity];
  DWORD name_length = kNameCapacity;
  DWORD domain_length = kNameCapacity;
  SID_NAME_USE use;
  if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size) ||
      !::LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &name_length, domain,
                           &domain_length, &use)) {
    return WideString::Copy(L"(unknown)");
  }
  return WideString::Format(L"%s\\%s", domain, name);
}

}  // namespace

WideString CommandLineForLog(const wchar_t* command_line) {
  int count = 0;
  LPWSTR* arguments = command_line != nullptr && command_line[0] != L'\0' ? ::CommandLineToArgvW(command_line, &count)
                                                                          : nullptr;
  if (arguments == nullptr) return WideString::Copy(L"(none)");
  WideString shown = WideString::Format(L"\"%s\"", arguments[0]);
  for (int i = 1; i < count && !shown.empty(); ++i) {
    shown = WideString::Format(L"%s [%d characters]", shown.c_str(), static_cast<int>(wcslen(arguments[i])));
  }
  ::LocalFree(arguments);
  return shown;
}

void TraceRunHeader() {
  DebugTrace(L"sCommandLine: %s", CommandLineForLog(::GetCommandLineW()).c_str());
  bool elevated = false;
  const WideString user = AccountOfToken(&elevated);
  DWORD session = 0;
  if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) session = static_cast<DWORD>(-1);
  DebugTrace(L"sUser: %s, elevated: %s, session: %d", user.c_str(), elevated ? L"yes" : L"no",
             static_cast<int>(session));
  // Direct, through the default proxy, then through the IE settings; and where it redirects.
  DebugTrace(L"sPackageUrl: %s (and where it redirects)", SelectDownloadUrl().c_str());
}
