#include "existing/previous_version.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>
#include <utility>

#include "existing/product_detection.h"
#include "existing/restart_copy.h"
#include "win/environment.h"
#include "win/file_identity.h"
#include "win/file_trust.h"
#include "win/protected_folder.h"
#include "win/registry_version.h"
#include "win/trace.h"
#include "win/unique_handle.h"

namespace {

// The first letter of the names of the uninstallers' temporary folders (the download
// directories' is '0', the restart copies' 'R').
constexpr wchar_t kUninstallerTempPrefix = L'U';
// The product's libraries in ProductFileTable, which an uninstaller of the product loads from
// its own folder.
constexpr int kFirstLibraryRow = 3;
constexpr int kLibraryCount = 5;
constexpr DWORD kEndedProcessWaitMs = 5000;

// The uninstaller, its folder and the product's libraries, held from the check until the
// uninstaller has been started: shared for reading only (the folder for writing too, never for
// deleting), so that none can be changed, replaced or renamed away meanwhile.
class HeldProduct {
 public:
  // Opens them all and checks who may change each: kStarted when all are held and only
  // administrators may change them.
  RemovalStart Hold(const WideString& directory, const WideString& program) {
    folder_.reset(::CreateFileW(directory.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    program_.reset(::CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!folder_.valid() || !program_.valid()) return RemovalStart::kNotStarted;
    bool only_administrators = Check(folder_.get(), directory) && Check(program_.get(), program);
    for (int i = 0; i < kLibraryCount; ++i) {
      const WideString library = CombinePath(directory.c_str(), ProductFileTable[kFirstLibraryRow + i].name);
      libraries_[i].reset(::CreateFileW(library.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!libraries_[i].valid()) return RemovalStart::kNotStarted;
      only_administrators = Check(libraries_[i].get(), library) && only_administrators;
    }
    return only_administrators ? RemovalStart::kStarted : RemovalStart::kFilesUnprotected;
  }

  HANDLE folder() const { return folder_.get(); }
  HANDLE program() const { return program_.get(); }
  void Release() {
    folder_.reset();
    program_.reset();
    for (win::UniqueFile& library : libraries_) library.reset();
  }

 private:
  static bool Check(HANDLE file, const WideString& path) {
    const bool only_administrators = win::OnlyAdministratorsMayChange(file);
    if (!only_administrators) DebugTrace(L"szUnprotected: %s", path.c_str());
    return only_administrators;
  }

  win::UniqueFile folder_;
  win::UniqueFile program_;
  win::UniqueFile libraries_[kLibraryCount];
};

// Registers this installer to run once at the next logon. Never this program's own path, which
// its user's programs can replace: an administrator's copy of it. Without one, no restart
// entry. A copy that no entry names would never be started nor removed: the new one when its
// entry cannot be written, else the one of an earlier offer whose entry this one replaces.
// Returns the registered copy, or empty.
WideString RegisterRestart() {
  wchar_t earlier[win::kPathCapacity];
  const int32_t earlier_length = ReadRegistryString(kRunOnceKey, kRunOnceValue, earlier, win::kPathCapacity);
  // The copy stays held, unchanged since its check, until the entry names it.
  RestartCopy copy = MakeRestartCopy();
  const bool registered = !copy.path.empty() && RegisterRunOnceRestart(copy.path.c_str());
  copy.file.reset();
  if (!copy.path.empty() && !registered) RemoveRestartCopy(copy.path.c_str());
  if (registered && earlier_length > 2 && earlier[0] == L'"' && earlier[earlier_length - 1] == L'"') {
    earlier[earlier_length - 1] = L'\0';
    RemoveRestartCopy(earlier + 1);
  }
  return registered ? std::move(copy.path) : WideString();
}

// An entry written for an uninstaller that then could not run goes again, with its copy.
void UnregisterRestart(const WideString& copy) {
  if (copy.empty()) return;
  win::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key.get(), kRunOnceValue);
  }
  RemoveRestartCopy(copy.c_str());
}

// Starts `program` as the setup is started: by its full path (no shell, no class lookup),
// suspended, in the product's folder, with the setup's environment and a protected TEMP of its
// own; it runs only if the started image is the held file in the held folder. The restart
// entry is written just before it runs. Not waited for: the installer ends either way.
RemovalStart StartUninstaller(const WideString& directory, const WideString& program, const wchar_t* parameters) {
  HeldProduct held;
  const RemovalStart checked = held.Hold(directory, program);
  if (checked != RemovalStart::kStarted) return checked;
  ProtectedFolder temp;
  if (!temp.Create(nullptr, kUninstallerTempPrefix)) return RemovalStart::kNotStarted;
  const WideString command_line = WideString::Format(L"\"%s\" %s", program.c_str(), parameters);
  const win::UniqueLocalMemory environment = SetupEnvironment(temp.path());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const bool created = !command_line.empty() && environment &&
                       ::CreateProcessW(program.c_str(), const_cast<wchar_t*>(command_line.c_str()), nullptr, nullptr,
                                        FALSE, CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.get(),
                                        directory.c_str(), &startup, &process);
  const win::UniqueKernelHandle process_handle(created ? process.hProcess : nullptr);
  const win::UniqueKernelHandle thread_handle(created ? process.hThread : nullptr);
  const bool same = created && RunsFile(process.hProcess, held.program(), held.folder());
  DebugTrace(L"bSameUninstaller: %d", same ? 1 : 0);
  // Let go before it runs: an uninstaller may copy itself away and delete what it leaves.
  held.Release();
  bool started = false;
  if (same) {
    const WideString copy = RegisterRestart();
    started = ::ResumeThread(process.hThread) != static_cast<DWORD>(-1);
    if (!started) UnregisterRestart(copy);
  }
  if (created && !started) {
    ::TerminateProcess(process.hProcess, ERROR_CANCELLED);
    ::WaitForSingleObject(process.hProcess, kEndedProcessWaitMs);
  }
  // Its TEMP goes at the next restart, as the setup's does (when the uninstaller has emptied it).
  temp.Release();
  if (started) {
    ::MoveFileExW(temp.path(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  } else {
    DeleteNowOrAtRestart(temp.path(), true);
  }
  return started ? RemovalStart::kStarted : RemovalStart::kNotStarted;
}

}  // namespace

InstalledProductFinding FindInstalledProduct() {
  InstalledProductFinding found;
  InstalledProductInfo info;
  if (!IsInstalledProductPresent(&info)) return found;
  found.directory = FindInstalledProductDir(&info);
  if (found.directory.empty()) return found;
  found.name = ReadInstalledProductName();
  found.question = info.showStartHint ? InstalledProductQuestion::kStartHint : InstalledProductQuestion::kRemove;
  return found;
}

RemovalStart RemoveInstalledProduct(const InstalledProductFinding& product) {
  const WideString& directory = product.directory;
  const WideString uninstaller = CombinePath(directory.c_str(), L"ZunoUnst.exe");
  return !uninstaller.empty() && ::PathFileExistsW(uninstaller.c_str())
             ? StartUninstaller(directory, uninstaller, L"/Silent")
             : StartUninstaller(directory, CombinePath(directory.c_str(), L"ZunoFamilyUnst.exe"), L"Silent");
}

bool RegisterRunOnceRestart(const wchar_t* path) {
  if (path == nullptr) return false;
  // Quoted: an unquoted path with blanks would let a prefix of it run instead.
  const WideString quoted = WideString::Format(L"\"%s\"", path);
  if (quoted.empty()) return false;
  win::UniqueRegKey key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>((quoted.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key.get(), kRunOnceValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted.c_str()),
                          bytes) == ERROR_SUCCESS;
}
