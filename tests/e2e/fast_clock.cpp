// Linked into the scenarios' second build of the installer: the same program, its pauses
// cut to a tenth, so that most scenarios do not wait them out.
#include <windows.h>

#include "win/clock.h"

namespace {

void TenthSleep(DWORD milliseconds) { ::Sleep(milliseconds / 10); }

const bool kInstalled = (win::SetSleepForTesting(TenthSleep), true);

}  // namespace
