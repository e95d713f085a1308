#include "existing/product_detection.h"

#include <windows.h>
#include <shlwapi.h>

#include <utility>

#include "win/registry_version.h"

const ProductFile ProductFileTable[9] = {
    {L"Zun.exe", FileLocation::InstallDirectory},
    {L"Zuno.exe", FileLocation::InstallDirectory},
    {L"ZunoFamily.exe", FileLocation::InstallDirectory},
    {L"ZunoSkinManager.dll", FileLocation::InstallDirectory},
    {L"ZunoSkin.dll", FileLocation::InstallDirectory},
    {L"ThemePack.dll", FileLocation::InstallDirectory},
    {L"ZunoLanguageVn.dll", FileLocation::InstallDirectory},
    {L"ZunoLanguageEn.dll", FileLocation::InstallDirectory},
    {L"ZunoService.exe", FileLocation::SystemDirectory},
};

namespace {

constexpr int kProgramFileRows = 3;

// The registered installation directory when it names an existing directory; else empty.
WideString RegisteredDirectory(const wchar_t* key) {
  wchar_t value[kRegistryValueCapacity];
  if (ReadRegistryString(key, L"szZunoDir", value, kRegistryValueCapacity) == 0) return WideString();
  if (!::PathIsDirectoryW(value)) return WideString();
  return WideString::Copy(value);
}

bool PathExists(const WideString& path) { return !path.empty() && ::PathFileExistsW(path.c_str()); }

}  // namespace

bool LocateProductDirectories(InstalledProductInfo* info) {
  wchar_t system_dir[win::kPathCapacity];
  if (::GetSystemDirectoryW(system_dir, win::kPathCapacity) == 0) return false;
  if (!::PathIsDirectoryW(system_dir)) return false;
  info->systemDir = WideString::Copy(system_dir);

  WideString install_dir = RegisteredDirectory(kZunoKey);
  if (install_dir.empty()) return false;
  info->installDir = std::move(install_dir);
  return true;
}

bool ProductFileExists(const InstalledProductInfo& info, const wchar_t* file_name,
                       FileLocation location) {
  switch (location) {
    case FileLocation::SystemDirectory:
      return PathExists(CombinePath(info.systemDir.c_str(), file_name));
    case FileLocation::InstallDirectory:
      return PathExists(CombinePath(info.installDir.c_str(), file_name));
  }
  return false;
}

bool IsInstalledProductPresent(InstalledProductInfo* info) {
  if (!LocateProductDirectories(info)) return false;
  bool program_found = false;
  for (int row = 0; row < kProgramFileRows && !program_found; ++row) {
    program_found = ProductFileExists(*info, ProductFileTable[row].name, ProductFileTable[row].location);
  }
  if (!program_found) return false;
  for (int row = kProgramFileRows; row < 9; ++row) {
    if (!ProductFileExists(*info, ProductFileTable[row].name, ProductFileTable[row].location)) return false;
  }
  return true;
}

WideString FindInstalledProductDir(InstalledProductInfo* info) {
  info->showStartHint = false;
  WideString directory = RegisteredDirectory(kZunoKey);
  if (directory.empty()) return WideString();
  for (int row = 0; row < kProgramFileRows; ++row) {
    WideString program = CombinePath(directory.c_str(), ProductFileTable[row].name);
    if (!PathExists(program)) continue;
    FileVersionStrings strings;
    if (!ReadVersionStrings(program.c_str(), &strings)) return WideString();
    return directory;
  }
  return WideString();
}

WideString ReadInstalledProductName() {
  wchar_t name[kRegistryValueCapacity];
  if (ReadRegistryString(kZunoKey, L"ProductName", name, kRegistryValueCapacity) == 0) return WideString();
  return WideString::Copy(name);
}

bool IsOlderGenerationInstalled() {
  WideString directory = RegisteredDirectory(L"Software\\Zuno");
  if (directory.empty()) return false;
  return PathExists(CombinePath(directory.c_str(), L"Zuno2009.exe"));
}
