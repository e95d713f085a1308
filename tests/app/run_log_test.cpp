// The run's log on real files: the runs it keeps, and its lines.
#include "app/run_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/installer_ends.h"
#include "tests/support/security.h"
#include "tests/support/temp_dir.h"
#include "win/file_trust.h"
#include "win/protected_folder.h"
#include "win/trace.h"

namespace {

TEST(RunLog, OnlyTheLastTenRunsAreKeptAndEachLineIsOneLineOfUtf8) {
  test::TempDir dir;
  const std::wstring folder = dir.Path(L"logs");
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  std::vector<std::wstring> earlier;
  for (int run = 10; run < 22; ++run) {
    earlier.push_back(folder + L"\\ZunoSetup-20000101-0000" + std::to_wstring(run) + L"-000-00000001.log");
    test::WriteFileBytes(earlier.back(), {'o', 'l', 'd'});
  }
  ASSERT_TRUE(StartRunLog(folder.c_str()));
  const std::wstring path = RunLogPath();
  // Nothing a traced text holds starts a line or turns what follows it around.
  DebugTrace(L"sMessage: %s", L"Đã xong\nnExitCode: 0\u0085a\u2028b\u202Ec\u2066d\u200Fe\u009Bf");
  EndRunLog(1612);
  EXPECT_STREQ(RunLogPath(), L"");
  // The three oldest went; the nine newest and this run's stay.
  for (size_t i = 0; i < earlier.size(); ++i) EXPECT_EQ(test::FileExists(earlier[i]), i >= 3) << i;
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("] sMessage: \xC4\x90\xC3\xA3 xong nExitCode: 0 a b c d e f\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("] nExitCode: 1612\r\n"), std::string::npos) << text;
  // A second copy's run pushes no log out; its own replaces the last such, and ends in words.
  for (int copy = 0; copy < 2; ++copy) {
    ASSERT_TRUE(StartRunLog(folder.c_str()));
    SetRunLogUncounted();
    EndRunLog(ExitCodeOf(InstallResult::kAnotherCopyRunning));
  }
  for (size_t i = 3; i < earlier.size(); ++i) EXPECT_TRUE(test::FileExists(earlier[i])) << i;
  const std::vector<uint8_t> refused = test::ReadFileBytes(folder + L"\\" + kUncountedLogName);
  const std::string last = "] Result: another copy of the installer is running (exit code 1618)\r\n";
  ASSERT_GT(refused.size(), last.size());
  EXPECT_EQ(std::string(refused.end() - last.size(), refused.end()), last);
}


// No folder to be had (a file stands where a folder on the way should be): no log, nothing
// written anywhere, and the run goes on with its trace.
TEST(RunLog, NoFolderNoLogAndTheRunGoesOn) {
  test::TempDir dir;
  test::WriteFileBytes(dir.Path(L"blocked"), {'x'});
  EXPECT_FALSE(StartRunLog((dir.Path(L"blocked") + L"\\logs").c_str()));
  EXPECT_STREQ(RunLogPath(), L"");
  DebugTrace(L"sMessage: %s", L"still traced");
  EndRunLog(0);
  EXPECT_EQ(FailureBoxText(L"text").c_str(), std::wstring(L"text"));
}


int g_reads;  // the first folder read is the user's, every later one protected
std::vector<SECURITY_INFORMATION> g_set;
NTSTATUS NTAPI RecordDacl(HANDLE, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR) {
  g_set.push_back(what);
  return 0;
}

// A log folder that a user made first goes aside with what it holds, and a protected one takes
// its place; one that is protected is kept, and its rights are set on it alone.
TEST(RunLog, AFolderThatIsNotProtectedGoesAsideAndRightsAreNeverPushedDown) {
  g_reads = 0;
  win::SetSecurityReaderForTesting([](HANDLE) { return test::Descriptor(g_reads++ == 0 ? L"O:BUD:(A;OICI;FA;;;BU)" : test::kProtectedFolder); });
  SetDaclSetterForTesting(RecordDacl);
  test::TempDir dir;
  const std::wstring folder = dir.Path(L"logs");
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  test::WriteFileBytes(folder + L"\\planted.log", {'x'});

  ASSERT_TRUE(StartRunLog(folder.c_str()));
  const std::wstring path = RunLogPath();
  EndRunLog(0);
  EXPECT_FALSE(test::FileExists(folder + L"\\planted.log"));
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  const size_t at = text.find("] szLogFolderMovedAside: ");
  ASSERT_NE(at, std::string::npos) << text;
  const std::string aside = text.substr(at + 25, text.find('\r', at) - at - 25);
  EXPECT_TRUE(test::FileExists(std::wstring(aside.begin(), aside.end()) + L"\\planted.log")) << aside;
  EXPECT_TRUE(g_set.empty());  // the new folder got its rights as it was made

  ASSERT_TRUE(StartRunLog(folder.c_str()));
  EndRunLog(0);
  EXPECT_EQ(g_set, std::vector<SECURITY_INFORMATION>{DACL_SECURITY_INFORMATION});
  win::SetSecurityReaderForTesting(nullptr);
  SetDaclSetterForTesting(nullptr);
}

}  // namespace
