#include "existing/previous_version.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>

#include "existing/product_detection.h"
#include "existing/restart_copy.h"
#include "win/registry_version.h"
#include "win/unique_handle.h"

namespace {

// True when the uninstaller was started. Not waited for: the installer ends either way, and
// the restart entry brings it back at the next logon.
bool StartUninstaller(const WideString& program, const wchar_t* parameters, const WideString& directory) {
  const HINSTANCE started =
      ::ShellExecuteW(nullptr, L"open", program.c_str(), parameters, directory.c_str(), SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(started) > 32;
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

bool RemoveInstalledProduct(const InstalledProductFinding& product) {
  // Never this program's own path, which its user's programs can replace: an administrator's
  // copy of it. Without one, no restart entry. A copy that no entry names would never be
  // started nor removed: the new one when its entry cannot be written, else the one of an
  // earlier offer whose entry this one replaces.
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

  const WideString& directory = product.directory;
  WideString uninstaller = CombinePath(directory.c_str(), L"ZunoUnst.exe");
  return !uninstaller.empty() && ::PathFileExistsW(uninstaller.c_str())
             ? StartUninstaller(uninstaller, L"/Silent", directory)
             : StartUninstaller(CombinePath(directory.c_str(), L"ZunoFamilyUnst.exe"), L"Silent", directory);
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
