// The installer's own copy that the restart entry starts.
//
// The running installer lies where its user put it (the Downloads folder, as a rule), where
// any of the user's programs may replace it once it has ended; a machine-wide autostart entry
// must never name such a file. The restart entry names a copy in a folder of its own, made as
// the download directory is (protected, checked, a name no one can guess), under a folder of
// the program files, where no user may make anything even if a cleaner removed the copy's
// folder before the logon. The copy has itself removed at the restart after its run.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"
#include "win/wide_string.h"

// A copy made by MakeRestartCopy: its path (empty when there is none) and the copy itself,
// held sharing only reading until the caller has registered or started it.
struct RestartCopy {
  WideString path;
  win::UniqueFile file;
};

// Copies the running program into a fresh protected folder. The bytes come from the very file
// the program was started from (the file at its path is checked to be the one mapped as its
// image), never from what the path may name by now. Where that file lies on a remote volume,
// its pages may be read again from the server, which can answer other bytes than those that
// ran: there the copy, as written and held, must also pass the content check
// (SetRestartCopyCheck). A copy that fails any of this is removed again, and none is returned.
[[nodiscard]] RestartCopy MakeRestartCopy() noexcept;

// Whether the copy held by `file` (at `path`) is the maker's program, by its content.
using RestartCopyCheck = bool (*)(HANDLE file, const wchar_t* path);
// Sets the content check of copies made from a remote volume. Without one, such copies are
// refused.
void SetRestartCopyCheck(RestartCopyCheck check) noexcept;

// Whether the volume of the file held by `file` is a remote one (a share, a redirected drive).
using RemoteVolumeTest = bool (*)(HANDLE file);
// Replaces the volume test, for tests that make a local file count as remote. Null restores
// the platform's. Returns the previous test.
RemoteVolumeTest SetRemoteVolumeTestForTesting(RemoteVolumeTest test) noexcept;

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
