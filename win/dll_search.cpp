#include "win/dll_search.h"

#include <delayimp.h>

#include "win/activation_context.h"

namespace win {
namespace {

// DLLs that the system loads into the installer by name once it runs: the theme engine's
// drawing helper, the certificate store that the HTTP client loads at its first use, the
// cryptographic provider, certificate retrieval and the symbol helper of the signature check,
// the proxy script engine. None is a KnownDLL, and a system DLL's own delay-loaded imports
// may be looked for in the program's folder first; once one is loaded, a load by its name
// finds it. (Listed from what the program loads under Wine, WINEDEBUG=+loaddll.)
constexpr const char* kLoadedBySystem[] = {
    "msimg32.dll", "crypt32.dll", "rsaenh.dll", "cryptnet.dll", "dbghelp.dll", "jsproxy.dll",
};

// `name` (a file name, no folder) from the system directory. Its own imports are looked for
// beside it, not beside the program.
HMODULE LoadFromSystemDirectory(const char* name) noexcept {
  char path[MAX_PATH];
  UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  path[length++] = '\\';
  for (const char* c = name; *c != '\0'; ++c) {
    if (length + 1 >= MAX_PATH) return nullptr;
    path[length++] = *c;
  }
  path[length] = '\0';
  return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Only where the search still includes the program's folder: what the system loads by name
// while the program makes the protected copy it runs from instead (app/safe_start.h), or shows
// why it cannot. The security descriptors' provider (GetSecurityInfo, SetSecurityInfo), the
// random numbers' provider, the profile paths' helper of the known folders; for the box, the
// theme engine and the desktop compositor's client. (A DLL that a Windows lacks is passed over.)
constexpr const char* kLoadedBeforeTheCopy[] = {
    "ntmarta.dll", "bcryptprimitives.dll", "profapi.dll", "uxtheme.dll", "dwmapi.dll",
};

// Whether the search could not be restricted, so that every delay-loaded DLL is loaded by path.
bool g_load_by_path = false;
bool g_restricted = false;

// comctl32 by name under the program's activation context, which sends the load to the
// system's side-by-side store (Common Controls 6, the themed controls). A load by path would
// bypass that and give the system directory's version 5: only where there is no context.
HMODULE LoadCommonControls() noexcept {
  if (ProgramContext() == nullptr) return LoadFromSystemDirectory("comctl32.dll");
  const ProgramContextScope context;
  return ::LoadLibraryW(L"comctl32.dll");
}

// The delay-load helper's hook: the helper would load the DLL by name, which (without
// SetDefaultDllDirectories) searches the program's folder first, and which finds Common
// Controls 6 only under the program's context. Where the DLL cannot be had so, the call fails
// as if it were missing (the helper's own failure) rather than let the helper look elsewhere.
FARPROC WINAPI DelayLoadFromSystemDirectory(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  HMODULE module = nullptr;
  if (::lstrcmpiA(info->szDll, "comctl32.dll") == 0) {
    module = LoadCommonControls();
  } else if (g_load_by_path) {
    module = LoadFromSystemDirectory(info->szDll);
  } else {
    return nullptr;  // the helper's own load by name, from the system directory only
  }
  if (module == nullptr) {
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    ::RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
  }
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace

SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() noexcept {
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
}

bool RestrictDllSearchToSystem(SetDefaultDllDirectoriesFunction set_default_directories) noexcept {
  g_restricted = set_default_directories != nullptr && set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!g_restricted) {
    ::SetDllDirectoryW(L"");  // the current folder leaves the search order
    g_load_by_path = true;
    // A thread without the program's context that loads Common Controls by name (a system
    // DLL's doing) would look in the program's folder first: the system's copy is there already.
    LoadFromSystemDirectory("comctl32.dll");
    for (const char* name : kLoadedBeforeTheCopy) LoadFromSystemDirectory(name);
  }
  __pfnDliNotifyHook2 = DelayLoadFromSystemDirectory;
  // Kept loaded for the life of the process, so that a later load by name finds them.
  for (const char* name : kLoadedBySystem) LoadFromSystemDirectory(name);
  return g_restricted;
}

bool DllSearchIsRestricted() noexcept { return g_restricted; }

}  // namespace win
