// An installed product that stands in the way of the new one, and its removal.
#pragma once

#include "win/wide_string.h"

constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kRunOnceValue[] = L"ZunoSetup";

// What the user is to be asked about an installed product: nothing (none confirmed), only to
// start it once (message 24: it was installed but never started), or whether to remove it
// (message 22).
enum class InstalledProductQuestion { kNone, kStartHint, kRemove };

struct InstalledProductFinding {
  InstalledProductQuestion question = InstalledProductQuestion::kNone;
  WideString name;       // its registered name, empty when it has none
  WideString directory;  // where it is installed
};

// Looks for a confirmed installed product and what to ask about it.
[[nodiscard]] InstalledProductFinding FindInstalledProduct();

// How the removal of an installed product began.
enum class RemovalStart {
  kStarted,          // its uninstaller runs
  kNotStarted,       // no uninstaller could be started
  kFilesUnprotected, // others than administrators may change its uninstaller, libraries or folder
};

// The user said OK to removing `product`: starts the product's own uninstaller, suspended and
// checked as the setup is, without waiting, and registers this installer to run once at the
// next logon. It starts only when the uninstaller, the product's libraries beside it and its
// folder can be changed by administrators alone (held meanwhile, so that none can be swapped).
// The restart entry names an administrator's copy of this program (MakeRestartCopy); it is
// written only when the uninstaller is started (when nothing runs, nothing is to come back
// for), and none when no copy can be made.
[[nodiscard]] RemovalStart RemoveInstalledProduct(const InstalledProductFinding& product);

// Writes HKLM RunOnce "ZunoSetup" = `path` in double quotes (REG_SZ, in the program's own
// registry view). True when the value was written.
bool RegisterRunOnceRestart(const wchar_t* path);
