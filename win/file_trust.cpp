#include "win/file_trust.h"

#include <aclapi.h>
#include <sddl.h>

#include <atomic>

namespace win {
namespace {

// Every right that changes a file or folder, or what is in it, or who may.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                      FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL | MAXIMUM_ALLOWED;

// NT SERVICE\TrustedInstaller, which owns Windows' own files.
constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

UniqueLocalMemory ReadSecurity(HANDLE file) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return UniqueLocalMemory();
  }
  return UniqueLocalMemory(descriptor);
}

std::atomic<SecurityReader> g_reader{ReadSecurity};

bool IsTrustedInstaller(PSID sid) {
  PSID trusted_installer = nullptr;
  if (!::ConvertStringSidToSidW(kTrustedInstaller, &trusted_installer)) return false;
  const UniqueLocalMemory held(trusted_installer);
  return ::EqualSid(sid, trusted_installer) != FALSE;
}

// Administrators, SYSTEM, TrustedInstaller, or what the platform reports for every file.
bool IsAdministrative(PSID sid, PSID platform_owner) {
  return sid != nullptr && ::IsValidSid(sid) &&
         (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
          IsTrustedInstaller(sid) || (platform_owner != nullptr && ::EqualSid(sid, platform_owner)));
}

// Whether the entry lets anyone but those change the object itself (or, `inside`, what is made
// in it too).
bool AllowsOthersToChange(const ACE_HEADER* ace, PSID platform_owner, bool inside) {
  if (!inside && (ace->AceFlags & INHERIT_ONLY_ACE) != 0) return false;
  const ACCESS_MASK mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
  if ((mask & kChangeRights) == 0) return false;
  switch (ace->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
      PSID sid = const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace)->SidStart);
      return !IsAdministrative(sid, platform_owner) && !::IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
    }
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_ACE_TYPE:
    case SYSTEM_MANDATORY_LABEL_ACE_TYPE:
      return false;
    default:  // an allowing entry of a kind not read here: it may allow anyone
      return true;
  }
}

// The caller's own account (LocalFree), or null.
UniqueLocalMemory OwnAccount() {
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return UniqueLocalMemory();
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  UniqueLocalMemory user(size != 0 ? ::LocalAlloc(LMEM_FIXED, size) : nullptr);
  if (!user || !::GetTokenInformation(token.get(), TokenUser, user.get(), size, &size)) return UniqueLocalMemory();
  return user;
}

}  // namespace

SecurityReader SetSecurityReaderForTesting(SecurityReader reader) noexcept {
  return g_reader.exchange(reader != nullptr ? reader : ReadSecurity);
}

bool PlatformKeepsFileSecurity() noexcept {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
}

bool OnlyAdministratorsMayChange(PSECURITY_DESCRIPTOR descriptor, PSID platform_owner, bool inside) noexcept {
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  if (descriptor == nullptr || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !IsAdministrative(owner, platform_owner) || !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
      !present || dacl == nullptr) {
    return false;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace) || AllowsOthersToChange(static_cast<const ACE_HEADER*>(ace), platform_owner, inside)) {
      return false;
    }
  }
  return true;
}

bool OnlyAdministratorsMayChange(HANDLE file, bool inside) noexcept {
  const UniqueLocalMemory descriptor = g_reader.load()(file);
  const UniqueLocalMemory account = PlatformKeepsFileSecurity() ? UniqueLocalMemory() : OwnAccount();
  const PSID platform_owner = account ? static_cast<TOKEN_USER*>(account.get())->User.Sid : nullptr;
  return OnlyAdministratorsMayChange(descriptor.get(), platform_owner, inside);
}

bool OwnedByAdministrators(HANDLE file) noexcept {
  const UniqueLocalMemory descriptor = g_reader.load()(file);
  const UniqueLocalMemory account = PlatformKeepsFileSecurity() ? UniqueLocalMemory() : OwnAccount();
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return descriptor && ::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) &&
         IsAdministrative(owner, account ? static_cast<TOKEN_USER*>(account.get())->User.Sid : nullptr);
}

}  // namespace win
