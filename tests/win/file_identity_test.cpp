// Which file a started program runs from.
#include "win/file_identity.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/build_files.h"
#include "tests/support/temp_dir.h"
#include "win/protected_folder.h"
#include "workflow/setup_signature.h"

namespace {

// The checked file started from another directory than the held one (a hard link would do
// that) is not the installer's start either.
TEST(RunsFile, TheImageMustLieInTheHeldDirectory) {
  test::TempDir dir;
  ProtectedFolder held, other;
  ASSERT_TRUE(held.Create(dir.path().c_str()));
  ASSERT_TRUE(other.Create(dir.path().c_str()));
  const std::wstring program = std::wstring(held.path()) + L"\\SetupB.exe";
  ASSERT_TRUE(::CopyFileW(test::Fixture(L"record_args.exe").c_str(), program.c_str(), FALSE));
  win::UniqueFile file = OpenForLaunch(program.c_str());
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  std::wstring line = L"\"" + program + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                               &startup, &process));
  EXPECT_TRUE(RunsFile(process.hProcess, file.get(), held.handle()));
  EXPECT_FALSE(RunsFile(process.hProcess, file.get(), other.handle()));
  EXPECT_FALSE(RunsFile(process.hProcess, other.handle(), held.handle()));
  ::TerminateProcess(process.hProcess, 0);
  ::WaitForSingleObject(process.hProcess, 30000);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  file.reset();
  held.Release();
  other.Release();
  test::RemoveTree(held.path());
  test::RemoveTree(other.path());
}

}  // namespace
