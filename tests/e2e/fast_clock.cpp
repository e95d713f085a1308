// Linked into the scenarios' second build of the installer: the same program, its pauses
// cut to a tenth, so that most scenarios do not wait them out. Its clock runs ten times as
// fast to match.
#include <windows.h>

#include "win/clock.h"

namespace {

void TenthSleep(DWORD milliseconds) { ::Sleep(milliseconds / 10); }
DWORD TenfoldTickCount() { return ::GetTickCount() * 10; }

const win::Clock kFastClock = {TenthSleep, TenfoldTickCount};
const bool kInstalled = (win::SetClockForTesting(&kFastClock), true);

}  // namespace
