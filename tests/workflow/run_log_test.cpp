// The run's log on real files: what it holds, the runs it keeps, and a run without one.
#include "workflow/run_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/trace.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<std::wstring> LogsIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((folder + L"\\*.log").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.emplace_back(entry.cFileName);
  while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(RunLog, EachTraceLineWithItsTimeInUtf8AndOnlyTheLastTenRunsKept) {
  test::TempDir dir;
  const std::wstring folder = dir.Path(L"logs");
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  std::vector<std::wstring> earlier;
  for (int run = 10; run < 22; ++run) {
    earlier.push_back(L"ZunoSetup-20260101-0000" + std::to_wstring(run) + L"-000-00000001.log");
    test::WriteFileBytes(folder + L"\\" + earlier.back(), {'o', 'l', 'd'});
  }
  ASSERT_TRUE(StartRunLog(folder.c_str()));
  const std::wstring path = RunLogPath();
  DebugTrace(L"sMessage: %s", L"Đã hoàn thành\ntải về");
  EndRunLog(1612);
  EXPECT_STREQ(RunLogPath(), L"");

  // The three oldest went; the nine newest and this run's stay.
  std::vector<std::wstring> kept(earlier.begin() + 3, earlier.end());
  kept.push_back(path.substr(folder.size() + 1));
  EXPECT_EQ(LogsIn(folder), kept);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF" "20", 0), 0u) << text;
  EXPECT_NE(text.find("] Zuno Office Guard online setup "), std::string::npos) << text;
  // A line feed of the text cannot start a line of its own.
  EXPECT_NE(text.find("] sMessage: \xC4\x90\xC3\xA3 ho\xC3\xA0n th\xC3\xA0nh t\xE1\xBA\xA3i v\xE1\xBB\x81\r\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("] nExitCode: 1612\r\n"), std::string::npos) << text;
}

TEST(RunLog, WithoutAFolderTheRunGoesOnWithoutALog) {
  test::TempDir dir;
  test::WriteFileBytes(dir.Path(L"file"), {'x'});
  EXPECT_FALSE(StartRunLog(dir.Path(L"file\\logs").c_str()));
  EXPECT_FALSE(StartRunLog(L"\\\\server\\share\\logs"));
  EXPECT_STREQ(RunLogPath(), L"");
}

}  // namespace
