#include "app/transparent_static.h"

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
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}

BOOL CTransparentStatic2::OnEraseBkgnd(HDC dc) noexcept {
  if (!m_background) {
    CaptureBackground();  // the first erase only captures
    return TRUE;
  }
  RECT client;
  ::GetClientRect(hwnd(), &client);
  HDC memory = ::CreateCompatibleDC(dc);
  HGDIOBJ previous = ::SelectObject(memory, m_background.get());
  ::BitBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, previous);
  ::DeleteDC(memory);
  return TRUE;
}

void CTransparentStatic2::CaptureBackground() noexcept {
  HWND parent = ::GetParent(hwnd());
  RECT rect;
  ::GetWindowRect(hwnd(), &rect);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;

  HDC parent_dc = ::GetDC(parent);
  if (parent_dc == nullptr) return;  // tried again at the next erase
  HDC memory = ::CreateCompatibleDC(parent_dc);
  m_background.reset(::CreateCompatibleBitmap(parent_dc, width, height));
  if (m_background) {
    HGDIOBJ previous = ::SelectObject(memory, m_background.get());
    ::BitBlt(memory, 0, 0, width, height, parent_dc, rect.left, rect.top, SRCCOPY);
    ::SelectObject(memory, previous);
  }
  ::ReleaseDC(parent, parent_dc);
  ::DeleteDC(memory);
}
