#include "win/dialog.h"

#include <atomic>

#include "win/application.h"
#include "win/subclassed_window.h"

namespace win {
namespace {
// Null for the platform's (an imported function's address is not a constant).
std::atomic<DialogRun> g_dialog_run{nullptr};
}  // namespace

DialogRun SetDialogRunForTesting(DialogRun run) noexcept {
  const DialogRun previous = g_dialog_run.exchange(run);
  return previous != nullptr ? previous : ::DialogBoxParamW;
}

INT_PTR Dialog::DoModal() noexcept {
  const Application* app = Application::Current();
  HINSTANCE instance = app != nullptr ? app->Instance() : ::GetModuleHandleW(nullptr);
  const DialogRun run = g_dialog_run.load();
  return (run != nullptr ? run : ::DialogBoxParamW)(instance, MAKEINTRESOURCEW(template_id_), parent_, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void Dialog::EndDialog(INT_PTR result) noexcept { ::EndDialog(hwnd(), result); }

BOOL Dialog::OnInitDialog() noexcept {
  DoDataExchange();
  return TRUE;
}

void CenterWindow(HWND hwnd) {
  RECT area = {};
  HWND owner = ::GetWindow(hwnd, GW_OWNER);
  if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
    ::GetWindowRect(owner, &area);
  } else {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    area = monitor.rcWork;
  }
  RECT window = {};
  ::GetWindowRect(hwnd, &window);
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lparam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
    self->set_hwnd(hwnd);
    RECT before = {};
    ::GetWindowRect(hwnd, &before);
    const INT_PTR result = self->OnInitDialog();
    // A top-level dialog that its initialisation did not place opens centred on its owner,
    // or on the work area when it has none (the template's own position is its top left).
    RECT after = {};
    if (::IsWindow(hwnd) && ::GetWindowRect(hwnd, &after) && ::EqualRect(&before, &after) &&
        (::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) == 0) {
      CenterWindow(hwnd);
    }
    return result;
  }
  // Messages before WM_INITDIALOG (WM_SETFONT and the like) find no object yet.
  auto* self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;

  // Control colours go to the control first: one that answers chooses its own, and the
  // dialog's own handler sees only the others.
  if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN || message == WM_CTLCOLOREDIT) {
    const LRESULT brush = ::SendMessageW(reinterpret_cast<HWND>(lparam), kReflectBase + message, wparam, lparam);
    if (brush != 0) return static_cast<INT_PTR>(brush);
  }

  INT_PTR result = FALSE;
  if (self->ProcessMessage(message, wparam, lparam, &result)) return result;

  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED || lparam == 0) {
        if (LOWORD(wparam) == IDOK) {
          self->OnOK();
          return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
          self->OnCancel();
          return TRUE;
        }
      }
      break;
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
      self->set_hwnd(nullptr);
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace win
