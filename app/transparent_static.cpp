#include "app/transparent_static.h"

#include "win/device_context.h"

bool CTransparentStatic2::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) noexcept {
  switch (message) {
    case WM_SETTEXT:
      *result = OnSetText(wparam, lparam);
      return true;
    case win::kReflectBase + WM_CTLCOLORSTATIC:
      *result = reinterpret_cast<LRESULT>(CtlColor(reinterpret_cast<HDC>(wparam)));
      return true;
    case WM_ERASEBKGND:
      *result = OnEraseBkgnd(reinterpret_cast<HDC>(wparam));
      return true;
    case WM_SIZE:
      // A copy of the old size would leave the new part unerased.
      m_background.reset();
      return false;
    default:
      return false;
  }
}

LRESULT CTransparentStatic2::OnSetText(WPARAM wparam, LPARAM lparam) noexcept {
  const LRESULT result = DefaultProc(WM_SETTEXT, wparam, lparam);
  if (announce_) announcer_.TextSet(hwnd(), reinterpret_cast<const wchar_t*>(lparam));
  // Erased and repainted before the caller's SetWindowTextW returns.
  ::InvalidateRect(hwnd(), nullptr, TRUE);
  ::UpdateWindow(hwnd());
  return result;
}

void CTransparentStatic2::RetakeBackground() noexcept {
  m_background.reset();
  ::InvalidateRect(hwnd(), nullptr, TRUE);
}

HBRUSH CTransparentStatic2::CtlColor(HDC dc) noexcept {
  ::SetBkMode(dc, TRANSPARENT);
  // In high contrast the parent's background is the window colour; the text takes its pair.
  if (HighContrastOn()) ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

BOOL CTransparentStatic2::OnEraseBkgnd(HDC dc) noexcept {
  if (!m_background) {
    CaptureBackground();  // the first erase only captures
    return TRUE;
  }
  RECT client;
  ::GetClientRect(hwnd(), &client);
  const win::UniqueMemoryDc memory(::CreateCompatibleDC(dc));
  const win::SelectedObject background(memory.get(), m_background.get());
  if (background.valid()) {
    ::BitBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, memory.get(), 0, 0, SRCCOPY);
  }
  return TRUE;
}

void CTransparentStatic2::CaptureBackground() noexcept {
  HWND parent = ::GetParent(hwnd());
  RECT rect;
  ::GetWindowRect(hwnd(), &rect);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;

  const win::WindowDc parent_dc(parent);
  if (parent_dc.get() == nullptr) return;  // tried again at the next erase
  const win::UniqueMemoryDc memory(::CreateCompatibleDC(parent_dc.get()));
  m_background.reset(::CreateCompatibleBitmap(parent_dc.get(), width, height));
  const win::SelectedObject background(memory.get(), m_background.get());
  if (background.valid()) ::BitBlt(memory.get(), 0, 0, width, height, parent_dc.get(), rect.left, rect.top, SRCCOPY);
}
