// The worker thread: one installation from the download directory to the launch of the
// real setup program.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>

#include "win/unique_handle.h"
#include "win/wide_string.h"
#include "workflow/worker_report.h"

class ProtectedFolder;

// The one decision between the user's stop and the worker's end, changed only by
// compare-and-swap: 0 running, 1 the stop question is open, 2 the stop won, 3 the worker won
// and launches the setup, 4 the worker won and reports its failure. 2, 3 and 4 are final.
enum CancelStates : int32_t {
  kCancelRunning = 0,
  kCancelAsking = 1,
  kCancelConfirmed = 2,
  kCancelPassed = 3,
  kCancelFailing = 4,
};
extern std::atomic<int32_t> CancelState;

// The stop's side of the decision. True when the stop won now or had won before; false when
// the worker had already claimed the end.
[[nodiscard]] bool TryStop() noexcept;

// The worker's side: waits while the question is open, then claims the end, as `claim`
// (kCancelPassed or kCancelFailing). True when the worker won; false when the stop did.
[[nodiscard]] bool ClaimEnd(int32_t claim = kCancelPassed) noexcept;

// The platform calls the launch makes. Tests replace them where Wine cannot produce the case:
// a declined elevation, a program that starts only elevated, a resume that fails, a stop that
// lands just before the claim.
struct WorkerHooks {
  decltype(&::CreateProcessW) create_process;
  decltype(&::ShellExecuteExW) shell_execute_ex;
  decltype(&::ResumeThread) resume_thread;
  void (*before_claim)();  // may be null
};
[[nodiscard]] const WorkerHooks& PlatformWorkerHooks();
void SetWorkerHooksForTesting(const WorkerHooks* hooks);

// The launch command line, whole however long: `"installer" argument /Vietnamese` for
// Vietnamese and `/English` for English (the argument verbatim, two blanks when it is empty).
[[nodiscard]] WideString FormatLaunchCommandLine(const wchar_t* installer, const wchar_t* argument,
                                                 SetupLanguage language);

struct LaunchPaths {
  const wchar_t* installer;   // SetupB.exe
  const wchar_t* downloaded;  // the package
  const wchar_t* directory;   // the download directory
  const wchar_t* temp;        // the setup's TEMP and TMP, a folder in the download directory
};

// Hides the dialog and starts the installer suspended, with its command line, its own
// directory as the current one, and SetupEnvironment(paths.temp) (no launch without it). It runs only if the started image is the file that
// `setup_file` holds, in the directory that `directory` holds, and only if the worker wins
// the end (ClaimEnd, immediately before the resume); otherwise it is ended unrun. Where the
// platform asks for elevation (ERROR_ELEVATION_REQUIRED), it is started through the shell,
// elevated and without parameters, the file and directory still held; any other failure is
// a failed launch. Cleans up nothing.
[[nodiscard]] InstallResult LaunchInstaller(const LaunchPaths& paths, HANDLE setup_file, HANDLE directory,
                                            HWND dialog, SetupLanguage language);

// Carries out `result`: a started setup's files wait for the next restart (its temp folder,
// then the directory, after its files); every other end deletes the download, files still open
// at the next restart. Releases `directory` first (may be null). A failure is claimed as the end
// (IsToldFailure), unless the user's stop won first: then that is the end. Then `report` tells
// it, with `figures`, and ends the process.
void EndInstallation(InstallResult result, const LaunchPaths& paths, ProtectedFolder* directory, WorkerReport& report,
                     const EndFigures& figures = EndFigures());

// The dialog's last resort when the worker does not come back from a stop (it is held in a
// network call, and the process ends next, under it): lets go of the worker's download
// directory and removes the download (RemoveDownload). False, doing nothing, when the worker
// is not downloading (it has no directory yet, or works locally and sees the stop itself):
// its report follows.
[[nodiscard]] bool AbandonDownload() noexcept;

// Deletes the download in `directory` (the files the installer makes there, then the
// directory); what is still open or cannot go now is scheduled for deletion at the next
// restart.
void RemoveDownload(const wchar_t* directory) noexcept;

// The thread's entry; the argument is the WorkerReport that tells what the worker does (the
// worker finds the dialog as the main window). Always returns 0: the report ends the process.
unsigned __stdcall WorkerThreadProc(void* parameter);
