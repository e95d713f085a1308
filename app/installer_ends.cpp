#include "app/installer_ends.h"

#include <commctrl.h>

#include "app/dialog_messages.h"
#include "app/exit_codes.h"
#include "app/messages.h"
#include "app/progress_line.h"
#include "app/run_log.h"
#include "app/status_thread.h"
#include "resources/resource.h"
#include "win/application.h"
#include "win/trace.h"

namespace {

// Which box tells an end.
enum class Box {
  kNone,
  kWithLog,   // the application's box, with where the run's log is under the message
  kPlain,     // the application's box, the message alone
  kTitled,    // the dialog is gone: a box of its own, with the installer's title
};

// What else an end of the worker shows.
enum Shows : unsigned {
  kNothingElse = 0,
  kOnStatusLine = 1,  // the message, in place of the status text
  kClearsBar = 2,     // the bar back at 0: the download did not come
  kOnTaskbar = 4,     // the taskbar button in its error state
};

struct EndRow {
  InstallResult result;
  FailureCause cause;  // of kDownloadFailed; kNone elsewhere
  int32_t message;
  UINT icon;
  Box box;
  unsigned shows;
  DWORD exit_code;
};

using R = InstallResult;
using C = FailureCause;
constexpr unsigned kFailed = kOnStatusLine | kOnTaskbar;
constexpr unsigned kNotDownloaded = kOnStatusLine | kClearsBar | kOnTaskbar;

constexpr EndRow kEnds[] = {
    // The worker's.
    {R::kSetupStarted, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitStarted},
    {R::kStoppedByUser, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitStoppedByUser},
    {R::kNoDialog, C::kNone, kMessageCannotStart, MB_ICONERROR, Box::kWithLog, kFailed, kExitTempUnusable},
    {R::kNoDownloadDirectory, C::kNone, kMessageCannotStart, MB_ICONERROR, Box::kWithLog, kFailed, kExitTempUnusable},
    {R::kDownloadFailed, C::kOther, kMessageDownloadFailed, MB_ICONERROR, Box::kWithLog, kNotDownloaded, kExitDownloadFailed},
    {R::kDownloadFailed, C::kSignInPage, kMessageSignInPage, MB_ICONERROR, Box::kWithLog, kNotDownloaded, kExitDownloadFailed},
    {R::kDownloadFailed, C::kDiskFull, kMessageDiskFull, MB_ICONERROR, Box::kWithLog, kNotDownloaded, kExitDiskFull},
    {R::kDownloadFailed, C::kNoConnection, kMessageNoConnection, MB_ICONERROR, Box::kWithLog, kNotDownloaded, kExitDownloadFailed},
    {R::kDownloadFailed, C::kNotFound, kMessagePackageNotFound, MB_ICONERROR, Box::kWithLog, kNotDownloaded, kExitDownloadFailed},
    {R::kDownloadFailed, C::kProxyRefused, kMessageProxyRefused, MB_ICONERROR, Box::kWithLog, kNotDownloaded, kExitDownloadFailed},
    {R::kPackageRejected, C::kNone, kMessageDownloadFailed, MB_ICONERROR, Box::kWithLog, kNotDownloaded, kExitPackageRejected},
    {R::kMoveFailed, C::kNone, kMessageSetupNotStarted, MB_ICONERROR, Box::kWithLog, kFailed, kExitLaunchFailed},
    {R::kLaunchFailed, C::kNone, kMessageSetupNotStarted, MB_ICONERROR, Box::kWithLog, kFailed, kExitLaunchFailed},
    {R::kElevationDeclined, C::kNone, kMessageNeedsAdmin, MB_ICONINFORMATION, Box::kTitled, kOnTaskbar, kExitElevationDeclined},
    // The start's, told before the dialog shows.
    {R::kNoAdminRights, C::kNone, kMessageNoAdminRights, MB_ICONEXCLAMATION, Box::kPlain, kNothingElse, kExitNoAdminRights},
    {R::kRemovalStarted, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitStarted},
    {R::kInstalledProductStays, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitOtherVersionInstalled},
    {R::kOlderGenerationInstalled, C::kNone, kMessageOlderGenerationInstalled, MB_ICONEXCLAMATION, Box::kWithLog,
     kNothingElse, kExitOtherVersionInstalled},
    {R::kCannotStart, C::kNone, kMessageCannotStart, MB_ICONERROR, Box::kWithLog, kNothingElse, kExitTempUnusable},
    {R::kAnotherCopyRunning, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitAnotherCopyRunning},
    {R::kInstalledFilesUnprotected, C::kNone, kMessageFilesUnprotected, MB_ICONEXCLAMATION, Box::kWithLog, kNothingElse,
     kExitInstalledFilesUnprotected},
    {R::kWindowsLacksUpdate, C::kNone, kMessageMissingUpdate, MB_ICONERROR, Box::kTitled, kNothingElse, kExitOldWindows},
};

// The row of `result`; a download that failed for a cause without a row of its own is told
// as one that failed for no cause named.
const EndRow& RowOf(InstallResult result, FailureCause cause) {
  for (const EndRow& row : kEnds) {
    if (row.result == result && (result != R::kDownloadFailed || row.cause == cause)) return row;
  }
  return result == R::kDownloadFailed ? RowOf(result, C::kOther) : RowOf(R::kLaunchFailed, C::kNone);
}

// The row's message, with its values: the disk's takes the drive, the space needed and the
// space free (never more free than needed: the message says that there is too little).
WideString EndText(const EndRow& row, const EndFigures& figures) {
  WideString text = GetMessageText(row.message);
  if (row.message != kMessageDiskFull) return text;
  const uint64_t needed = figures.space_needed;
  const uint64_t free = figures.space_free < needed ? figures.space_free : needed;
  const WideString needed_text = FormatSize(static_cast<uint32_t>(needed));
  const WideString free_text = FormatSize(static_cast<uint32_t>(free));
  return WideString::Format(text.c_str(), figures.drive, needed_text.c_str(), free_text.c_str());
}

void TellInBox(const EndRow& row, const WideString& message) {
  switch (row.box) {
    case Box::kWithLog:
      win::AppMessageBox(FailureBoxText(message.c_str()).c_str(), MB_OK | row.icon);
      break;
    case Box::kPlain:
      win::AppMessageBox(message.c_str(), MB_OK | row.icon);
      break;
    case Box::kTitled:
      DebugTrace(L"sMessage: %s", message.c_str());
      win::ShowMessageBox(nullptr, message.c_str(), kInstallerTitle, MB_OK | row.icon);
      break;
    case Box::kNone:
      break;
  }
}

void PostToDialogOrExit(HWND dialog, DWORD exit_code) {
  if (dialog == nullptr || !::PostMessageW(dialog, kWorkerEndedMessage, exit_code, 0)) {
    EndRunLog(exit_code);
    ::ExitProcess(exit_code);
  }
}

int32_t StatusMessage(WorkerStatus status) {
  switch (status) {
    case WorkerStatus::kDirectFailed: return kMessageDirectFailed;
    case WorkerStatus::kDefaultProxyFailed: return kMessageDefaultProxyFailed;
    case WorkerStatus::kDownloadComplete: return kMessageDownloadComplete;
  }
  return kNoMessage;
}

}  // namespace

