// The program's entry: everything else lives in the library the tests link.
#include <windows.h>

#include "app/safe_start.h"
#include "app/zuno_online_setup_app.h"
#include "existing/restart_copy.h"
#include "win/dll_search.h"
#include "workflow/setup_signature.h"

namespace {
CZunoOnlineSetupApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // A copy of the installer made from a share is started only when it is the maker's.
  SetRestartCopyCheck(IsSignedByProductSigner);
  // Before anything else: where the DLL search still begins in this program's folder, the run
  // goes on from a copy in a folder no user can write to (or not at all).
  const SafeStart start = StartWhereDllSearchIsSafe(win::DllSearchIsRestricted());
  if (!start.go_on) return static_cast<int>(start.exit_code);
  return theApp.Run(instance);
}

// The C runtime's entry, which constructs the static objects and calls wWinMain.
extern "C" int WinMainCRTStartup();

// The process starts here (the linker is told so), before the C runtime and every static
// constructor: from now on no DLL is looked for in the current folder, nor, where Windows allows
// it, in the program's folder (else wWinMain goes no further than to run a copy).
extern "C" __attribute__((force_align_arg_pointer)) int ZunoProcessStart() {
  static_cast<void>(win::RestrictDllSearchToSystem(win::FindSetDefaultDllDirectories()));
  return WinMainCRTStartup();
}
