// A stand-in for a system DLL: the DLL search scenario puts copies of it, named as the DLLs
// the installer loads, beside the installer. Whenever a process loads one, it appends a line
// "<its own path> <the process's path>" to the file that ZUNO_STAND_IN_LOG names.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t log[MAX_PATH], own[MAX_PATH], process[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"ZUNO_STAND_IN_LOG", log, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  const DWORD own_length = ::GetModuleFileNameW(self, own, MAX_PATH);
  const DWORD process_length = ::GetModuleFileNameW(nullptr, process, MAX_PATH);
  HANDLE file = ::CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  char line[2 * MAX_PATH * 3 + 4];
  int used = ::WideCharToMultiByte(CP_UTF8, 0, own, static_cast<int>(own_length), line, MAX_PATH * 3, nullptr, nullptr);
  line[used++] = ' ';
  used += ::WideCharToMultiByte(CP_UTF8, 0, process, static_cast<int>(process_length), line + used, MAX_PATH * 3,
                                nullptr, nullptr);
  line[used++] = '\n';
  DWORD written = 0;
  ::WriteFile(file, line, static_cast<DWORD>(used), &written, nullptr);
  ::CloseHandle(file);
  return TRUE;
}
