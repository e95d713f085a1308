// Whether only administrators may change a file or folder the installer did not make: an
// installed product's uninstaller, the libraries it loads from its folder, that folder.
//
// The installer starts such a program elevated. If any of the user's unelevated programs could
// rewrite it, or put a library beside it, the elevated start would run that program's code.
// Windows' own places (the program files, the system folder) let only Administrators, SYSTEM
// and TrustedInstaller change them; a product installed in a folder made elsewhere (under C:\,
// say) inherits "Authenticated Users: Modify".
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace win {

// The owner and DACL of the file or folder `file` holds (opened with READ_CONTROL), as a
// descriptor to LocalFree; null when they cannot be read.
using SecurityReader = UniqueLocalMemory (*)(HANDLE file);

// Tests stage descriptors through this (null: GetSecurityInfo again). Returns the one before.
SecurityReader SetSecurityReaderForTesting(SecurityReader reader) noexcept;

// False where the platform keeps no security of its own on files (Wine: every file reads back
// as owned by the caller, the caller and SYSTEM with full control, Everyone reading; nothing
// is enforced).
[[nodiscard]] bool PlatformKeepsFileSecurity() noexcept;

// True when `descriptor` lets no one but Administrators, SYSTEM and TrustedInstaller change
// what it guards: its owner is one of them, its DACL is there (a null DACL lets everyone do
// everything), and every entry that allows any change (writing, appending, adding or deleting
// entries, attributes, deleting, the DACL, the owner, GENERIC_WRITE or GENERIC_ALL) is for one of
// them or for OWNER RIGHTS. Entries that only pass on to what is made inside count only when
// `inside` (a folder the installer writes into). `platform_owner` (may be null) counts as one of
// them too: where the platform keeps no security, the owner it reports for every file.
[[nodiscard]] bool OnlyAdministratorsMayChange(PSECURITY_DESCRIPTOR descriptor, PSID platform_owner,
                                               bool inside = false) noexcept;

// The same for the file or folder `file` holds, read through the SecurityReader. Where the
// platform keeps no security, the caller's own account is what it reports as owner.
[[nodiscard]] bool OnlyAdministratorsMayChange(HANDLE file, bool inside = false) noexcept;

// Whether the owner of the file or folder `file` holds (read so) is Administrators, SYSTEM or
// TrustedInstaller (where the platform keeps no security: the caller's own account).
[[nodiscard]] bool OwnedByAdministrators(HANDLE file) noexcept;

}  // namespace win
