// What the log tells an administrator: the command line without the argument's text, and
// the last line in words; a second copy's log never pushes a real run's log out.
#include "app/log_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/installer_ends.h"
#include "app/run_log.h"
#include "tests/support/temp_dir.h"
#include "win/trace.h"

namespace {

TEST(LogHeader, TheCommandLineShowsEachArgumentOnlyAsItsLength) {
  const struct {
    const wchar_t* line;
    const wchar_t* shown;
  } cases[] = {
      {L"\"C:\\Down loads\\ZunoOnlineSetup (1).exe\" /key=SECRET-1234",
       L"\"C:\\Down loads\\ZunoOnlineSetup (1).exe\" [16 characters]"},
      {L"Z:\\a\\setup.exe", L"\"Z:\\a\\setup.exe\""},
      {L"setup.exe \"two words\" \"\"", L"\"setup.exe\" [9 characters] [0 characters]"},
      {L"", L"(none)"},
  };
  for (const auto& c : cases) EXPECT_STREQ(CommandLineForLog(c.line).c_str(), c.shown);
}

std::string LogText(const std::wstring& path) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(RunLogEnd, ASecondCopysLogKeepsEveryRunsLogAndEndsOnTheResultInWords) {
  test::TempDir dir;
  const std::wstring folder = dir.Path(L"logs");
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  std::vector<std::wstring> earlier;
  for (int run = 10; run < 10 + kLogsKept; ++run) {
    earlier.push_back(folder + L"\\ZunoSetup-20000101-0000" + std::to_wstring(run) + L"-000-00000001.log");
    test::WriteFileBytes(earlier.back(), {'o', 'l', 'd'});
  }
  // The second copy's run: its log replaces the last such log, and takes no real one's place.
  for (int copy = 0; copy < 2; ++copy) {
    ASSERT_TRUE(StartRunLog(folder.c_str()));
    SetRunLogUncounted();
    EndRunLog(ExitCodeOf(InstallResult::kAnotherCopyRunning));
  }
  for (const std::wstring& path : earlier) EXPECT_TRUE(test::FileExists(path));
  const std::string refused = LogText(folder + L"\\" + kUncountedLogName);
  EXPECT_TRUE(refused.size() > 2 && refused.compare(refused.size() - 2, 2, "\r\n") == 0);
  const std::string last = "] Result: another copy of the installer is running (exit code 1618)\r\n";
  EXPECT_EQ(refused.compare(refused.size() - last.size(), last.size(), last), 0) << refused;

  // A counted run keeps kLogsKept in all, its own the newest.
  ASSERT_TRUE(StartRunLog(folder.c_str()));
  const std::wstring path = RunLogPath();
  EndRunLog(ExitCodeOf(InstallResult::kSetupRefused));
  EXPECT_FALSE(test::FileExists(earlier[0]));
  EXPECT_TRUE(test::FileExists(earlier[1]));
  const std::string text = LogText(path);
  EXPECT_NE(text.find("] Result: the downloaded setup is not signed by the maker or is too old, and has been deleted "
                      "(exit code 1620)\r\n"),
            std::string::npos)
      << text;
}

}  // namespace
