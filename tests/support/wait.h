// Bounded waits for the tests: a fault makes a test fail, never hang the suite.
#pragma once

#include <windows.h>

namespace test {

// Polls `done` every millisecond or so until it answers true (then true) or `timeout_ms`
// has passed (then false).
template <typename Predicate>
bool WaitUntil(Predicate done, DWORD timeout_ms = 10000) {
  const DWORD start = ::GetTickCount();
  while (!done()) {
    if (::GetTickCount() - start > timeout_ms) return false;
    ::Sleep(1);
  }
  return true;
}

}  // namespace test
