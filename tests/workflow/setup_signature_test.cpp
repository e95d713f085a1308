// The setup's signature, checked by the platform's WinVerifyTrust on real files signed with
// osslsigncode (the build's test keys), and the access rights of the download directory and
// the log folder.
#include "workflow/setup_signature.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/registry.h"
#include "tests/support/build_files.h"
#include "tests/support/temp_dir.h"
#include "win/protected_folder.h"

namespace {

std::wstring Signed(const wchar_t* signer) { return test::TestsDir() + L"\\signed\\demo_setup-" + signer + L".exe"; }

std::wstring Pin(const wchar_t* signer) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(test::TestsDir() + L"\\..\\signing\\" + signer + L".pin");
  return std::wstring(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
}

bool Passes(const std::wstring& path, const std::wstring& pins) {
  win::UniqueFile file = OpenForLaunch(path.c_str());
  EXPECT_TRUE(file.valid()) << "cannot open " << std::string(path.begin(), path.end());
  return IsSignedByPinnedSigner(file.get(), path.c_str(), pins.c_str());
}

TEST(SetupSignature, OnlyAVerifiedSignatureOfAPinnedKeyPasses) {
  const std::wstring product = ProductSignerPins();
  EXPECT_EQ(product, Pin(L"signer"));
  EXPECT_TRUE(Passes(Signed(L"signer"), product));
  EXPECT_FALSE(Passes(Signed(L"signer2"), product));  // the same CA's other key
  EXPECT_FALSE(Passes(Signed(L"other"), product));    // another CA
  EXPECT_FALSE(Passes(test::TestsDir() + L"\\demo_setup.exe", product));

  // A byte changed after signing: the signer is still named in the file, the digest fails.
  test::TempDir dir;
  const std::wstring changed = dir.Path(L"changed.exe");
  std::vector<uint8_t> bytes = test::ReadFileBytes(Signed(L"signer"));
  ASSERT_GT(bytes.size(), 0x600u);
  bytes[0x500] ^= 0x01;
  test::WriteFileBytes(changed, bytes);
  EXPECT_FALSE(Passes(changed, product));

  // Two pins, as during a key rotation: either key passes, no other.
  const std::wstring both = Pin(L"signer") + L";" + Pin(L"signer2");
  EXPECT_TRUE(Passes(Signed(L"signer"), both));
  EXPECT_TRUE(Passes(Signed(L"signer2"), both));
  EXPECT_FALSE(Passes(Signed(L"other"), both));
  EXPECT_FALSE(Passes(Signed(L"signer"), L"not-a-pin;" + Pin(L"signer2")));
}

// What `token` may do, of `rights`, where `descriptor` rules.
DWORD Granted(PSECURITY_DESCRIPTOR descriptor, HANDLE token, DWORD rights) {
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges = {};
  DWORD privileges_size = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!::AccessCheck(descriptor, token, MAXIMUM_ALLOWED, &mapping, &privileges, &privileges_size, &granted, &status)) {
    ADD_FAILURE() << "AccessCheck failed: " << ::GetLastError();
    return 0;
  }
  return status ? granted & rights : 0;
}

// Wine 8 takes the security given to CreateDirectoryW but keeps none of it (a read-back shows
// the user and SYSTEM with full control), so the descriptors the installer gives are checked
// here, by the platform's own access check, as Windows stores and applies them: the download
// directory's, and the log folder's, which lets anyone read the logs (its files take its
// entries) and nothing more.
TEST(ProtectedFolders, NoUnelevatedProgramMayPlantOrReplaceAFileAndOnlyLogsMayBeRead) {
  HANDLE process_token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process_token));
  win::UniqueKernelHandle token(process_token);
  // The user's token as an unelevated program has it: Administrators only for denying.
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                         0, &admins));
  win::UniqueSid admins_owned(admins);
  SID_AND_ATTRIBUTES disable = {admins, 0};
  HANDLE restricted = nullptr;
  ASSERT_TRUE(::CreateRestrictedToken(token.get(), 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted));
  win::UniqueKernelHandle restricted_owned(restricted);

  HANDLE elevated = nullptr, unelevated = nullptr;
  ASSERT_TRUE(::DuplicateToken(token.get(), SecurityImpersonation, &elevated));
  ASSERT_TRUE(::DuplicateToken(restricted, SecurityImpersonation, &unelevated));
  win::UniqueKernelHandle elevated_owned(elevated), unelevated_owned(unelevated);
  const DWORD changes = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                        FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA;
  const DWORD reading = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | FILE_READ_EA | READ_CONTROL;
  for (const bool logs : {false, true}) {
    const win::UniqueLocalMemory descriptor = logs ? ReadableAdminDirectorySecurity() : AdminOnlyDirectorySecurity();
    ASSERT_TRUE(descriptor);
    EXPECT_EQ(Granted(descriptor.get(), unelevated, changes), 0u) << logs;
    EXPECT_EQ(Granted(descriptor.get(), unelevated, reading), logs ? reading : 0u) << logs;
    // The installer itself, elevated, may do all of it.
    EXPECT_EQ(Granted(descriptor.get(), elevated, changes), changes) << logs;
  }
}

// Under the system's Temp folder by default, a fresh name each time, removable once released.
TEST(ProtectedFolder, FreshUnderTheSystemTempAndHeldUntilReleased) {
  ProtectedFolder first, second;
  ASSERT_TRUE(first.Create());
  ASSERT_TRUE(second.Create());
  wchar_t windows[MAX_PATH];
  ASSERT_NE(::GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring path = first.path();
  EXPECT_EQ(_wcsnicmp(path.c_str(), (std::wstring(windows) + L"\\Temp\\0").c_str(), wcslen(windows) + 7), 0) << path;
  EXPECT_EQ(path.size(), wcslen(windows) + 43) << path;  // \Temp\0<32 hex digits>.tmp
  EXPECT_NE(path, second.path());
  EXPECT_FALSE(::RemoveDirectoryW(path.c_str()));
  for (ProtectedFolder* held : {&first, &second}) {
    held->Release();
    EXPECT_TRUE(::RemoveDirectoryW(held->path()));
  }
}

}  // namespace
