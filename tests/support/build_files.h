// What the build puts beside the test programs: the fixtures, the signed setups, the installer.
#pragma once

#include <string>

namespace test {

// The folder of the running test program, the build's tests folder: the fixture programs,
// signed\ (the demo setup signed as the maker and as others) and ..\signing (the test keys).
[[nodiscard]] std::wstring TestsDir();

// `name` in that folder.
[[nodiscard]] std::wstring Fixture(const std::wstring& name);

// The installer the build made, in the folder above.
[[nodiscard]] std::wstring InstallerExe();

}  // namespace test
