// The run's log on real files: the runs it keeps, and its lines.
#include "app/run_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
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
}

}  // namespace
