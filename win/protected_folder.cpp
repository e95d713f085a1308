#include "win/protected_folder.h"

#include <bcrypt.h>
#include <sddl.h>
#include <winternl.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <utility>

#include "win/file_trust.h"
#include "win/trace.h"

extern "C" NTSTATUS NTAPI NtSetSecurityObject(HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR security);

namespace {

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035L);  // STATUS_OBJECT_NAME_COLLISION
constexpr ULONG kCreateOnly = 2;                                           // FILE_CREATE
constexpr ULONG kOpenOrCreate = 3;                                         // FILE_OPEN_IF
constexpr ULONG_PTR kCreated = 2;                                          // FILE_CREATED
constexpr ULONG kDirectoryFile = 0x00000001;                               // FILE_DIRECTORY_FILE
constexpr ULONG kSynchronousIo = 0x00000020;                               // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kOpenReparsePoint = 0x00200000;                            // FILE_OPEN_REPARSE_POINT

bool RandomName(const wchar_t* root, wchar_t prefix, wchar_t* path, size_t capacity) {
  uint32_t number[4] = {};
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(number), sizeof(number),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return false;
  }
  const int length = _snwprintf(path, capacity, L"%s\\%c%08X%08X%08X%08X.tmp", root, prefix, number[0], number[1],
                                number[2], number[3]);
  return length > 0 && static_cast<size_t>(length) < capacity;
}

// Creates `path` as a directory with `security` and opens it, in one step (`disposition`
// FILE_CREATE, or FILE_OPEN_IF to take one that exists): nothing is held unless this call
// opened a directory. Sets `*collided` when FILE_CREATE met an existing name, `*created` when
// this call made the directory.
HANDLE CreateAndOpen(const wchar_t* path, PSECURITY_DESCRIPTOR security, ULONG disposition, bool* collided,
                     bool* created) {
  wchar_t nt_path[win::kPathCapacity + 8];
  const int length = _snwprintf(nt_path, sizeof(nt_path) / sizeof(nt_path[0]), L"\\??\\%s", path);
  if (length <= 0) return INVALID_HANDLE_VALUE;
  UNICODE_STRING name = {static_cast<USHORT>(length * sizeof(wchar_t)), static_cast<USHORT>(length * sizeof(wchar_t)),
                         nt_path};
  OBJECT_ATTRIBUTES attributes = {sizeof(attributes), nullptr, &name, OBJ_CASE_INSENSITIVE, security, nullptr};
  IO_STATUS_BLOCK io = {};
  HANDLE handle = nullptr;
  const NTSTATUS status =
      ::NtCreateFile(&handle,
                     FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | SYNCHRONIZE,
                     &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                     kDirectoryFile | kSynchronousIo | kOpenReparsePoint, nullptr, 0);
  *collided = status == kNameCollision;
  *created = status >= 0 && io.Information == kCreated;
  return status >= 0 ? handle : INVALID_HANDLE_VALUE;
}

// A plain directory that no unelevated program owns.
bool IsSound(HANDLE directory) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(directory, &info)) return false;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && win::OwnedByAdministrators(directory);
}

// How a folder that was there already gets its DACL (tests replace it to see the call).
DaclSetter g_set_dacl = ::NtSetSecurityObject;

// Gives a folder that was there already the DACL of `security` (protected, so nothing is
// inherited from above): whoever made it, what it let others do inside goes. On the folder
// alone: the system's SetSecurityInfo would push the inheritable entries down to what is
// inside, and a hard link that a user left there would lend the new rights to its target.
bool ApplyDacl(HANDLE directory, PSECURITY_DESCRIPTOR security) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  return ::GetSecurityDescriptorControl(security, &control, &revision) && (control & SE_DACL_PROTECTED) != 0 &&
         ::GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted) && present && dacl != nullptr &&
         g_set_dacl(directory, DACL_SECURITY_INFORMATION, security) >= 0;
}

}  // namespace

