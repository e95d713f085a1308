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

#include "win/file_identity.h"
#include "win/unique_handle.h"

// The pins this build was made with: SHA-256 digests in hex, ';' between.
[[nodiscard]] const wchar_t* ProductSignerPins() noexcept;

// Opens `path` for reading, sharing only reading; invalid when it cannot be opened.
[[nodiscard]] win::UniqueFile OpenForLaunch(const wchar_t* path) noexcept;

// True when the platform verifies the Authenticode signature of the file held by `file`
// (at `path`) and the SHA-256 of its signer certificate's SubjectPublicKeyInfo is one of
// `pins`. The signer is taken from the verified state only.
[[nodiscard]] bool IsSignedByPinnedSigner(HANDLE file, const wchar_t* path, const wchar_t* pins) noexcept;

// The same against this build's pins: the maker's program, such as the installer's own copy.
[[nodiscard]] bool IsSignedByProductSigner(HANDLE file, const wchar_t* path) noexcept;

// The oldest setup the installer starts, as the build names it: the file version's four
// parts, most significant first, in one number (major << 48 | minor << 32 | build << 16 | revision).
[[nodiscard]] uint64_t MinimumSetupVersion() noexcept;

// True when the file version of the program at `path` is at least `minimum`; false too when
// it has no version resource.
[[nodiscard]] bool HasVersionAtLeast(const wchar_t* path, uint64_t minimum) noexcept;
