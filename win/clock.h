// The program's waits and its clock. Every pause of the product goes through here, so that
// tests can run the same paths without waiting them out.
#pragma once

#include <windows.h>

namespace win {

struct Clock {
  void (*sleep)(DWORD milliseconds);
  DWORD (*tick_count)();
};

// Waits `milliseconds` on the current clock.
void SleepFor(DWORD milliseconds) noexcept;
// Milliseconds since some fixed moment on the current clock; wraps like GetTickCount.
[[nodiscard]] DWORD TickCount() noexcept;

// Replaces the clock; null restores the platform's. Returns the previous one.
const Clock* SetClockForTesting(const Clock* clock) noexcept;

}  // namespace win