DWORD ExitCodeOf(InstallResult result, FailureCause cause) noexcept { return RowOf(result, cause).exit_code; }

DWORD TellStartEnd(InstallResult result, const wchar_t* name) noexcept {
  const EndRow& row = RowOf(result, C::kNone);
  if (row.message != kNoMessage) {
    const WideString text = GetMessageText(row.message);
    TellInBox(row, name != nullptr ? WideString::Format(text.c_str(), name) : WideString::Copy(text.c_str()));
  }
  return row.exit_code;
}

DialogReport::DialogReport(HWND dialog, EndProcess end_process) noexcept
    : dialog_(dialog), end_process_(end_process != nullptr ? end_process : PostToDialogOrExit) {}

void DialogReport::PauseStatus() { StatusPause.Pause(); }
void DialogReport::ResumeStatus() { StatusPause.Resume(); }

void DialogReport::ShowStatus(WorkerStatus status) {
  const WideString text = GetMessageText(StatusMessage(status));
  DebugTrace(L"sStatus: %s", text.c_str());
  ::SetDlgItemTextW(dialog_, IDC_STATUS_TEXT, text.c_str());
}

SetupLanguage DialogReport::Language() {
  return UiLanguage.load() == kLanguageEnglish ? SetupLanguage::kEnglish : SetupLanguage::kVietnamese;
}

void DialogReport::End(InstallResult result, const EndFigures& figures) {
  const EndRow& row = RowOf(result, figures.cause);
  DebugTrace(L"nInstallResult: %d nExitCode: %d", static_cast<int>(result), static_cast<int>(row.exit_code));
  StatusPause.Pause();
  if (row.message != kNoMessage) {
    if ((row.shows & kOnTaskbar) != 0) ShowFailureOnTaskbar(dialog_);
    const WideString message = EndText(row, figures);
    if ((row.shows & kClearsBar) != 0) ::SendMessageW(::GetDlgItem(dialog_, IDC_PROGRESS), PBM_SETPOS, 0, 0);
    if ((row.shows & kOnStatusLine) != 0) ::SetDlgItemTextW(dialog_, IDC_STATUS_TEXT, message.c_str());
    TellInBox(row, message);
  }
  end_process_(dialog_, row.exit_code);
}
