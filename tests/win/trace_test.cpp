#include "win/trace.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex g_mutex;
std::vector<std::wstring> g_lines;

void Collect(const wchar_t* line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_lines.emplace_back(line);
}

class DebugTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    previous_ = SetTraceSinkForTesting(Collect);
  }
  void TearDown() override { SetTraceSinkForTesting(previous_); }
  TraceSink previous_ = nullptr;
};

TEST_F(DebugTraceTest, WideStringsAndSigned32BitIntegers) {
  DebugTrace(L"szFileSavePath = %s", L"C:\\Users\\ch\x1EEF\\Setup.dat");
  DebugTrace(L"bRet = %d", -1);
  DebugTrace(L"%s|%d|%s", L"a", 2147483647, L"");
  ASSERT_EQ(3u, g_lines.size());
  EXPECT_EQ(L"szFileSavePath = C:\\Users\\ch\x1EEF\\Setup.dat", g_lines[0]);
  EXPECT_EQ(L"bRet = -1", g_lines[1]);
  EXPECT_EQ(L"a|2147483647|", g_lines[2]);
}

TEST_F(DebugTraceTest, OutputLongerThan4095CharactersIsCut) {
  const std::wstring exact(kTraceCapacity - 1, L'x');
  const std::wstring longer(3 * kTraceCapacity, L'y');
  DebugTrace(L"%s", exact.c_str());
  DebugTrace(L"%s", longer.c_str());
  DebugTrace(L"[%s]", exact.c_str());
  ASSERT_EQ(3u, g_lines.size());
  EXPECT_EQ(exact, g_lines[0]);
  EXPECT_EQ(std::wstring(kTraceCapacity - 1, L'y'), g_lines[1]);
  EXPECT_EQ(L"[" + exact.substr(0, kTraceCapacity - 2), g_lines[2]);
}

TEST_F(DebugTraceTest, LinesFromSeveralThreadsStayWhole) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) DebugTrace(L"thread %d line %d %s", t, i, L"end");
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(800u, g_lines.size());
  for (const auto& line : g_lines) {
    EXPECT_EQ(0u, line.rfind(L"thread ", 0));
    EXPECT_EQ(L" end", line.substr(line.size() - 4));
  }
}

}  // namespace
