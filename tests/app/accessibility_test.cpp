// The dialog as assistive technology and a high-contrast user meet it, run in this process on
// the real dialog template: what a screen reader reads of the controls, what it is told as the
// status line changes, and the colours in high contrast.
#include <windows.h>
#include <oleacc.h>
#include <process.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/accessibility.h"
#include "app/banner.h"
#include "app/dialog_messages.h"
#include "app/installer_ends.h"
#include "app/messages.h"
#include "app/status_thread.h"
#include "app/zuno_online_setup_dlg.h"
#include "download/http_downloader.h"
#include "resources/resource.h"
#include "tests/support/language_scope.h"
#include "tests/support/pixels.h"
#include "win/application.h"

namespace {

// What the dialog does once it is up, called as it starts its first thread; the threads
// themselves are not started.
void (*g_with_dialog)(HWND) = nullptr;
uintptr_t RunWithDialog(void*, unsigned, unsigned(__stdcall*)(void*), void* object, unsigned, unsigned*) {
  if (g_with_dialog != nullptr) g_with_dialog(static_cast<CZunoOnlineSetupDlg*>(object)->hwnd());
  g_with_dialog = nullptr;
  return 0;
}

int AnswerOk(HWND, const wchar_t*, const wchar_t*, UINT) { return IDOK; }

// Runs the dialog with `starter` in place of its threads' start; the box that says they did
// not start is answered.
void RunDialog(ThreadStarter starter) {
  const win::MessageBoxFunction previous_box = win::SetMessageBoxForTesting(AnswerOk);
  SetThreadStarterForTesting(starter);
  CZunoOnlineSetupDlg dialog(nullptr);
  dialog.DoModal();
  SetThreadStarterForTesting(nullptr);
  win::SetMessageBoxForTesting(previous_box);
}

// ---- Names ----------------------------------------------------------------------------------

// Wine's oleacc keeps no annotation (a progress bar reads no name, the banner its resource
// number): what the dialog asks of the service is recorded, one row per call.
struct Recorder final : ControlAnnotations {
  bool SetText(HWND control, const MSAAPROPID& property, const wchar_t* text) override {
    const wchar_t* what = property == PROPID_ACC_NAME ? L"name" : property == PROPID_ACC_DESCRIPTION ? L"description" : L"?";
    rows.push_back(Of(control) + L" " + what + L": " + text);
    return true;
  }
  bool SetNumber(HWND control, const MSAAPROPID& property, int32_t value) override {
    const wchar_t* what = property == kLiveSettingProperty ? L"live" : L"?";
    rows.push_back(Of(control) + L" " + what + L": " + std::to_wstring(value));
    return true;
  }
  static std::wstring Of(HWND control) {
    HWND dialog = ::GetParent(control);
    return control == FindBannerControl(dialog) ? L"banner" : std::to_wstring(::GetDlgCtrlID(control));
  }
  std::vector<std::wstring> rows;
};

constexpr wchar_t kLine[] = L"592,0 KB / 741,5 KB \x00B7 còn khoảng 3 giây";
void ShowAProgressLine(HWND dialog) {
  ::SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, kLine);
  ::SendMessageW(dialog, kProgressLineMessage, 0, 0);  // as the status thread tells it
}

TEST(Accessibility, TheBarAndTheBannerAreNamedInTheUsersLanguage) {
  for (const auto& [language, name] : {std::pair{kLanguageVietnamese, L"Tiến trình tải về"},
                                       std::pair{kLanguageEnglish, L"Download progress"}}) {
    test::LanguageScope scope(language);
    Recorder recorder;
    SetAnnotationsForTesting(&recorder);
    g_with_dialog = ShowAProgressLine;
    RunDialog(RunWithDialog);
    SetAnnotationsForTesting(nullptr);
    const std::vector<std::wstring> expected = {
        std::wstring(L"1003 name: ") + name, L"banner name: Zuno Office Guard", L"1007 live: 1",
        L"1003 description: ", std::wstring(L"1003 description: ") + kLine};
    EXPECT_EQ(recorder.rows, expected) << language;
  }
}

// ---- Announcements -------------------------------------------------------------------------

HWND g_dialog = nullptr;
int g_announced = 0;
void CALLBACK CountAnnouncements(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (event == 0x8019 && hwnd == ::GetDlgItem(g_dialog, IDC_STATUS_TEXT) && object == OBJID_CLIENT &&
      child == CHILDID_SELF) {
    ++g_announced;
  }
}

// A download with a mode switch, as the status thread (mode, stage, one line with its running
// dots per tick) and the worker (stage -1: its own text) write the status line.
struct Step {
  int32_t mode, stage, ticks;
  WorkerStatus status;
};
constexpr Step kDownload[] = {
    {0, kStageInitial, 2, {}}, {0, kStagePreparing, 1, {}}, {0, kStageSessionOpened, 1, {}},
    {0, kStageConnected, 1, {}}, {0, kStageRequestSent, 1, {}}, {0, kStageReceiving, 4, {}},
    {0, kStageChunkWritten, 3, {}},  // the same message as the one before
    {0, kStageFailed, 2, {}}, {0, -1, 1, WorkerStatus::kDirectFailed}, {kModeDefaultProxy, kStageReceiving, 5, {}},
    {0, -1, 1, WorkerStatus::kDownloadComplete}};
constexpr int kMessagesInTheDownload = 10;

