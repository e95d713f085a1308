// The environment the setup program starts with.
//
// The installer runs elevated, but its environment is the user's: TEMP and TMP name a folder
// the user's own programs can write, and HKCU\Environment, which any of them may change, can
// name code for a process to load. The setup gets the installer's environment without those.
#pragma once

#include <windows.h>

#include <cstddef>

#include "win/unique_handle.h"

// True for a variable that makes a process load code that it names (a profiler, a startup
// hook, an agent, a symbol server...); `name` has `length` characters, any case.
[[nodiscard]] bool IsCodeLoadingVariable(const wchar_t* name, size_t length) noexcept;

// One variable the setup gets in place of the installer's own.
struct EnvironmentValue {
  const wchar_t* name;
  const wchar_t* value;
};

// A new environment block (as CreateProcessW takes it with CREATE_UNICODE_ENVIRONMENT, freed
// with LocalFree): the variables of `parent`, a block as GetEnvironmentStringsW gives it, in
// their order, less the code-loading ones and those `replaced` names; each of `replaced`,
// which must be sorted by name, in its sorted place. Null when memory fails.
[[nodiscard]] win::UniqueLocalMemory BuildEnvironmentBlock(const wchar_t* parent, const EnvironmentValue* replaced,
                                                           size_t replaced_count) noexcept;

// The setup's block: the installer's environment with TEMP and TMP naming `temp` (a folder
// only administrators may write) and PATH only the system's own folders. Null on failure.
[[nodiscard]] win::UniqueLocalMemory SetupEnvironment(const wchar_t* temp) noexcept;
