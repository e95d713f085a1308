#include "win/clock.h"

#include <atomic>

namespace win {
namespace {

void PlatformSleep(DWORD milliseconds) { ::Sleep(milliseconds); }
std::atomic<SleepFunction> g_sleep{PlatformSleep};

}  // namespace

void SleepFor(DWORD milliseconds) noexcept { g_sleep.load()(milliseconds); }

bool SleepUnless(DWORD milliseconds, bool (*stop)()) noexcept {
  if (stop == nullptr) {
    SleepFor(milliseconds);
    return false;
  }
  constexpr DWORD kStep = 50;
  for (DWORD waited = 0; waited < milliseconds; waited += kStep) {
    if (stop()) return true;
    SleepFor(milliseconds - waited < kStep ? milliseconds - waited : kStep);
  }
  return stop();
}

SleepFunction SetSleepForTesting(SleepFunction sleep) noexcept {
  return g_sleep.exchange(sleep != nullptr ? sleep : PlatformSleep);
}

}  // namespace win
