#include "app/zuno_online_setup_dlg.h"

#include <process.h>

#include <initializer_list>
#include <utility>

#include "app/banner.h"
#include "app/dialog_messages.h"
#include "app/exit_codes.h"
#include "app/installer_ends.h"
#include "app/messages.h"
#include "app/removal_offer.h"
#include "app/run_log.h"
#include "app/status_thread.h"
#include "existing/product_detection.h"
#include "win/application.h"
#include "win/clock.h"
#include "win/trace.h"
#include "workflow/startup_checks.h"
#include "workflow/worker_thread.h"


namespace {

uintptr_t PlatformStartThread(void* security, unsigned stack, unsigned(__stdcall* start)(void*), void* argument,
                              unsigned flags, unsigned* id) {
  return _beginthreadex(security, stack, start, argument, flags, id);
}
std::atomic<ThreadStarter> g_start_thread{PlatformStartThread};

constexpr DWORD kCloseWaitMs = 200;
// How long a worker has after a stop to remove its download and end; a worker held in a
// network call that long is not waited for.
constexpr UINT_PTR kStopDeadlineTimer = 1;
constexpr UINT kStopDeadlineMs = 1500;
// How long the end waits for the threads that have been told to end.
constexpr DWORD kThreadEndWaitMs = 3000;

// Waits until all `handles` are signalled or `timeout` has passed, handling meanwhile the
// messages that other threads send to this one (they wait for the answer), and only those.
bool WaitHandlingSentMessages(const HANDLE* handles, DWORD count, DWORD timeout) {
  const DWORD start = ::GetTickCount();
  for (DWORD done = 0; done < count;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeout) return false;
    const DWORD woke = ::MsgWaitForMultipleObjects(1, &handles[done], FALSE, timeout - elapsed, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) {
      ++done;
    } else if (woke == WAIT_OBJECT_0 + 1) {
      MSG message;
      ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    } else {
      return false;
    }
  }
  return true;
}
// The banner's frame in the template, in dialog units.
constexpr RECT kBannerFrame = {0, 0, 329, 36};

}  // namespace

void SetThreadStarterForTesting(ThreadStarter starter) {
  g_start_thread.store(starter ? starter : PlatformStartThread);
}

const win::MessageEntry<CZunoOnlineSetupDlg> CZunoOnlineSetupDlg::kMessageMap[15] = {
    {WM_PAINT, 0, 0, &CZunoOnlineSetupDlg::OnPaint},
    {WM_QUERYDRAGICON, 0, 0, &CZunoOnlineSetupDlg::OnQueryDragIcon},
    {WM_COMMAND, BN_CLICKED, IDC_CANCEL_BUTTON, &CZunoOnlineSetupDlg::OnCancelButton},
    {WM_SYSCOMMAND, 0, 0, &CZunoOnlineSetupDlg::OnSysCommand},
    {WM_ERASEBKGND, 0, 0, &CZunoOnlineSetupDlg::OnEraseBkgnd},
    // The dialog's own answer for its banner; the status line answers itself first.
    {WM_CTLCOLORSTATIC, 0, 0, &CZunoOnlineSetupDlg::OnCtlColorStatic},
    {kWorkerEndedMessage, 0, 0, &CZunoOnlineSetupDlg::OnWorkerEnded},
    {WM_TIMER, 0, 0, &CZunoOnlineSetupDlg::OnTimer},
    // What the dialog draws itself follows the screen's scale; the taskbar button, the download.
    {WM_DPICHANGED, 0, 0, &CZunoOnlineSetupDlg::OnDpiChanged},
    {kScaleChangedMessage, 0, 0, &CZunoOnlineSetupDlg::OnScaleChanged},
    {kTaskbarProgressMessage, 0, 0, &CZunoOnlineSetupDlg::OnTaskbarProgress},
    {kProgressLineMessage, 0, 0, &CZunoOnlineSetupDlg::OnProgressLine},
    {WM_SYSCOLORCHANGE, 0, 0, &CZunoOnlineSetupDlg::OnSysColorChange},
    {WM_THEMECHANGED, 0, 0, &CZunoOnlineSetupDlg::OnLookChanged},
    {WM_SETTINGCHANGE, 0, 0, &CZunoOnlineSetupDlg::OnLookChanged},
};

