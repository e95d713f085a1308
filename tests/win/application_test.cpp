#include "win/application.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "win/window.h"

namespace {

struct BoxCall {
  HWND owner = nullptr;
  std::wstring text;
  std::wstring caption;
  UINT type = 0;
  DWORD thread = 0;
};
BoxCall g_last;

int RecordingBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  g_last = {owner, text, caption, type, ::GetCurrentThreadId()};
  return IDCANCEL;
}

class TestApplication : public win::Application {
 protected:
  bool InitInstance() override { return false; }
};

// A real top-level window standing in for the main dialog.
class TopWindow : public win::Window {
 public:
  TopWindow() {
    set_hwnd(::CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               nullptr, nullptr));
  }
  ~TopWindow() override { ::DestroyWindow(hwnd()); }
};

class AppMessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = win::SetMessageBoxForTesting(RecordingBox);
    app_.Run(::GetModuleHandleW(nullptr));
    g_last = {};
  }
  void TearDown() override { win::SetMessageBoxForTesting(previous_); }

  TestApplication app_;
  win::MessageBoxFunction previous_ = nullptr;
};

TEST_F(AppMessageBoxTest, CaptionIsTheProgramFileNameWithoutExtension) {
  EXPECT_STREQ(L"win_test", app_.Title());
  EXPECT_EQ(IDCANCEL, win::AppMessageBox(L"hello", MB_OK));
  EXPECT_EQ(L"win_test", g_last.caption);
  EXPECT_EQ(L"hello", g_last.text);
}

TEST_F(AppMessageBoxTest, DefaultIconDependsOnTheButtonsWhenNoneIsAsked) {
  struct Case {
    UINT asked;
    UINT shown;
  };
  const Case cases[] = {
      {MB_OK, MB_OK | MB_ICONEXCLAMATION},
      {MB_OKCANCEL, MB_OKCANCEL | MB_ICONEXCLAMATION},
      {MB_YESNO, MB_YESNO | MB_ICONQUESTION},
      {MB_YESNOCANCEL, MB_YESNOCANCEL | MB_ICONQUESTION},
      {MB_RETRYCANCEL, MB_RETRYCANCEL},
      {MB_ABORTRETRYIGNORE, MB_ABORTRETRYIGNORE},
      {MB_OK | MB_ICONERROR, MB_OK | MB_ICONERROR},
      {MB_YESNO | MB_ICONINFORMATION, MB_YESNO | MB_ICONINFORMATION},
      {MB_OKCANCEL | MB_ICONQUESTION, MB_OKCANCEL | MB_ICONQUESTION},
  };
  for (const Case& c : cases) {
    win::AppMessageBox(L"t", c.asked);
    EXPECT_EQ(c.shown, g_last.type) << "asked 0x" << std::hex << c.asked;
  }
}

TEST_F(AppMessageBoxTest, OwnedByTheMainWindowOnItsThreadOnlyOtherwiseUnowned) {
  win::AppMessageBox(L"before", MB_OK);
  EXPECT_EQ(nullptr, g_last.owner);  // no main window yet

  TopWindow main;
  ASSERT_NE(nullptr, main.hwnd());
  app_.SetMainWindow(&main);

  win::AppMessageBox(L"on the window's thread", MB_OK);
  EXPECT_EQ(main.hwnd(), g_last.owner);

  std::thread other([] { win::AppMessageBox(L"from a worker", MB_OK); });
  other.join();
  EXPECT_NE(::GetCurrentThreadId(), g_last.thread);
  EXPECT_EQ(nullptr, g_last.owner);

  app_.SetMainWindow(nullptr);
}

TEST_F(AppMessageBoxTest, OwnedByTheLastActivePopUpOfTheMainWindow) {
  TopWindow main;
  app_.SetMainWindow(&main);
  HWND popup = ::CreateWindowExW(0, L"STATIC", L"popup", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                                 main.hwnd(), nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, popup);
  ::SetActiveWindow(popup);
  win::AppMessageBox(L"t", MB_OK);
  EXPECT_EQ(::GetLastActivePopup(main.hwnd()), g_last.owner);
  ::DestroyWindow(popup);
  app_.SetMainWindow(nullptr);
}

}  // namespace