unsigned __stdcall EndAtOnce(void*) { return 0; }
unsigned __stdcall WriteADownload(void* report) {
  int32_t dots = 1;
  for (const Step& step : kDownload) {
    for (int tick = 0; tick < step.ticks; ++tick) {
      if (step.stage < 0) {
        static_cast<DialogReport*>(report)->ShowStatus(step.status);
        continue;
      }
      ::SetDlgItemTextW(g_dialog, IDC_STATUS_TEXT, StatusLineText(step.mode, step.stage, dots).c_str());
      dots = dots >= 3 ? 1 : dots + 1;
    }
  }
  ::PostMessageW(g_dialog, kWorkerEndedMessage, 0, 0);
  return 0;
}
uintptr_t StartADownload(void*, unsigned, unsigned(__stdcall* start)(void*), void* argument, unsigned, unsigned*) {
  if (start == StatusThreadProc) g_dialog = static_cast<CZunoOnlineSetupDlg*>(argument)->hwnd();
  return _beginthreadex(nullptr, 0, start == StatusThreadProc ? EndAtOnce : WriteADownload, argument, 0, nullptr);
}

TEST(Accessibility, EachNewStatusMessageIsAnnouncedOnceAndTheDotsNever) {
  for (int32_t language : {kLanguageVietnamese, kLanguageEnglish}) {
    test::LanguageScope scope(language);
    g_announced = 0;
    HWINEVENTHOOK hook = ::SetWinEventHook(0x8019, 0x8019, nullptr, CountAnnouncements, ::GetCurrentProcessId(), 0,
                                           WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    RunDialog(StartADownload);
    for (int i = 0; i < 20; ++i) {  // what is still on its way
      MSG message;
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
      ::Sleep(20);
    }
    ::UnhookWinEvent(hook);
    EXPECT_EQ(g_announced, kMessagesInTheDownload) << language;
  }
}

// ---- High contrast ------------------------------------------------------------------------

RECT RectIn(HWND dialog, HWND control) {
  RECT rect = {};
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool Bright(DWORD pixel) { return (pixel & 0x800000) && (pixel & 0x8000) && (pixel & 0x80); }

struct Seen {
  int panel_not_black = -1, status_bright = 0, status_black = 0, status_size = 1, line_bright = 0;
};
Seen g_seen;

// Shown on the white panel first; then the window colour turns black under high contrast.
void DrawInBlack(HWND dialog) {
  ::ShowWindow(dialog, SW_SHOW);
  HWND status = ::GetDlgItem(dialog, IDC_STATUS_TEXT);
  ::SetWindowTextW(status, StatusLineText(0, kStageConnected, 1).c_str());
  const int indexes[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
  const COLORREF colours[] = {RGB(0, 0, 0), RGB(255, 255, 255)};
  ::SetSysColors(2, indexes, colours);
  ::SendMessageW(dialog, WM_SYSCOLORCHANGE, 0, 0);
  ::SetWindowTextW(status, StatusLineText(0, kStageReceiving, 2).c_str());
  ::SetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, L"592.0 KB of 741.5 KB \x00B7 152.0 KB/s \x00B7 about 1 s left");
  ::SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, 80, 0);
  ::UpdateWindow(dialog);

  RECT client = {};
  ::GetClientRect(dialog, &client);
  const std::vector<DWORD> shot = test::ClientPixels(dialog, client.right, client.bottom);
  const RECT banner = RectIn(dialog, FindBannerControl(dialog));
  const RECT line = RectIn(dialog, ::GetDlgItem(dialog, IDC_STATUS_TEXT));
  const RECT progress_line = RectIn(dialog, ::GetDlgItem(dialog, IDC_PROGRESS_TEXT));
  const RECT others[] = {RectIn(dialog, ::GetDlgItem(dialog, IDC_PROGRESS)),
                         RectIn(dialog, ::GetDlgItem(dialog, IDC_CANCEL_BUTTON)), line, progress_line};
  g_seen = {};
  g_seen.panel_not_black = 0;
  g_seen.status_size = (line.right - line.left) * (line.bottom - line.top);
  for (int y = banner.bottom; y < client.bottom; ++y) {
    for (int x = 0; x < client.right; ++x) {
      const DWORD pixel = shot[static_cast<size_t>(y) * client.right + x];
      const POINT at = {x, y};
      g_seen.status_bright += ::PtInRect(&line, at) && Bright(pixel);
      g_seen.status_black += ::PtInRect(&line, at) && pixel == 0;
      g_seen.line_bright += ::PtInRect(&progress_line, at) && Bright(pixel);
      bool on_panel = true;
      for (const RECT& other : others) on_panel = on_panel && !::PtInRect(&other, at);
      g_seen.panel_not_black += on_panel && pixel != 0;
    }
  }
}

// SetSysColors holds for every program of the wineserver: the test program's tests run alone
// (a lock shared with the other programs that draw) and the colours are put back.
TEST(Accessibility, InHighContrastNoWhitePanelRemainsAndTheTextsAreReadable) {
  const int indexes[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
  const COLORREF before[] = {::GetSysColor(COLOR_WINDOW), ::GetSysColor(COLOR_WINDOWTEXT)};
  test::LanguageScope scope(kLanguageEnglish);
  SetHighContrastForTesting(1);
  g_with_dialog = DrawInBlack;
  RunDialog(RunWithDialog);
  SetHighContrastForTesting(-1);
  ::SetSysColors(2, indexes, before);

  EXPECT_EQ(g_seen.panel_not_black, 0);
  EXPECT_GT(g_seen.status_bright, 20);
  EXPECT_GT(g_seen.status_black, g_seen.status_size / 2);
  EXPECT_GT(g_seen.line_bright, 20);
}

}  // namespace
