// The offer to remove an installed product before the new one is installed.
#pragma once

#include <windows.h>

#include "workflow/worker_report.h"

// When an installed product is confirmed: tells the user (message 24 for a product never
// started; otherwise message 22, and on OK removes it: RemoveInstalledProduct). Answers
// kRemovalStarted when the uninstaller was started, kRemovalNotStarted when a message was shown
// and nothing started (declined, or no uninstaller could start), kRemovalRefused when others
// than administrators may change the product's files, so that nothing was started (message 43
// told the user to remove it from Windows' settings); 0 when no installed product was
// confirmed.
constexpr int kRemovalNotStarted = 1;
constexpr int kRemovalStarted = 2;
constexpr int kRemovalRefused = 3;
int OfferPreviousVersionRemoval();

// How the start ends after the offer answered `removal` (not 0); its boxes are shown already.
[[nodiscard]] InstallResult RemovalResult(int removal);
