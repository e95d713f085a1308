// The program's entry: everything else lives in the library the tests link.
#include <windows.h>

#include "app/zuno_online_setup_app.h"

namespace {
CZunoOnlineSetupApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.Run(instance); }
