// Whether the downloaded setup program is the maker's, and the means to start that very file.
//
// The package's own digest proves only that it arrived whole; anyone on the way could have
// made a whole one. So the setup must carry an Authenticode signature that the platform
// verifies, by a signer whose public key is pinned in this build. The file is opened before
// the check and held, sharing only reading, until the launch is decided: it can then be
// neither changed nor replaced, and the process started from its path is compared with it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/unique_handle.h"

// The pins this build was made with: SHA-256 digests in hex, ';' between.
[[nodiscard]] const wchar_t* ProductSignerPins() noexcept;

// Opens `path` for reading, sharing only reading; invalid when it cannot be opened.
[[nodiscard]] win::UniqueFile OpenForLaunch(const wchar_t* path) noexcept;

// True when the platform verifies the Authenticode signature of the file held by `file`
// (at `path`) and the SHA-256 of its signer certificate's SubjectPublicKeyInfo is one of
// `pins`. The signer is taken from the verified state only.
[[nodiscard]] bool IsSignedByPinnedSigner(HANDLE file, const wchar_t* path, const wchar_t* pins) noexcept;

// True when `process` was started from the very file that `file` holds (same volume, same
// file index).
[[nodiscard]] bool RunsFile(HANDLE process, HANDLE file) noexcept;

// The security the download directory is created with (a self-relative descriptor, LocalFree):
// owned by Administrators, and only Administrators and SYSTEM may change what is in it, so
// the user's unelevated programs can neither plant nor replace a file there. Null when it
// cannot be made.
[[nodiscard]] win::UniqueLocalMemory AdminOnlyDirectorySecurity() noexcept;

// Creates the download directory with that security.
[[nodiscard]] bool CreateAdminOnlyDirectory(const wchar_t* path) noexcept;
