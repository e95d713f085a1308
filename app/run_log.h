// The run's log, for the user to send to support: one UTF-8 file per run in a folder under
// %ProgramData% that everyone may read and only Administrators and SYSTEM may change. It
// holds the installer's version, the system, and every trace line with a time stamp.
#pragma once

#include <windows.h>

#include "win/wide_string.h"

// The log folder's name under %ProgramData%, and how many runs' logs it keeps (this one's
// included).
constexpr wchar_t kLogFolderName[] = L"ZunoSetupLogs";
constexpr int kLogsKept = 10;
// The one log kept of runs that count for nothing (a second copy's refusal): the last such.
constexpr wchar_t kUncountedLogName[] = L"ZunoSetupRefused.log";

// Starts this run's log in `folder` (null: %ProgramData%\ZunoSetupLogs). A folder of that name
// that is not a protected one (MoveAsideUnlessProtected) is first renamed aside (the log says
// where). The folder is made, or taken when it is there, as the download directory is (in one step, with its security,
// refused when it or a folder on the way to it is a reparse point, or when it is owned by
// anyone but Administrators or SYSTEM) and held until EndRunLog; the file is always a new
// one; all but the newest kLogsKept logs go when the log ends. From then on every trace line is written to it
// with a time stamp. False, and no log, when any of that fails: the run goes on without one.
[[nodiscard]] bool StartRunLog(const wchar_t* folder = nullptr) noexcept;

// The log's full path; empty when the run keeps none.
[[nodiscard]] const wchar_t* RunLogPath() noexcept;

// What a failure's box says: `message` (traced as "sMessage"), then where the run's log is,
// when the run keeps one.
[[nodiscard]] WideString FailureBoxText(const wchar_t* message);

// The words the log's last line says of the run's end (a constant string): "Result: <words>
// (exit code N)". The last call before EndRunLog counts.
void SetRunResult(const wchar_t* words) noexcept;

// This run's log does not count among the kLogsKept: when it ends it takes the place of the
// last such log (kUncountedLogName), and no other log goes.
void SetRunLogUncounted() noexcept;

// Writes the process's exit code and the result in words, closes the log, and removes the
// oldest logs beyond kLogsKept (a counted run only).
void EndRunLog(DWORD exit_code) noexcept;
