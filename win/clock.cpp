#include "win/clock.h"

#include <atomic>

namespace win {
namespace {

void PlatformSleep(DWORD milliseconds) { ::Sleep(milliseconds); }
DWORD PlatformTickCount() { return ::GetTickCount(); }

const Clock kPlatformClock = {PlatformSleep, PlatformTickCount};
std::atomic<const Clock*> g_clock{&kPlatformClock};

}  // namespace

void SleepFor(DWORD milliseconds) noexcept { g_clock.load()->sleep(milliseconds); }

DWORD TickCount() noexcept { return g_clock.load()->tick_count(); }

const Clock* SetClockForTesting(const Clock* clock) noexcept {
  return g_clock.exchange(clock != nullptr ? clock : &kPlatformClock);
}

}  // namespace win
