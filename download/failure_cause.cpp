#include "download/failure_cause.h"

namespace {

// When a cause is the one told.
enum class Decides {
  kInAnyMode,        // one mode that ended so is enough
  kUnlessContradicted,  // every mode ended so, or had no connection at all (which says nothing)
  kNever,
};

struct CauseRow {
  FailureCause cause;
  const wchar_t* name;
  Decides decides;
};

// In the order in which they are told.
constexpr CauseRow kCauses[] = {
    // No other mode would find more room.
    {FailureCause::kDiskFull, L"not enough disk space", Decides::kInAnyMode},
    // The network itself stands between the user and the server, whichever way was tried.
    {FailureCause::kSignInPage, L"a web page instead of the package", Decides::kInAnyMode},
    {FailureCause::kProxyRefused, L"the proxy refused the sign-in", Decides::kInAnyMode},
    {FailureCause::kNoConnection, L"no connection", Decides::kUnlessContradicted},
    {FailureCause::kNotFound, L"not on the server", Decides::kUnlessContradicted},
    {FailureCause::kOther, L"other", Decides::kNever},
    {FailureCause::kNone, L"none", Decides::kNever},
};

bool DecidesFor(const CauseRow& row, const FailureCause* causes, size_t count) {
  bool seen = false;
  for (size_t i = 0; i < count; ++i) {
    if (causes[i] == row.cause) {
      seen = true;
    } else if (row.decides == Decides::kUnlessContradicted && causes[i] != FailureCause::kNoConnection) {
      return false;
    }
  }
  return seen && row.decides != Decides::kNever;
}

}  // namespace

const wchar_t* FailureCauseName(FailureCause cause) noexcept {
  for (const CauseRow& row : kCauses) {
    if (row.cause == cause) return row.name;
  }
  return L"other";
}

FailureCause DecisiveCause(const FailureCause* causes, size_t count) noexcept {
  for (const CauseRow& row : kCauses) {
    if (DecidesFor(row, causes, count)) return row.cause;
  }
  return FailureCause::kOther;
}
