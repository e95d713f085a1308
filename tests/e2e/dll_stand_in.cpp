// A stand-in for a system DLL, copied beside the installer under the DLL's name: it tells the
// debugger when a process loads it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  char path[MAX_PATH] = "stand-in loaded: ";
  if (reason == DLL_PROCESS_ATTACH && ::GetModuleFileNameA(self, path + 17, MAX_PATH - 17) > 0) {
    ::OutputDebugStringA(path);
  }
  return TRUE;
}
