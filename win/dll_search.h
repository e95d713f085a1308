// Where the installer's DLLs come from. It runs elevated from a folder its user can write to
// (the Downloads folder, as a rule), so a DLL looked up by name in the program's folder or the
// current folder could be anyone's. Only the system directory is searched.
#pragma once

#include <windows.h>

namespace win {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directory_flags);

// kernel32's SetDefaultDllDirectories, or null where the system lacks it (Vista, and
// Windows 7 without its update).
[[nodiscard]] SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() noexcept;

// Makes every later load of a DLL by name come from the system directory: through
// `set_default_directories` (LOAD_LIBRARY_SEARCH_SYSTEM32) when there is one and it succeeds;
// otherwise the current folder leaves the search and each delay-loaded DLL is loaded by its
// full system path. Either way, the DLLs that the system itself loads into the program by name
// are then loaded by their full system path, and comctl32 is loaded by name under the
// program's activation context (win/activation_context.h), by its full system path only where
// no context was made. Runs before the C runtime starts: kernel32 calls only. True when the
// search was restricted; false when the program's own folder still comes first in it (the
// program must then run from a folder no user can write, app/safe_start.h).
bool RestrictDllSearchToSystem(SetDefaultDllDirectoriesFunction set_default_directories) noexcept;

// What the last RestrictDllSearchToSystem answered (false before it ran).
[[nodiscard]] bool DllSearchIsRestricted() noexcept;

}  // namespace win
