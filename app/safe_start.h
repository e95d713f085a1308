// Where the program may run. Elevated, it must never take a DLL from a folder its user can
// write to (Downloads, as a rule). Where Windows cannot be told to search the system directory
// only (no SetDefaultDllDirectories: Vista, Windows 7 without its update), the program's own
// folder stays first in every search by name that a system DLL makes. There the installer runs
// again from a restart copy (existing/restart_copy.h), whose folder only Administrators and
// SYSTEM may change, and ends with that run's exit code; the copy goes on where it is.
#pragma once

#include <windows.h>

// What becomes of this start.
struct SafeStart {
  bool go_on = true;     // run here
  DWORD exit_code = 0;   // else end at once with this code
};

// Decides, before anything may load a DLL by name: `search_restricted` is what
// win::RestrictDllSearchToSystem answered. Where the search is not restricted and this
// program is no restart copy: makes one, runs it with this program's command line and waits
// for it. When no copy can be made or started, shows message 44 and ends with kExitOldWindows.
[[nodiscard]] SafeStart StartWhereDllSearchIsSafe(bool search_restricted) noexcept;

// Starts `program` with `command_line`, in `directory`, and waits for it to end. False when it
// could not be started or its end not learned; else true with its exit code.
using ProgramRun = bool (*)(const wchar_t* program, const wchar_t* command_line, const wchar_t* directory,
                            DWORD* exit_code);
// Replaces the start of the copy, for tests that record it. Null restores CreateProcessW.
// Returns the previous function.
ProgramRun SetProgramRunForTesting(ProgramRun run) noexcept;
