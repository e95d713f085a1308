// Folders that only Administrators and SYSTEM may change: the download directory, where the
// package is received, decoded and started from; the folder of the installer's own copy that
// the restart entry starts; the log folder.
//
// Each is created and opened in one step with its security, and refused when what was opened
// is a reparse point or owned by anyone else. A fresh one (ProtectedFolder) lies by default
// under the system's own Temp folder (<Windows>\Temp), where an unelevated program may create
// entries of its own but may not rename or delete anyone else's. Its handle is held, sharing
// no delete, until it is released (the download directory's until the setup runs): no program
// can rename it away and put its own in its place meanwhile.
#pragma once

#include <windows.h>
#include <winternl.h>

#include "win/unique_handle.h"
#include "win/wide_string.h"

class ProtectedFolder {
 public:
  // How many fresh names are tried before the creation gives up: a name that exists is
  // never reused, whoever made it.
  static constexpr int kNameTries = 8;

  ProtectedFolder() noexcept = default;
  ProtectedFolder(const ProtectedFolder&) = delete;
  ProtectedFolder& operator=(const ProtectedFolder&) = delete;

  // Creates "<prefix><32 random hexadecimal digits>.tmp" under `root`, or under the system's
  // Temp folder when `root` is null, and holds it. The 128 random bits leave no name to guess
  // before the directory is made or after it is gone. False when no fresh name could be
  // taken, the directory could not be made, or what was opened is a reparse point or owned
  // by anyone but Administrators or SYSTEM; nothing is then held or left.
  [[nodiscard]] bool Create(const wchar_t* root = nullptr, wchar_t prefix = kDownloadPrefix) noexcept;

  // The first letter of the names: the download directories, and the folders of the
  // installer's own copies that the restart entry starts.
  static constexpr wchar_t kDownloadPrefix = L'0';
  static constexpr wchar_t kRestartCopyPrefix = L'R';

  [[nodiscard]] const wchar_t* path() const noexcept { return path_; }
  // The held directory, or INVALID_HANDLE_VALUE once released.
  [[nodiscard]] HANDLE handle() const noexcept { return handle_.get(); }
  // Lets go of the directory, so that it can be removed.
  void Release() noexcept { handle_.reset(); }

 private:
  wchar_t path_[win::kPathCapacity] = {};
  win::UniqueFile handle_;
};

// How CreateProtectedFolder treats a name that exists.
enum class ExistingFolder { kRefuse, kOpen };

// Creates `path` as a directory with `security` (null: AdminOnlyDirectorySecurity) and opens
// it, in one step (or, with kOpen, opens the directory already there), holding it with read and
// write sharing but no delete. Invalid unless what was opened is a plain directory, not a
// reparse point, owned by Administrators or SYSTEM; one that was there already gets the DACL of
// `security` (or is refused). A directory this call made and then refused is removed again. `*collided` (may be null) tells that the name existed and was refused.
[[nodiscard]] win::UniqueFile CreateProtectedFolder(const wchar_t* path, ExistingFolder existing,
                                                    bool* collided = nullptr,
                                                    PSECURITY_DESCRIPTOR security = nullptr) noexcept;

// Deletes the file or (`directory`) empty folder `path` now, or at the next restart when it
// cannot go now; nothing when it is not there.
void DeleteNowOrAtRestart(const wchar_t* path, bool directory) noexcept;

// Sets the DACL of a folder that was there already, on that folder alone: NtSetSecurityObject
// unless a test says otherwise (null restores it).
using DaclSetter = NTSTATUS(NTAPI*)(HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR security);
void SetDaclSetterForTesting(DaclSetter setter) noexcept;

// When `path` names anything but a plain folder that only administrators may change, or write
// into (win::OnlyAdministratorsMayChange, what is made inside counted: someone else's folder, one
// others may write into, a link), renames it by its handle to a random name beside it and puts
// that name into `moved_to` (`capacity` characters; empty when nothing moved). False when it is
// there and could not be moved.
[[nodiscard]] bool MoveAsideUnlessProtected(const wchar_t* path, wchar_t* moved_to, size_t capacity) noexcept;

// The security the download directory is created with (a self-relative descriptor, LocalFree):
// owned by Administrators, and only Administrators and SYSTEM may change what is in it, so
// the user's unelevated programs can neither plant nor replace a file there. Null when it
// cannot be made.
[[nodiscard]] win::UniqueLocalMemory AdminOnlyDirectorySecurity() noexcept;

// The same, but everyone may read what is in it (the run logs, for the user to send).
[[nodiscard]] win::UniqueLocalMemory ReadableAdminDirectorySecurity() noexcept;
