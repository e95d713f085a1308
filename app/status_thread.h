// The status thread: every 500 ms it shows what the download engine is doing on the status
// line, as a mode prefix, the stage's text and running dots.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/wide_string.h"

// Stops and restarts the status thread's writes to the status line. A cooperative pause:
// the status thread is never stopped from outside, so it can never be caught holding a lock
// (the heap's, say) that the pausing thread needs.
class StatusLinePause {
 public:
  // Returns once the status thread writes nothing more until Resume: a write under way has
  // finished, so the caller's own text is the last on the line.
  void Pause() noexcept;
  void Resume() noexcept;
  // Pauses for good and tells the status thread to end.
  void Stop() noexcept;
  [[nodiscard]] bool Stopped() noexcept;
  // Runs the status thread's write unless the line is paused.
  template <typename Write>
  void WriteUnlessPaused(Write write) noexcept {
    ::AcquireSRWLockExclusive(&lock_);
    if (!paused_) write();
    ::ReleaseSRWLockExclusive(&lock_);
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  bool paused_ = false;   // guarded by lock_
  bool stopped_ = false;  // guarded by lock_
};

extern StatusLinePause StatusPause;

// The line for one tick: the prefix of `mode`, the text of `stage`, and `dots` (1 to 3) dots.
[[nodiscard]] WideString StatusLineText(int32_t mode, int32_t stage, int32_t dots);

// How the dialog's taskbar button shows the download (kTaskbarProgressMessage).
enum TaskbarState : WPARAM { kTaskbarNone = 0, kTaskbarNormal = 1, kTaskbarWaiting = 2, kTaskbarFailed = 3 };
constexpr LPARAM kTaskbarWhole = 1000;

// The installation failed: the taskbar button turns to its error state. Any thread.
void ShowFailureOnTaskbar(HWND dialog) noexcept;

// The thread's entry; the argument (the dialog) is not used. It returns once StatusPause
// has been stopped.
unsigned __stdcall StatusThreadProc(void* parameter);
