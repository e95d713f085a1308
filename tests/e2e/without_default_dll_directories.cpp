// Linked into a build of the installer that starts here instead: the same program on a system
// without SetDefaultDllDirectories (Vista, Windows 7 without its update), which Wine cannot be.
#include <windows.h>

#include "win/dll_search.h"

extern "C" int WinMainCRTStartup();

extern "C" __attribute__((force_align_arg_pointer)) int ZunoProcessStartWithoutDefaultDllDirectories() {
  win::RestrictDllSearchToSystem(nullptr);
  return WinMainCRTStartup();
}
