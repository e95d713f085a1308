// The environment of the programs the installer starts.
//
// The installer runs elevated, but its environment is the user's: HKCU\Environment and
// "Volatile Environment", which any of the user's programs may change, can say where Windows
// is (windir, SystemRoot, ComSpec, ProgramFiles...), where temporary files go, and name code
// for a process to load. What the installer starts gets the machine's own values for the
// machine's variables and none of the code-loading ones.
#pragma once

#include <windows.h>

#include <cstddef>

#include "win/unique_handle.h"

// True for a variable that makes a process load code that it names (a profiler, a startup
// hook, an agent, a symbol server, a script host's preload...); `name` has `length`
// characters, any case.
[[nodiscard]] bool IsCodeLoadingVariable(const wchar_t* name, size_t length) noexcept;

// One variable given its own value.
struct EnvironmentValue {
  const wchar_t* name;
  const wchar_t* value;
};

// A new environment block, sorted by name, for CreateProcessW with CREATE_UNICODE_ENVIRONMENT
// (LocalFree). From `own` (a block as GetEnvironmentStringsW gives it) and `machine` (the
// machine's variables as Windows sets them for a program without a user's settings): every
// variable of `machine` with the machine's value but USERPROFILE, the user's own folder, which
// `own` gives; every other variable of `own`; none that loads code; and `replaced` in place of
// any of the same name. Null when memory fails.
[[nodiscard]] win::UniqueLocalMemory BuildEnvironmentBlock(const wchar_t* own, const wchar_t* machine,
                                                           const EnvironmentValue* replaced,
                                                           size_t replaced_count) noexcept;

// Makes the process's own environment the clean one (BuildEnvironmentBlock with nothing
// replaced), so that every program it starts (the uninstaller, the setup) inherits that.
// Called once at the start, before any other thread. False, changing nothing, when the
// machine's variables cannot be had.
bool CleanProcessEnvironment() noexcept;

// The setup's block: the clean environment, with TEMP and TMP naming `temp` (a folder only
// administrators may write) and PATH the system's own folders only. Null on failure.
[[nodiscard]] win::UniqueLocalMemory SetupEnvironment(const wchar_t* temp) noexcept;
