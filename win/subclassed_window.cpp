#include "win/subclassed_window.h"

#include <commctrl.h>

namespace win {

namespace {
constexpr UINT_PTR kSubclassId = 0x5A55;
}

bool SubclassedWindow::Attach(HWND hwnd) noexcept {
  if (hwnd == nullptr || !::SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  set_hwnd(hwnd);
  return true;
}

void SubclassedWindow::Detach() noexcept {
  if (HWND window = hwnd()) {
    ::RemoveWindowSubclass(window, SubclassProc, kSubclassId);
    set_hwnd(nullptr);
  }
}

LRESULT SubclassedWindow::DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  return ::DefSubclassProc(hwnd(), message, wparam, lparam);
}

LRESULT CALLBACK SubclassedWindow::SubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                                UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<SubclassedWindow*>(data);
  if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(hwnd, SubclassProc, kSubclassId);
    self->set_hwnd(nullptr);
    return ::DefSubclassProc(hwnd, message, wparam, lparam);
  }
  LRESULT result = 0;
  if (self->HandleMessage(message, wparam, lparam, &result)) return result;
  return ::DefSubclassProc(hwnd, message, wparam, lparam);
}

}  // namespace win
