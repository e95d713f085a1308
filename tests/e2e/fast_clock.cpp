// Linked into the scenarios' second build of the installer: the same program, its pauses
// and the deadline of a proxy lookup cut to a tenth, so that most scenarios do not wait them out.
#include <windows.h>

#include "download/proxy_discovery.h"
#include "win/clock.h"

namespace {

void TenthSleep(DWORD milliseconds) { ::Sleep(milliseconds / 10); }

const bool kInstalled = (win::SetSleepForTesting(TenthSleep),
                         SetProxyLookupDeadlineForTesting(kProxyLookupDeadlineMs / 10), true);

}  // namespace
