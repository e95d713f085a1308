// A product installation laid out for the detection tests: HKLM "SOFTWARE\Zuno" in the
// 32-bit view (written by this 32-bit test program), an installation directory of the
// test's own, and the service program in the system directory as the 32-bit installer sees
// it (GetSystemDirectoryW; under WoW64 the file lands in the redirected SysWOW64 folder).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/support/build_files.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"

namespace test {

inline std::wstring SystemDirectory() {
  wchar_t path[MAX_PATH];
  ::GetSystemDirectoryW(path, MAX_PATH);
  return path;
}

class InstalledProduct {
 public:
  InstalledProduct() = default;
  ~InstalledProduct() { RemoveService(); }

  const std::wstring& dir() const { return dir_.path(); }
  std::wstring Path(const wchar_t* name) const { return dir_.Path(name); }

  void RegisterDir(const std::wstring& value, DWORD type = REG_SZ) { key_.SetString(L"szZunoDir", value, type); }
  void RegisterName(const std::wstring& name) { key_.SetString(L"ProductName", name); }

  // An empty file.
  void Put(const wchar_t* name) const { WriteFileBytes(Path(name), {'z'}); }
  // A real program file, with or without version data.
  void PutProgram(const wchar_t* name, const wchar_t* fixture = L"fixture_version_full.exe") const {
    ::CopyFileW(Fixture(fixture).c_str(), Path(name).c_str(), FALSE);
  }
  void Remove(const wchar_t* name) const { ::DeleteFileW(Path(name).c_str()); }

  void PutLibraries() const {
    for (const wchar_t* name : {L"ZunoSkinManager.dll", L"ZunoSkin.dll", L"ThemePack.dll",
                                L"ZunoLanguageVn.dll", L"ZunoLanguageEn.dll"}) {
      Put(name);
    }
  }
  void PutService() const { WriteFileBytes(ServicePath(), {'s'}); }
  void RemoveService() const { ::DeleteFileW(ServicePath().c_str()); }

  // The whole current-generation product: Zuno.exe with version data, the libraries, the
  // service program, and its registration.
  void InstallComplete() {
    RegisterDir(dir());
    PutProgram(L"Zuno.exe");
    PutLibraries();
    PutService();
  }

  const ScopedKey& key() const { return key_; }

 private:
  static std::wstring ServicePath() { return SystemDirectory() + L"\\ZunoService.exe"; }

  ScopedKey key_{L"SOFTWARE\\Zuno"};
  TempDir dir_;
};

}  // namespace test