win::UniqueFile CreateProtectedFolder(const wchar_t* path, ExistingFolder existing, bool* collided,
                                      PSECURITY_DESCRIPTOR security) noexcept {
  bool name_existed = false, created = false;
  const win::UniqueLocalMemory admin_only = security == nullptr ? AdminOnlyDirectorySecurity() : win::UniqueLocalMemory();
  if (security == nullptr) security = admin_only.get();
  win::UniqueFile directory;
  if (security != nullptr) {
    directory.reset(CreateAndOpen(path, security, existing == ExistingFolder::kOpen ? kOpenOrCreate : kCreateOnly,
                                  &name_existed, &created));
  }
  if (collided != nullptr) *collided = name_existed;
  if (directory.valid() && (!IsSound(directory.get()) || (!created && !ApplyDacl(directory.get(), security)))) {
    DebugTrace(L"szDirectory refused: %s", path);
    directory.reset();
    if (created) ::RemoveDirectoryW(path);
  }
  return directory;
}

void DeleteNowOrAtRestart(const wchar_t* path, bool directory) noexcept {
  const BOOL gone = directory ? ::RemoveDirectoryW(path) : ::DeleteFileW(path);
  if (!gone && ::GetLastError() != ERROR_FILE_NOT_FOUND && ::GetLastError() != ERROR_PATH_NOT_FOUND) {
    ::MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
}

win::UniqueLocalMemory AdminOnlyDirectorySecurity() noexcept {
  // Protected from inheritance: SYSTEM and Administrators, full control, passed on to all
  // that is made inside; nobody else. Owned by Administrators, so that an unelevated program
  // of the same user has no owner's right to rewrite it either; and whoever owns what is made
  // inside (the user, where the policy makes the creator the owner) may only read its
  // security, not rewrite it (OWNER RIGHTS).
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;RC;;;OW)",
                                                              SDDL_REVISION_1, &descriptor, nullptr)) {
    return win::UniqueLocalMemory();
  }
  return win::UniqueLocalMemory(descriptor);
}

win::UniqueLocalMemory ReadableAdminDirectorySecurity() noexcept {
  // As above, and Everyone may list the folder and read its files; nobody else may change them.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;RC;;;OW)(A;OICI;FRFX;;;WD)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return win::UniqueLocalMemory();
  }
  return win::UniqueLocalMemory(descriptor);
}

bool ProtectedFolder::Create(const wchar_t* root, wchar_t prefix) noexcept {
  handle_.reset();
  path_[0] = L'\0';
  wchar_t system_temp[MAX_PATH];
  if (root == nullptr) {
    const UINT length = ::GetSystemWindowsDirectoryW(system_temp, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 6) return false;
    wcscat(system_temp, L"\\Temp");
    root = system_temp;
  }
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    if (!RandomName(root, prefix, path_, win::kPathCapacity)) break;
    bool collided = false;
    win::UniqueFile directory = CreateProtectedFolder(path_, ExistingFolder::kRefuse, &collided);
    if (collided) continue;
    if (!directory.valid()) break;
    handle_ = std::move(directory);
    return true;
  }
  path_[0] = L'\0';
  return false;
}

void SetDaclSetterForTesting(DaclSetter setter) noexcept { g_set_dacl = setter != nullptr ? setter : ::NtSetSecurityObject; }

bool MoveAsideUnlessProtected(const wchar_t* path, wchar_t* moved_to, size_t capacity) noexcept {
  moved_to[0] = L'\0';
  win::UniqueFile folder(::CreateFileW(path, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.valid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(folder.get(), &info)) return false;
  const bool plain = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                     (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  if (plain && win::OnlyAdministratorsMayChange(folder.get(), /*inside=*/true)) return true;

  // Renamed by the handle, so it is this very entry that goes, whatever the name means by now.
  const wchar_t* slash = wcsrchr(path, L'\\');
  if (slash == nullptr) return false;
  const WideString parent = WideString::Copy(path, static_cast<size_t>(slash - path));
  if (!RandomName(parent.c_str(), L'~', moved_to, capacity)) return false;
  const size_t length = wcslen(moved_to);
  const size_t bytes = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
  win::UniqueLocalMemory rename(::LocalAlloc(LMEM_ZEROINIT, bytes));
  if (!rename) return false;
  auto* request = static_cast<FILE_RENAME_INFO*>(rename.get());
  request->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  wmemcpy(request->FileName, moved_to, length);
  if (!::SetFileInformationByHandle(folder.get(), FileRenameInfo, request, static_cast<DWORD>(bytes))) {
    moved_to[0] = L'\0';
    return false;
  }
  return true;
}
