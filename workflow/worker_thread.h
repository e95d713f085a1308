// The worker thread: one installation from the download directory to the launch of the
// real setup program.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>

#include "win/unique_handle.h"
#include "win/wide_string.h"

// The stop question's state: 0 running, 1 asking, 2 stop confirmed, 3 the worker has passed
// its checkpoint.
enum CancelStates : int32_t { kCancelRunning = 0, kCancelAsking = 1, kCancelConfirmed = 2, kCancelPassed = 3 };
extern std::atomic<int32_t> CancelState;

// The platform calls the launch makes, and the end of the process. Tests replace them where
// Wine cannot produce the case: a declined elevation, a program that starts only elevated.
// (Message boxes go through win::ShowMessageBox.)
struct WorkerHooks {
  decltype(&::CreateProcessW) create_process;
  decltype(&::ShellExecuteExW) shell_execute_ex;
  void (*end_process)();
};
[[nodiscard]] const WorkerHooks& PlatformWorkerHooks();
void SetWorkerHooksForTesting(const WorkerHooks* hooks);

// The launch command line, whole however long: `"installer" argument /Vietnamese` for
// language 0 and `/English` for 1 (the argument verbatim, two blanks when it is empty).
[[nodiscard]] WideString FormatLaunchCommandLine(const wchar_t* installer, const wchar_t* argument,
                                                 int32_t language);

struct LaunchPaths {
  const wchar_t* installer;   // SetupB.exe, also what szFileSavePath names by now
  const wchar_t* downloaded;  // the package
  const wchar_t* directory;   // the download directory
};

// Hides the dialog and starts the installer with its command line; when that fails, starts
// it elevated without parameters. Then schedules the downloaded files for deletion at the
// next restart and ends the process (a declined elevation deletes them at once instead).
// `setup_file` holds the installer as it was checked: the process is started suspended and
// runs only if it was started from that very file; else it is ended unrun, and the download
// fails (message 1, the files and the directory removed). The elevated start holds the file
// and the directory against any rename until it returns.
void LaunchInstaller(const LaunchPaths& paths, win::UniqueFile setup_file, HWND dialog, int32_t language);

// The thread's entry; the argument is the dialog. Returns 0 only after a confirmed stop;
// every other path ends the process with exit code 0.
unsigned __stdcall WorkerThreadProc(void* parameter);
