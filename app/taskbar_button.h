// The dialog's taskbar button shows the download's progress where the shell offers it
// (ITaskbarList3, Windows 7 on). Where it does not, every call here does nothing.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "win/unique_handle.h"

class TaskbarButton {
 public:
  TaskbarButton() noexcept = default;
  TaskbarButton(const TaskbarButton&) = delete;
  TaskbarButton& operator=(const TaskbarButton&) = delete;
  ~TaskbarButton();

  // Before the window shows: lets the shell's "TaskbarButtonCreated" message through to
  // `window`, which an elevated process otherwise never receives from the shell.
  void Prepare(HWND window) noexcept;
  // The message the shell sends once the button exists (0 before Prepare).
  [[nodiscard]] UINT CreatedMessage() const noexcept { return created_message_; }
  // The button exists: takes the shell's progress interface, when there is one. On the
  // window's thread.
  void Connect() noexcept;
  // A TaskbarState (status_thread.h) and the part done in thousandths. On the window's thread.
  void Show(WPARAM state, LPARAM done) noexcept;

 private:
  static void Release(ITaskbarList3* list) noexcept { list->Release(); }
  using UniqueTaskbarList = win::UniqueHandle<win::HandleTraits<ITaskbarList3*, nullptr, Release>>;

  HWND window_ = nullptr;
  UINT created_message_ = 0;
  bool com_started_ = false;
  WPARAM state_ = 0;
  LPARAM done_ = 0;
  UniqueTaskbarList list_;  // released before COM ends
};
