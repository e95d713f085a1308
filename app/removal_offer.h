// The offer to remove an installed product before the new one is installed.
#pragma once

// When an installed product is confirmed: tells the user (message 24 for a product never
// started; otherwise message 22, and on OK removes it: RemoveInstalledProduct). Answers
// kRemovalStarted when the uninstaller was started, kRemovalNotStarted when a message was shown
// and nothing started (declined, or no uninstaller could start); 0 when no installed product
// was confirmed.
constexpr int kRemovalNotStarted = 1;
constexpr int kRemovalStarted = 2;
int OfferPreviousVersionRemoval();
