// The installer's own copy that the restart entry starts.
//
// The running installer lies where its user put it (the Downloads folder, as a rule), where
// any of the user's programs may replace it once it has ended; a machine-wide autostart entry
// must never name such a file. The restart entry names a copy in a folder of its own, made as
// the download directory is (protected, checked, a name no one can guess), under a folder of
// the program files, where no user may make anything even if a cleaner removed the copy's
// folder before the logon. The copy has itself removed at the restart after its run.
#pragma once

#include "win/wide_string.h"

// Copies the running program into a fresh protected folder and returns the copy's path; empty
// when that cannot be done. The bytes come from the very file the program was started from
// (the file at its path is checked to be the one mapped as its image), never from what the
// path may name by now.
[[nodiscard]] WideString MakeRestartCopy() noexcept;

// The folder the copies' folders lie in: "ZunoOnlineSetup" in the program files folder.
[[nodiscard]] WideString RestartCopyRoot() noexcept;

// True when `path` (a program's full path) lies in a restart copy's folder: a folder of
// RestartCopyRoot named as the copies' folders are.
[[nodiscard]] bool IsRestartCopyPath(const wchar_t* path) noexcept;

// Deletes the restart copy `copy` and its folder, now or, what is in use, at the next restart.
// Nothing for a path that is no restart copy's (IsRestartCopyPath).
void RemoveRestartCopy(const wchar_t* copy) noexcept;

// When this program is a restart copy, has it, its folder and the root (when empty by then)
// deleted at the next restart.
void RemoveRestartCopyAtRestart() noexcept;
