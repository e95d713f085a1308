#include "app/safe_start.h"

#include <atomic>
#include <cwchar>

#include "app/installer_ends.h"
#include "app/messages.h"
#include "existing/restart_copy.h"
#include "win/trace.h"
#include "win/unique_handle.h"

namespace {

bool CreateProcessAndWait(const wchar_t* program, const wchar_t* command_line, const wchar_t* directory,
                          DWORD* exit_code) {
  // CreateProcessW may write into the command line: a copy of our own.
  WideString line = WideString::Copy(command_line);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (line.empty() || !::CreateProcessW(program, const_cast<wchar_t*>(line.c_str()), nullptr, nullptr, FALSE, 0,
                                        nullptr, directory, &startup, &started)) {
    return false;
  }
  const win::UniqueKernelHandle process(started.hProcess);
  const win::UniqueKernelHandle thread(started.hThread);
  return ::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 &&
         ::GetExitCodeProcess(process.get(), exit_code);
}

std::atomic<ProgramRun> g_run{CreateProcessAndWait};

// What follows the program's own name on `line`, as the C runtime splits it: a quoted name
// ends at its closing quote, any other at the first blank or tab.
const wchar_t* Arguments(const wchar_t* line) {
  if (*line == L'"') {
    const wchar_t* close = wcschr(line + 1, L'"');
    return close != nullptr ? close + 1 : line + wcslen(line);
  }
  while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  return line;
}

// A restart copy's folder lies under the program files, where no user may make or change
// anything: what is looked for in it by name is the installer's own.
bool RunsFromRestartCopy() {
  wchar_t own[win::kPathCapacity];
  const DWORD length = ::GetModuleFileNameW(nullptr, own, win::kPathCapacity);
  return length != 0 && length < win::kPathCapacity && IsRestartCopyPath(own);
}

// Message 44, in the language the registry names, and the code to end with. The DLLs its box
// loads by name were loaded from the system directory already (win/dll_search.cpp).
SafeStart EndWithoutUpdate() {
  int32_t language = kLanguageVietnamese;
  if (ReadUiLanguage(&language)) UiLanguage.store(language);
  DebugTrace(L"bDllSearchSafe: 0, no copy to run");
  return SafeStart{false, TellStartEnd(InstallResult::kWindowsLacksUpdate)};
}

}  // namespace

ProgramRun SetProgramRunForTesting(ProgramRun run) noexcept {
  return g_run.exchange(run != nullptr ? run : CreateProcessAndWait);
}

SafeStart StartWhereDllSearchIsSafe(bool search_restricted) noexcept {
  if (search_restricted || RunsFromRestartCopy()) return SafeStart{};
  RestartCopy copy = MakeRestartCopy();
  if (copy.path.empty()) return EndWithoutUpdate();
  const WideString folder = WideString::Copy(copy.path.c_str(), wcsrchr(copy.path.c_str(), L'\\') - copy.path.c_str());
  const WideString line = WideString::Format(L"\"%s\"%s", copy.path.c_str(), Arguments(::GetCommandLineW()));
  DebugTrace(L"sRelaunch: %s", line.c_str());
  // Held unchanged from its check until it runs; this process holds no guard of its own
  // (the instance mutex comes later), so the copy's own checks decide as for any start.
  DWORD exit_code = 0;
  const bool ran = !folder.empty() && !line.empty() &&
                   g_run.load()(copy.path.c_str(), line.c_str(), folder.c_str(), &exit_code);
  copy.file.reset();
  RemoveRestartCopy(copy.path.c_str());
  if (!ran) return EndWithoutUpdate();
  DebugTrace(L"nRelaunchExitCode: %d", static_cast<int>(exit_code));
  return SafeStart{false, exit_code};
}
