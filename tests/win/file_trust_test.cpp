// Who may change a file or folder, read off its security descriptor.
#include "win/file_trust.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

namespace {

win::UniqueLocalMemory Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
  return win::UniqueLocalMemory(descriptor);
}

constexpr wchar_t kProtected[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;RC;;;OW)(A;OICI;FRFX;;;WD)";

// A folder the installer writes into: what passes on to what is made inside counts too.
TEST(FolderSecurity, OnlyAdministratorsSystemAndTheInstallerServiceMayChangeIt) {
  const struct {
    const wchar_t* sddl;
    bool protected_folder;
  } cases[] = {
      {kProtected, true},
      {L"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)(D;;FA;;;BU)", true},
      {L"O:BUD:P(A;OICI;FA;;;BA)", false},                        // the user's own
      {L"O:BA", false},                                           // no DACL: everyone may do everything
      {L"O:BAD:(A;;FA;;;BA)(A;CI;0x4;;;BU)", false},                // users may make folders inside
      {L"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;AU)", false},             // and own what is made there
      {L"O:BAD:(A;;FA;;;BA)(A;;0x40000;;;S-1-5-80-1-2-3-4-5)", false},  // another service: WRITE_DAC
  };
  for (const auto& c : cases) {
    const win::UniqueLocalMemory descriptor = Descriptor(c.sddl);
    EXPECT_EQ(win::OnlyAdministratorsMayChange(descriptor.get(), nullptr, /*inside=*/true), c.protected_folder) << c.sddl;
  }
}

}  // namespace
