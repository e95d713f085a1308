// The worker's ends as the user and the log are told them: the message, the box's caption
// (the product's title, whatever this program file is called), the exit code; and, when
// nobody can answer, no box at all and the text in the trace.
#include "app/installer_ends.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/messages.h"
#include "app/zuno_online_setup_app.h"
#include "tests/support/language_scope.h"
#include "win/application.h"
#include "win/trace.h"

namespace {

std::vector<std::wstring> g_boxes;   // caption|text
std::vector<std::wstring> g_traced;
DWORD g_exit_code = 0;

int RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT) {
  g_boxes.push_back(std::wstring(caption) + L"|" + text);
  return IDOK;
}
void RecordEnd(HWND, DWORD exit_code) { g_exit_code = exit_code; }
void RecordTrace(const wchar_t* line) { g_traced.emplace_back(line); }
bool Nobody() { return false; }
bool Somebody() { return true; }

struct EndCase {
  const char* name;
  InstallResult result;
  int32_t message;
  DWORD exit_code;
  bool nobody_to_answer;
};
const EndCase kCases[] = {
    {"RefusedSigner", InstallResult::kSetupRefused, kMessageSetupRefused, 1620, false},
    {"DamagedPackage", InstallResult::kPackageRejected, kMessageDownloadFailed, 1620, false},
    {"ElevationDeclined", InstallResult::kElevationDeclined, kMessageElevationDeclined, 1223, false},
    {"RefusedWithNobodyToAnswer", InstallResult::kSetupRefused, kMessageSetupRefused, 1620, true},
    {"DeclinedWithNobodyToAnswer", InstallResult::kElevationDeclined, kMessageElevationDeclined, 1223, true},
};

class WorkerEnd : public testing::TestWithParam<EndCase> {
 protected:
  void SetUp() override {
    g_boxes.clear();
    g_traced.clear();
    g_exit_code = 0;
    win::SetMessageBoxForTesting(RecordBox);
    win::SetAnswerCheckForTesting(GetParam().nobody_to_answer ? Nobody : Somebody);
    SetTraceLog(RecordTrace);
  }
  void TearDown() override {
    SetTraceLog(nullptr);
    win::SetAnswerCheckForTesting(nullptr);
    win::SetMessageBoxForTesting(nullptr);
  }
};

TEST_P(WorkerEnd, ToldWithItsMessageUnderTheTitleAndItsExitCode) {
  const EndCase& row = GetParam();
  const test::LanguageScope english(kLanguageEnglish);
  const CZunoOnlineSetupApp app;  // its title, not this test program's file name
  DialogReport(nullptr, RecordEnd).End(row.result, EndFigures{});
  EXPECT_EQ(g_exit_code, row.exit_code);
  const std::wstring text = GetMessageText(row.message).c_str();
  ASSERT_FALSE(text.empty());
  bool in_trace = false;
  for (const std::wstring& line : g_traced) in_trace = in_trace || line.find(text) != std::wstring::npos;
  EXPECT_TRUE(in_trace);
  if (row.nobody_to_answer) {
    EXPECT_TRUE(g_boxes.empty());
    return;
  }
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].rfind(std::wstring(kInstallerTitle) + L"|" + text, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Ends, WorkerEnd, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

// A question nobody can answer takes the answer that goes no further.
TEST(NobodyToAnswer, QuestionsTakeTheirSafeAnswer) {
  win::SetMessageBoxForTesting(RecordBox);
  win::SetAnswerCheckForTesting(Nobody);
  g_boxes.clear();
  EXPECT_EQ(win::AppMessageBox(L"remove?", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(win::AppMessageBox(L"stop?", MB_YESNO), IDNO);
  EXPECT_EQ(win::AppMessageBox(L"failed", MB_OK), IDOK);
  EXPECT_TRUE(g_boxes.empty());
  win::SetAnswerCheckForTesting(nullptr);
  win::SetMessageBoxForTesting(nullptr);
}

}  // namespace
