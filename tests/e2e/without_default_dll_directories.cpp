// Linked into a build of the installer that starts here instead: the same program where
// SetDefaultDllDirectories is missing (Vista, Windows 7 without its update), as Wine never is.
#include "win/dll_search.h"

extern "C" int WinMainCRTStartup();

extern "C" __attribute__((force_align_arg_pointer)) int ZunoProcessStartWithoutDefaultDllDirectories() {
  win::RestrictDllSearchToSystem(nullptr);
  return WinMainCRTStartup();
}
