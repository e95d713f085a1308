// The environment of the programs the installer starts.
//
// The installer runs elevated, but its environment is the user's: HKCU\Environment and
// "Volatile Environment", which any of the user's programs may change, can say where Windows
// is (windir, SystemRoot, ComSpec, ProgramFiles...), where temporary files go, which proxy to
// use, and name code for a process to load, in more ways than any list could name. So what
// the installer starts gets an allow-list: the machine's own variables with the machine's
// values, and of the user's only those that name the user and the user's folders
// (kVariableRules in environment.cpp); none that loads code, from either.
#pragma once

#include <windows.h>

#include <cstddef>

#include "win/unique_handle.h"

// One variable given its own value.
struct EnvironmentValue {
  const wchar_t* name;
  const wchar_t* value;
};

// A new environment block, sorted by name, for CreateProcessW with CREATE_UNICODE_ENVIRONMENT
// (LocalFree). From `own` (a block as GetEnvironmentStringsW gives it) and `machine` (the
// machine's variables as Windows sets them for a program without a user's settings): every
// variable of `machine` but those that name the user or load code; of `own`, only those that
// name the user and the user's folders; and `replaced` in place of any of the same name.
// Nothing else: not the current folders of the drives ("=C:"), not any other variable of the
// user's own. Null when memory fails.
[[nodiscard]] win::UniqueLocalMemory BuildEnvironmentBlock(const wchar_t* own, const wchar_t* machine,
                                                           const EnvironmentValue* replaced,
                                                           size_t replaced_count) noexcept;

// Makes the process's own environment the allowed one (BuildEnvironmentBlock with nothing
// replaced): what the installer itself reads of its environment (the platform's libraries
// included) is then what it would pass on, and a program started without an explicit block
// gets no more. Called once at the start, before any other thread. False, changing nothing,
// when the machine's variables cannot be had.
bool CleanProcessEnvironment() noexcept;

// The block of a program the installer starts (the setup, an installed product's
// uninstaller): the allowed environment, with TEMP and TMP naming `temp` (a folder only
// administrators may write) and PATH the system's own folders only. Null on failure.
[[nodiscard]] win::UniqueLocalMemory SetupEnvironment(const wchar_t* temp) noexcept;
