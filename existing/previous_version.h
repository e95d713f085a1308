// The offer to remove an installed product before the new one is installed.
#pragma once

constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kRunOnceValue[] = L"ZunoSetup";

// When an installed product is confirmed: tells the user (message 22), and on OK registers
// this installer to run once at the next logon and starts the product's own uninstaller
// without waiting. The restart entry names an administrator's copy of this program
// (MakeRestartCopy); none is written when no copy can be made. Answers kRemovalStarted when
// the uninstaller was started, kRemovalNotStarted when a message was shown and nothing started
// (declined, or no uninstaller could start); 0 when no installed product was confirmed.
constexpr int kRemovalNotStarted = 1;
constexpr int kRemovalStarted = 2;
int OfferPreviousVersionRemoval();

// Writes HKLM RunOnce "ZunoSetup" = `path` in double quotes (REG_SZ, in the program's own
// registry view).
// True when the value was written.
bool RegisterRunOnceRestart(const wchar_t* path);
