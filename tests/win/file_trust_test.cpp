// Who may change a file or folder, read off its security descriptor. (The uninstaller's files
// are tried through staged descriptors in tests/existing.)
#include "win/file_trust.h"

#include <gtest/gtest.h>

#include "tests/support/security.h"

namespace {

// What passes on to what is made inside counts only for a folder the installer writes into;
// TrustedInstaller is one of the administrators, a denying entry never lets anyone in.
TEST(FolderSecurity, WhatIsMadeInsideCountsForAFolderTheInstallerWritesInto) {
  const struct {
    const wchar_t* sddl;
    bool for_itself, inside;
  } cases[] = {
      {test::kProtectedFolder, true, true},
      {L"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;AU)", true, false},
      {L"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(D;;FA;;;BU)", true, true},
      {L"O:BAD:(A;;FA;;;BA)(A;;0x40000;;;S-1-5-80-1-2-3-4-5)", false, false},  // another service: WRITE_DAC
  };
  for (const auto& c : cases) {
    const win::UniqueLocalMemory descriptor = test::Descriptor(c.sddl);
    EXPECT_EQ(win::OnlyAdministratorsMayChange(descriptor.get(), nullptr), c.for_itself) << c.sddl;
    EXPECT_EQ(win::OnlyAdministratorsMayChange(descriptor.get(), nullptr, /*inside=*/true), c.inside) << c.sddl;
  }
}

}  // namespace
