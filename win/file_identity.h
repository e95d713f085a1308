// Telling one file from another by what the file system says, not by path: whether a started
// program's image is the file a caller holds, in the folder it holds.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

// True when `process` was started from the very file that `file` holds, and that file lies in
// the very directory that `directory` holds. Files are told apart by their 128-bit id where
// the platform and the volume give one, else by volume serial and 64-bit index.
[[nodiscard]] bool RunsFile(HANDLE process, HANDLE file, HANDLE directory) noexcept;

// Opens `path`, a file or (`directory`) a directory, for SameFile only: reading its attributes,
// every sharing allowed, a reparse point itself rather than its target. Invalid on failure.
// (Where the 128-bit id is missing, the file index needs FILE_READ_ATTRIBUTES.)
[[nodiscard]] win::UniqueFile OpenToCompare(const wchar_t* path, bool directory) noexcept;

// True when the two handles name the same file or directory.
[[nodiscard]] bool SameFile(HANDLE a, HANDLE b) noexcept;
