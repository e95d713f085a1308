#include "win/clock.h"

#include <atomic>

namespace win {
namespace {

void PlatformSleep(DWORD milliseconds) { ::Sleep(milliseconds); }
std::atomic<SleepFunction> g_sleep{PlatformSleep};

}  // namespace

void SleepFor(DWORD milliseconds) noexcept { g_sleep.load()(milliseconds); }

SleepFunction SetSleepForTesting(SleepFunction sleep) noexcept {
  return g_sleep.exchange(sleep != nullptr ? sleep : PlatformSleep);
}

}  // namespace win
