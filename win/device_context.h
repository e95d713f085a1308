// Owners of device contexts and of what is selected into one, so that every path gives back
// what it took: a memory context is deleted, a window's is released to its window, and a
// selected object makes way for the one it replaced.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace win {

inline void DeleteMemoryDc(HDC dc) noexcept { ::DeleteDC(dc); }
// A memory device context (CreateCompatibleDC).
using UniqueMemoryDc = UniqueHandle<HandleTraits<HDC, nullptr, DeleteMemoryDc>>;

// A window's device context (GetDC; null for the screen's), released when the scope ends.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  [[nodiscard]] HDC get() const noexcept { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// `object` selected into `dc` while the scope lives; the object it replaced is selected again
// when the scope ends. Nothing is selected when either is null.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), previous_(dc != nullptr && object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (valid()) ::SelectObject(dc_, previous_);
  }
  [[nodiscard]] bool valid() const noexcept { return previous_ != nullptr && previous_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace win
