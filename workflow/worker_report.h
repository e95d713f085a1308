// How an installation, or the installer's start, ends, and what the worker needs told while
// it works. The worker decides; app/ knows the texts, the boxes, the bar, the taskbar and the
// log (app/installer_ends.h), and hands the worker its WorkerReport when the dialog starts it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "download/failure_cause.h"

// How one installation, or the start before it, ended. The numbers are never reused.
enum class InstallResult : int32_t {
  kSetupStarted = 0,
  kStoppedByUser = 1,
  kNoDialog = 2,
  kNoDownloadDirectory = 3,
  kDownloadFailed = 4,    // with the cause told (EndFigures)
  kPackageRejected = 5,   // damaged or cut, or swapped at the start
  kMoveFailed = 6,        // the decoded setup could not be put in place
  kLaunchFailed = 7,      // the setup could not be started
  kElevationDeclined = 8,
  // 9 to 13 were the download's causes, told now by kDownloadFailed with its cause.
  // The start's own ends, before any worker exists.
  kNoAdminRights = 14,
  kRemovalStarted = 15,          // the installed product's uninstaller runs
  kInstalledProductStays = 16,   // its removal was declined, or its uninstaller did not start
  kOlderGenerationInstalled = 17,
  kCannotStart = 18,             // the program's own path, the temporary folder or a thread failed
  kAnotherCopyRunning = 19,
  kWindowsLacksUpdate = 20,      // no safe DLL search, and no protected copy to run from
  kInstalledFilesUnprotected = 21,  // others may change the installed product: its uninstaller not started
  kSetupRefused = 22,    // the decoded setup is not the maker's, or older than the build starts
  kNoWindow = 23,        // the dialog could not be made (no desktop, no display)
};

// True for the worker's ends that are failures told to the user (a box): all but a started
// setup and the user's own stop.
[[nodiscard]] constexpr bool IsToldFailure(InstallResult result) noexcept {
  return result != InstallResult::kSetupStarted && result != InstallResult::kStoppedByUser;
}

// What the worker puts on the status line itself (the status thread paused meanwhile).
enum class WorkerStatus : int32_t {
  kDirectFailed,        // switching to the default proxy
  kDefaultProxyFailed,  // switching to the IE proxy settings
  kDownloadComplete,
};

// The setup's language switch, from the interface language.
enum class SetupLanguage : int32_t { kVietnamese = 0, kEnglish = 1 };

// The values an end's message takes.
struct EndFigures {
  FailureCause cause = FailureCause::kNone;  // of kDownloadFailed: the cause told
  wchar_t drive[3] = {};                     // the download folder's drive ("C:")
  uint64_t space_needed = 0;                 // there, for the package and its setup
  uint64_t space_free = 0;
};

// The telling of the worker's progress and end, on the worker's thread.
class WorkerReport {
 public:
  // The status thread writes nothing more on the status line until ResumeStatus.
  virtual void PauseStatus() = 0;
  virtual void ResumeStatus() = 0;
  // The worker's own text on the status line (the status thread paused).
  virtual void ShowStatus(WorkerStatus status) = 0;
  // The interface language, for the setup's language switch.
  [[nodiscard]] virtual SetupLanguage Language() = 0;
  // The installation ended as `result`, its files dealt with: a failure is told, and the
  // process ends with the result's exit code (through the dialog, when there is one).
  virtual void End(InstallResult result, const EndFigures& figures) = 0;

 protected:
  ~WorkerReport() = default;
};