CZunoOnlineSetupDlg::CZunoOnlineSetupDlg(HWND parent) noexcept
    : DialogImpl(IDD_ZUNOONLINESETUP_DIALOG, parent),
      m_hIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_hSmallIcon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON),
                                                   LR_LOADTRANSPARENT | LR_SHARED))) {}

void CZunoOnlineSetupDlg::DoDataExchange() noexcept { m_status.Attach(GetDlgItem(IDC_STATUS_TEXT)); }

BOOL CZunoOnlineSetupDlg::ExitEarly(InstallResult result, bool told) {
  const DWORD exit_code = told ? ExitCodeOf(result) : TellStartEnd(result);
  if (win::Application* app = win::Application::Current()) app->SetExitCode(exit_code);
  EndDialog(IDCANCEL);
  return TRUE;
}

BOOL CZunoOnlineSetupDlg::OnInitDialog() noexcept {
  Dialog::OnInitDialog();

  int32_t language = kLanguageVietnamese;
  if (ReadUiLanguage(&language)) UiLanguage.store(language);
  DebugTrace(L"UiLanguage: %d", static_cast<int>(UiLanguage.load()));

  ::SetDlgItemTextW(hwnd(), IDC_STATUS_TEXT, L"");
  ::SetDlgItemTextW(hwnd(), IDC_CANCEL_BUTTON, GetMessageText(kMessageCancelLabel).c_str());
  ::SetWindowTextW(hwnd(), kInstallerTitle);

  if (!IsAdminGroupMember()) return ExitEarly(InstallResult::kNoAdminRights);
  if (GetFirstArgument().empty()) {
    const int removal = OfferPreviousVersionRemoval();
    if (removal != 0) return ExitEarly(RemovalResult(removal), /*told=*/true);
    const bool older = IsOlderGenerationInstalled();
    DebugTrace(L"Product check: an older generation of the product %s", older ? L"is installed" : L"was not found");
    if (older) return ExitEarly(InstallResult::kOlderGenerationInstalled);
  } else {
    DebugTrace(L"Product checks: skipped (an argument was given)");
  }
  if (!PathsResolve()) return ExitEarly(InstallResult::kCannotStart);

  ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
  PrepareDisplay();
  return StartThreads() ? TRUE : ExitEarly(InstallResult::kCannotStart);
}

bool CZunoOnlineSetupDlg::PathsResolve() noexcept {
  // The program's own path and the temporary directory must resolve; nothing keeps them.
  wchar_t module_path[win::kPathCapacity] = {};
  wchar_t long_module_path[win::kPathCapacity] = {};
  wchar_t temp_path[win::kPathCapacity] = {};
  wchar_t scratch[win::kPathCapacity] = {};
  const DWORD module_length = ::GetModuleFileNameW(nullptr, module_path, win::kPathCapacity);
  if (module_length == 0 || module_length >= win::kPathCapacity - 1) return false;
  wcscpy(scratch, module_path);
  if (::GetLongPathNameW(scratch, long_module_path, win::kPathCapacity - 1) == 0) return false;
  const DWORD temp_length = ::GetTempPathW(win::kPathCapacity, temp_path);
  return temp_length != 0 && temp_length < win::kPathCapacity - 1 &&
         ::GetLongPathNameW(temp_path, scratch, win::kPathCapacity - 1) != 0;
}

bool CZunoOnlineSetupDlg::StartThreads() noexcept {
  m_report.SetDialog(hwnd());
  const ThreadStarter start = g_start_thread.load();
  m_hStatusThread.reset(reinterpret_cast<HANDLE>(start(nullptr, 0, StatusThreadProc, this, 0, nullptr)));
  m_hWorkerThread.reset(reinterpret_cast<HANDLE>(start(nullptr, 0, WorkerThreadProc, &m_report, 0, nullptr)));
  if (m_hStatusThread && m_hWorkerThread) return true;
  // Without either thread the dialog would never move: the user is told and the dialog ends
  // (a worker that did start is stopped first, and removes what it made).
  if (m_hWorkerThread && TryStop()) {
    const HANDLE worker = m_hWorkerThread.get();
    WaitHandlingSentMessages(&worker, 1, kThreadEndWaitMs);
    MSG ended;  // the worker's own report of its stop
    ::PeekMessageW(&ended, hwnd(), kWorkerEndedMessage, kWorkerEndedMessage, PM_REMOVE);
  }
  StatusPause.Stop();
  return false;
}

