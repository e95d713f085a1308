#include "tests/support/build_files.h"

#include <windows.h>

namespace test {

std::wstring TestsDir() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring own(path, length);
  return own.substr(0, own.rfind(L'\\'));
}

std::wstring Fixture(const std::wstring& name) { return TestsDir() + L"\\" + name; }

std::wstring InstallerExe() {
  const std::wstring tests = TestsDir();
  return tests.substr(0, tests.rfind(L'\\')) + L"\\ZunoOnlineSetup.exe";
}

}  // namespace test
