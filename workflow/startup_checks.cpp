#include "workflow/startup_checks.h"

#include <atomic>

#include <shellapi.h>

#include "win/unique_handle.h"

namespace {
std::atomic<TokenInformationReader> g_token_reader{::GetTokenInformation};
}  // namespace

void SetTokenReaderForTesting(TokenInformationReader reader) {
  g_token_reader.store(reader ? reader : ::GetTokenInformation);
}

bool IsAdminGroupMember() {
  win::UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  return TokenListsAdministrators(token.get(), g_token_reader.load());
}

bool TokenListsAdministrators(HANDLE token, TokenInformationReader reader) {
  // DWORD storage keeps the TOKEN_GROUPS header aligned.
  DWORD storage[kTokenGroupsBufferSize / sizeof(DWORD)];
  DWORD returned = 0;
  if (!reader(token, TokenGroups, storage, kTokenGroupsBufferSize, &returned)) return false;
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(storage);

  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  win::UniqueSid administrators;
  if (!::AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, administrators.put())) {
    return false;
  }
  // Attributes are not looked at: a filtered token keeps the group as deny-only and the
  // installer still counts it, as the elevated start that the manifest asks for implies.
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if (::EqualSid(groups->Groups[i].Sid, administrators.get())) return true;
  }
  return false;
}

WideString GetFirstArgument() { return FirstArgumentOf(::GetCommandLineW()); }

WideString FirstArgumentOf(const wchar_t* command_line) {
  if (command_line == nullptr) return WideString();
  int count = 0;
  win::UniqueLocalMemory argv(::CommandLineToArgvW(command_line, &count));
  if (!argv || count < 2) return WideString();
  return WideString::Copy(static_cast<wchar_t**>(argv.get())[1]);
}
