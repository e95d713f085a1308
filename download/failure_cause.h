// Why a download attempt failed, as far as the user can do something about it, and which cause
// is told when the connection modes failed differently. Plain C++: also built natively.
#pragma once

#include <cstddef>
#include <cstdint>

// The numbers are never reused. A new cause is a value here and a row in kCauses (its name
// and how it decides), then its row in the installer's table of ends.
enum class FailureCause : int32_t {
  kNone = 0,          // it did not fail
  kOther = 1,         // anything below does not say
  kNoConnection = 2,  // it ended before any HTTP status arrived
  kNotFound = 3,      // 404 or 410
  kProxyRefused = 4,  // a 407 remained after the answers allowed
  kSignInPage = 5,    // a web page, or something that is not a package, came instead of the package
  kDiskFull = 6,      // no room for the package and its setup, or a write found the disk full
};

// The cause in words, for the log.
[[nodiscard]] const wchar_t* FailureCauseName(FailureCause cause) noexcept;

// The cause told for a download whose modes failed with `causes` (`count` of them): the first
// cause, in the order the table gives, that decides; kOther when none does.
[[nodiscard]] FailureCause DecisiveCause(const FailureCause* causes, size_t count) noexcept;