bool CZunoOnlineSetupDlg::AskToStop(UINT icon) {
  int32_t running = kCancelRunning;
  if (!CancelState.compare_exchange_strong(running, kCancelAsking)) {
    // The worker has let the setup run (or reports a failure, or a stop is under way):
    // nothing to ask any more.
    if (running == kCancelPassed) {
      win::ShowMessageBox(hwnd(), GetMessageText(kMessageSetupStarting).c_str(), kInstallerTitle, MB_OK | MB_ICONINFORMATION);
    }
    return false;
  }
  if (win::ShowMessageBox(hwnd(), GetMessageText(kMessageStopQuestion).c_str(), kInstallerTitle, MB_YESNO | icon) == IDYES) return true;
  // Back to running, unless a stop from elsewhere won meanwhile.
  int32_t asking = kCancelAsking;
  CancelState.compare_exchange_strong(asking, kCancelRunning);
  return false;
}

INT_PTR CZunoOnlineSetupDlg::OnCancelButton(WPARAM, LPARAM) {
  if (AskToStop(MB_ICONINFORMATION)) Stop();
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnSysCommand(WPARAM command, LPARAM) {
  if (command != SC_CLOSE) return FALSE;  // default processing
  if (AskToStop(MB_ICONQUESTION)) {
    win::SleepFor(kCloseWaitMs);
    Stop();
  }
  return TRUE;
}

void CZunoOnlineSetupDlg::Stop() {
  if (stopping_ || !TryStop()) return;
  stopping_ = true;
  // A stop from elsewhere (a close from outside) while the question is open: nobody need
  // answer it any more.
  HWND question = ::GetLastActivePopup(hwnd());
  if (question != hwnd()) ::EndDialog(question, IDNO);
  ::ShowWindow(hwnd(), SW_HIDE);
  if (!m_hWorkerThread) {
    EndWithThreads(ExitCodeOf(InstallResult::kStoppedByUser));
    return;
  }
  // The worker sees the stop between two chunks or waits, removes its download and reports
  // its end (OnWorkerEnded); the timer is the last resort.
  ::SetTimer(hwnd(), kStopDeadlineTimer, kStopDeadlineMs, nullptr);
}

INT_PTR CZunoOnlineSetupDlg::OnWorkerEnded(WPARAM exit_code, LPARAM) {
  ::KillTimer(hwnd(), kStopDeadlineTimer);
  EndWithThreads(static_cast<DWORD>(exit_code));
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnTimer(WPARAM timer, LPARAM) {
  if (timer != kStopDeadlineTimer) return FALSE;
  // The worker is held in a network call: its download goes (at the next restart where a
  // file is still open), and the process ends here, under it, without running anything of
  // the program's own that it could be using.
  if (!AbandonDownload()) return TRUE;  // the worker's own report is on its way
  ::KillTimer(hwnd(), kStopDeadlineTimer);
  DebugTrace(L"zerbo -6: the worker did not end");
  EndRunLog(ExitCodeOf(InstallResult::kStoppedByUser));
  ::TerminateProcess(::GetCurrentProcess(), kExitStoppedByUser);
  return TRUE;
}

void CZunoOnlineSetupDlg::EndWithThreads(DWORD exit_code) {
  StatusPause.Stop();
  HANDLE threads[2];
  DWORD count = 0;
  for (HANDLE thread : {m_hWorkerThread.get(), m_hStatusThread.get()}) {
    if (thread != nullptr) threads[count++] = thread;
  }
  if (!WaitHandlingSentMessages(threads, count, kThreadEndWaitMs)) {
    EndRunLog(exit_code);
    ::TerminateProcess(::GetCurrentProcess(), exit_code);
  }
  if (win::Application* app = win::Application::Current()) app->SetExitCode(exit_code);
  EndDialog(0);
}

INT_PTR CZunoOnlineSetupDlg::OnPaint(WPARAM, LPARAM) {
  if (!::IsIconic(hwnd())) return FALSE;  // ordinary dialog painting
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(hwnd(), &paint);
  ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int icon_width = ::GetSystemMetrics(SM_CXICON);
  const int icon_height = ::GetSystemMetrics(SM_CYICON);
  RECT client;
  ::GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - icon_width + 1) / 2;
  const int y = (client.bottom - client.top - icon_height + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(hwnd(), &paint);
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnQueryDragIcon(WPARAM, LPARAM) {
  // One of the messages whose answer a dialog procedure returns itself.
  return reinterpret_cast<INT_PTR>(m_hIcon);
}

namespace {

// The panel's brush: white, or in high contrast the window colour the user chose.
HBRUSH PanelBrush() {
  return HighContrastOn() ? ::GetSysColorBrush(COLOR_WINDOW) : static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

}  // namespace

INT_PTR CZunoOnlineSetupDlg::OnEraseBkgnd(WPARAM dc, LPARAM) {
  RECT client;
  ::GetClientRect(hwnd(), &client);
  ::FillRect(reinterpret_cast<HDC>(dc), &client, PanelBrush());
  ::SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, TRUE);
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnCtlColorStatic(WPARAM dc, LPARAM) {
  // The status line has chosen its own drawing already (the dialog layer asks it first);
  // everything else is drawn on the panel's colour (the progress line in its text colour).
  if (HighContrastOn()) {
    ::SetTextColor(reinterpret_cast<HDC>(dc), ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(reinterpret_cast<HDC>(dc), ::GetSysColor(COLOR_WINDOW));
  } else {
    ::SetBkColor(reinterpret_cast<HDC>(dc), RGB(255, 255, 255));
  }
  return reinterpret_cast<INT_PTR>(PanelBrush());
}

bool CZunoOnlineSetupDlg::ProcessMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) noexcept {
  if (message != 0 && message == m_taskbar.CreatedMessage()) {
    m_taskbar.Connect();
    *result = 0;
    return true;
  }
  return DialogImpl::ProcessMessage(message, wparam, lparam, result);
}

void CZunoOnlineSetupDlg::PrepareDisplay() noexcept {
  m_taskbar.Prepare(hwnd());
  DrawBannerForScale();
  m_annotations.Annotate(hwnd());
  m_status.AnnounceChanges();
}

void CZunoOnlineSetupDlg::DrawBannerForScale() noexcept {
  HWND banner = FindBannerControl(hwnd());
  RECT frame = kBannerFrame;
  if (banner == nullptr || !::MapDialogRect(hwnd(), &frame)) return;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  win::UniqueGdiObject picture = DrawBanner(::GetModuleHandleW(nullptr), width, height);
  if (!picture) return;  // the template's picture stays
  ::SendMessageW(banner, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
  // The control takes its picture's size; the frame is where the template put it.
  ::SetWindowPos(banner, nullptr, frame.left, frame.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  // The control shows the new picture now: the last one drawn here may go. (The template's
  // own picture is the control's.)
  m_banner = std::move(picture);
}

INT_PTR CZunoOnlineSetupDlg::OnDpiChanged(WPARAM, LPARAM) {
  // The dialog manager lays the dialog out for the new scale (fonts, sizes, positions) in its
  // default handling, which runs after this returns; the dialog's own drawing follows then.
  ::PostMessageW(hwnd(), kScaleChangedMessage, 0, 0);
  return FALSE;
}

INT_PTR CZunoOnlineSetupDlg::OnScaleChanged(WPARAM, LPARAM) {
  DrawBannerForScale();
  m_status.RetakeBackground();
  // The dialog first, then its controls: the status line takes its background from the new look.
  ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnTaskbarProgress(WPARAM state, LPARAM done) {
  m_taskbar.Show(state, done);
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnProgressLine(WPARAM, LPARAM) {
  m_annotations.DescribeProgress(hwnd());
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnSysColorChange(WPARAM wparam, LPARAM lparam) {
  // A common control follows the new colours only when its parent passes the change on.
  ::SendMessageW(::GetDlgItem(hwnd(), IDC_PROGRESS), WM_SYSCOLORCHANGE, wparam, lparam);
  return OnLookChanged(wparam, lparam);
}

INT_PTR CZunoOnlineSetupDlg::OnLookChanged(WPARAM, LPARAM) {
  // The panel and its texts again in the colours of now; the status line takes its background
  // from the panel so redrawn.
  m_status.RetakeBackground();
  ::RedrawWindow(hwnd(), nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  return FALSE;  // the dialog's default handling too
}
