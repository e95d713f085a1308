// A window reference. Owns nothing: the platform destroys the window.
#pragma once

#include <windows.h>

#include <atomic>

namespace win {

class Window {
 public:
  Window() noexcept = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window() = default;

  // Null until the window exists. Other threads read it through the main-window reference.
  [[nodiscard]] HWND hwnd() const noexcept { return hwnd_.load(std::memory_order_acquire); }
  [[nodiscard]] HWND GetDlgItem(int id) const noexcept { return ::GetDlgItem(hwnd(), id); }

 protected:
  void set_hwnd(HWND hwnd) noexcept { hwnd_.store(hwnd, std::memory_order_release); }

 private:
  std::atomic<HWND> hwnd_{nullptr};
};

}  // namespace win
