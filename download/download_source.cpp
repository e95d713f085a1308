#include "download/download_source.h"

#include <windows.h>

WideString SelectDownloadUrl() {
  const wchar_t* choice = kPackageUrl32;
  // Looked up at run time: older kernels lack the function. The module stays loaded.
  if (HMODULE kernel = ::LoadLibraryW(L"Kernel32.dll")) {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto is_wow64_process =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (is_wow64_process != nullptr && is_wow64_process(::GetCurrentProcess(), &wow64) && wow64) {
      choice = kPackageUrl64;
    }
  }
  return WideString::Copy(choice);
}
