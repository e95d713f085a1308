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
  const wchar_t* words;  // the log's last line: "Result: <words> (exit code N)"
};

using R = InstallResult;
using C = FailureCause;
constexpr unsigned kFailed = kOnStatusLine | kOnTaskbar;
constexpr unsigned kNotDownloaded = kOnStatusLine | kClearsBar | kOnTaskbar;
constexpr UINT kError = MB_ICONERROR;
constexpr UINT kWarn = MB_ICONEXCLAMATION;

constexpr EndRow kEnds[] = {
    // The worker's.
    {R::kSetupStarted, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitStarted, L"the setup program was started"},
    {R::kStoppedByUser, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitStoppedByUser, L"stopped by the user"},
    {R::kNoDialog, C::kNone, kMessageCannotStart, kError, Box::kWithLog, kFailed, kExitTempUnusable,
     L"the installer's window was not found"},
    {R::kNoDownloadDirectory, C::kNone, kMessageCannotStart, kError, Box::kWithLog, kFailed, kExitTempUnusable,
     L"no download folder could be made in the temporary folder"},
    {R::kDownloadFailed, C::kOther, kMessageDownloadFailed, kError, Box::kWithLog, kNotDownloaded, kExitDownloadFailed,
     L"the package could not be downloaded in any connection mode"},
    {R::kDownloadFailed, C::kSignInPage, kMessageSignInPage, kError, Box::kWithLog, kNotDownloaded, kExitDownloadFailed,
     L"the network answered with a web page (sign-in page) instead of the package"},
    {R::kDownloadFailed, C::kDiskFull, kMessageDiskFull, kError, Box::kWithLog, kNotDownloaded, kExitDiskFull,
     L"not enough disk space for the package and its setup"},
    {R::kDownloadFailed, C::kNoConnection, kMessageNoConnection, kError, Box::kWithLog, kNotDownloaded,
     kExitDownloadFailed, L"the download server could not be reached"},
    {R::kDownloadFailed, C::kNotFound, kMessagePackageNotFound, kError, Box::kWithLog, kNotDownloaded,
     kExitDownloadFailed, L"the package is not on the download server"},
    {R::kDownloadFailed, C::kProxyRefused, kMessageProxyRefused, kError, Box::kWithLog, kNotDownloaded,
     kExitDownloadFailed, L"the proxy server refused the sign-in"},
    {R::kPackageRejected, C::kNone, kMessageDownloadFailed, kError, Box::kWithLog, kNotDownloaded, kExitPackageRejected,
     L"the downloaded package was damaged or incomplete and has been deleted"},
    {R::kSetupRefused, C::kNone, kMessageSetupRefused, kError, Box::kWithLog, kNotDownloaded, kExitPackageRejected,
     L"the downloaded setup is not signed by the maker or is too old, and has been deleted"},
    {R::kMoveFailed, C::kNone, kMessageSetupNotStarted, kError, Box::kWithLog, kFailed, kExitLaunchFailed,
     L"the decoded setup could not be put in place"},
    {R::kLaunchFailed, C::kNone, kMessageSetupNotStarted, kError, Box::kWithLog, kFailed, kExitLaunchFailed,
     L"the setup program could not be started"},
    {R::kElevationDeclined, C::kNone, kMessageElevationDeclined, MB_ICONINFORMATION, Box::kTitled, kOnTaskbar,
     kExitElevationDeclined, L"the user declined the setup's elevation prompt"},
    // The start's, told before the dialog shows.
    {R::kNoAdminRights, C::kNone, kMessageNoAdminRights, kWarn, Box::kPlain, kNothingElse, kExitNoAdminRights,
     L"the installer runs without administrator rights"},
    {R::kRemovalStarted, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitStarted,
     L"the installed product's uninstaller was started; the installer runs again at the next logon"},
    {R::kInstalledProductStays, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitOtherVersionInstalled,
     L"an installed product stays: its removal was declined or its uninstaller did not start"},
    {R::kOlderGenerationInstalled, C::kNone, kMessageOlderGenerationInstalled, kWarn, Box::kWithLog, kNothingElse,
     kExitOtherVersionInstalled, L"an older generation of the product is installed"},
    {R::kCannotStart, C::kNone, kMessageCannotStart, kError, Box::kWithLog, kNothingElse, kExitTempUnusable,
     L"the installer's own path, the temporary folder or a thread failed"},
    {R::kAnotherCopyRunning, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitAnotherCopyRunning,
     L"another copy of the installer is running"},
    {R::kInstalledFilesUnprotected, C::kNone, kMessageFilesUnprotected, kWarn, Box::kWithLog, kNothingElse,
     kExitInstalledFilesUnprotected, L"the installed product's files may be changed by others: its uninstaller was not started"},
    {R::kWindowsLacksUpdate, C::kNone, kMessageMissingUpdate, kError, Box::kTitled, kNothingElse, kExitOldWindows,
     L"Windows lacks the update the safe DLL search needs"},
    {R::kNoWindow, C::kNone, kNoMessage, 0, Box::kNone, kNothingElse, kExitNoWindow,
     L"the installer's window could not be made (no desktop or display)"},
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

DWORD ExitCodeOf(InstallResult result, FailureCause cause) noexcept {
  const EndRow& row = RowOf(result, cause);
  SetRunResult(row.words);
  return row.exit_code;
}

DWORD TellStartEnd(InstallResult result, const wchar_t* name) noexcept {
  const EndRow& row = RowOf(result, C::kNone);
  SetRunResult(row.words);
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
  SetRunResult(row.words);
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
