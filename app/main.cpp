// The program's entry: everything else lives in the library the tests link.
#include <windows.h>

#include "app/zuno_online_setup_app.h"
#include "win/dll_search.h"

namespace {
CZunoOnlineSetupApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.Run(instance); }

// The C runtime's entry, which constructs the static objects and calls wWinMain.
extern "C" int WinMainCRTStartup();

// The process starts here (the linker is told so), before the C runtime and every static
// constructor: from now on no DLL is looked for in the program's folder or the current folder.
extern "C" __attribute__((force_align_arg_pointer)) int ZunoProcessStart() {
  win::RestrictDllSearchToSystem(win::FindSetDefaultDllDirectories());
  return WinMainCRTStartup();
}
