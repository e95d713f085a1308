// The banner at the top of the dialog, drawn for the dialog's scale. A picture control does
// not scale its bitmap, so the dialog puts in one made for its size.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

// A bitmap of `width` x `height` pixels, compatible with the screen, holding the banner art
// made for that size: the smallest of the program's banner pictures that is at least as
// large, shrunk to fit (the largest one when none is as large). Null when none can be drawn.
[[nodiscard]] win::UniqueGdiObject DrawBanner(HINSTANCE instance, int width, int height);

// The picture control that shows the banner, or null.
[[nodiscard]] HWND FindBannerControl(HWND dialog);
