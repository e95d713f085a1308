// The program's waits. Every pause of the product goes through here, so that tests can run
// the same paths without waiting them out.
#pragma once

#include <windows.h>

namespace win {

using SleepFunction = void (*)(DWORD milliseconds);

// Waits `milliseconds` through the current sleep function (Sleep unless a test replaced it).
void SleepFor(DWORD milliseconds) noexcept;

// Waits `milliseconds` through SleepFor in short steps, asking `stop` between them; answers
// true, without waiting the rest, once `stop` answers true. A null `stop` waits in one step
// and answers false.
bool SleepUnless(DWORD milliseconds, bool (*stop)()) noexcept;

// Replaces the sleep function; null restores Sleep. Returns the previous one.
SleepFunction SetSleepForTesting(SleepFunction sleep) noexcept;

}  // namespace win
