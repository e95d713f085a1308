// An existing control whose messages an object sees first. Attached on the control's own
// thread; what the object does not handle goes to the control's own procedure.
#pragma once

#include <windows.h>

#include "win/window.h"

namespace win {

// The message a dialog sends back to a child control for a WM_CTLCOLOR* that the child
// itself should answer ("reflection"): kReflectBase + the original message.
constexpr UINT kReflectBase = WM_USER + 0x1C00;

class SubclassedWindow : public Window {
 public:
  SubclassedWindow() noexcept = default;
  ~SubclassedWindow() override { Detach(); }

  // Binds this object to `hwnd`. False when the window cannot be subclassed.
  bool Attach(HWND hwnd) noexcept;
  void Detach() noexcept;

 protected:
  // Answers true when the message was handled; `result` is then the window's answer.
  virtual bool HandleMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) noexcept = 0;
  // The control's own handling of a message.
  LRESULT DefaultProc(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR data);
};

}  // namespace win
