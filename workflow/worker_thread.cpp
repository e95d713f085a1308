#include "workflow/worker_thread.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <initializer_list>
#include <utility>

#include "app/dialog_messages.h"
#include "app/exit_codes.h"
#include "app/messages.h"
#include "app/progress_line.h"
#include "app/run_log.h"
#include "app/status_thread.h"
#include "download/active_downloader.h"
#include "download/download_source.h"
#include "package/package_file.h"
#include "resources/resource.h"
#include "win/application.h"
#include "win/clock.h"
#include "win/environment.h"
#include "win/protected_folder.h"
#include "win/trace.h"
#include "win/window.h"
#include "workflow/setup_signature.h"
#include "workflow/startup_checks.h"

std::atomic<int32_t> CancelState{kCancelRunning};

namespace {

void ReportEnd(HWND dialog, DWORD exit_code) {
  if (dialog == nullptr || !::PostMessageW(dialog, kWorkerEndedMessage, exit_code, 0)) {
    EndRunLog(exit_code);
    ::ExitProcess(exit_code);
  }
}

const WorkerHooks kPlatformHooks = {::CreateProcessW, ::ShellExecuteExW, ::ResumeThread, ReportEnd, nullptr};
std::atomic<const WorkerHooks*> g_hooks{&kPlatformHooks};

const WorkerHooks& Hooks() { return *g_hooks.load(); }

using win::kPathCapacity;
constexpr DWORD kSwitchMessageMs = 1000;
constexpr DWORD kReportPauseMs = 1500;
constexpr DWORD kCheckpointPollMs = 200;
constexpr DWORD kEndedProcessWaitMs = 5000;
constexpr DWORD kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED (Vista on)

// The directory the worker works in, for the dialog's last resort, which takes it over through
// its one owner. Written once, before it is published.
ProtectedFolder* g_published_folder = nullptr;
// Who has the directory: nobody yet, the worker while it downloads (where a network call may
// hold it for long), the worker afterwards, or the dialog's last resort. Only the worker that
// downloads may be overtaken: everything after the download is its own to finish.
enum DirectoryOwner : int32_t { kNoDirectory, kWorkerWorks, kWorkerEnds, kDialogAbandoned };
std::atomic<int32_t> g_directory_owner{kNoDirectory};

// The worker takes the directory back from the network phase; if the dialog has given up on it
// at this very moment, the process is ending under the worker, which must touch nothing more.
void TakeDirectoryBack() {
  int32_t works = kWorkerWorks;
  if (!g_directory_owner.compare_exchange_strong(works, kWorkerEnds) && works == kDialogAbandoned) {
    ::Sleep(INFINITE);
  }
}

// One row per result: what the user is told and the exit code.
struct EndRow {
  InstallResult result;
  InstallEnd end;
};
constexpr EndRow kEnds[] = {
    {InstallResult::kSetupStarted, {kNoMessage, kExitStarted}},
    {InstallResult::kStoppedByUser, {kNoMessage, kExitStoppedByUser}},
    {InstallResult::kNoDialog, {kMessageCannotStart, kExitTempUnusable}},
    {InstallResult::kNoDownloadDirectory, {kMessageCannotStart, kExitTempUnusable}},
    {InstallResult::kDownloadFailed, {kMessageDownloadFailed, kExitDownloadFailed}},
    {InstallResult::kPackageRejected, {kMessageDownloadFailed, kExitPackageRejected}},
    {InstallResult::kMoveFailed, {kMessageSetupNotStarted, kExitLaunchFailed}},
    {InstallResult::kLaunchFailed, {kMessageSetupNotStarted, kExitLaunchFailed}},
    {InstallResult::kElevationDeclined, {kMessageNeedsAdmin, kExitElevationDeclined}},
    {InstallResult::kSignInPage, {kMessageSignInPage, kExitDownloadFailed}},
    {InstallResult::kDiskFull, {kMessageDiskFull, kExitDiskFull}},
    {InstallResult::kNoConnection, {kMessageNoConnection, kExitDownloadFailed}},
    {InstallResult::kPackageNotFound, {kMessagePackageNotFound, kExitDownloadFailed}},
    {InstallResult::kProxyRefused, {kMessageProxyRefused, kExitDownloadFailed}},
};

bool StopRequested() { return CancelState.load() == kCancelConfirmed; }

// Publishes the worker's downloader for the status thread, and on every way out of the
// worker stops the status thread from reading it and takes it back before it goes.
class PublishedDownloader {
 public:
  explicit PublishedDownloader(HttpDownloader* downloader) { ActiveDownloader.store(downloader); }
  PublishedDownloader(const PublishedDownloader&) = delete;
  PublishedDownloader& operator=(const PublishedDownloader&) = delete;
  ~PublishedDownloader() {
    StatusPause.Pause();
    ActiveDownloader.store(nullptr);
  }
};

// The worker's own texts on the status line; the status thread is paused around them.
void PutStatus(HWND dialog, int32_t message) {
  const WideString text = GetMessageText(message);
  DebugTrace(L"sStatus: %s", text.c_str());
  ::SetDlgItemTextW(dialog, IDC_STATUS_TEXT, text.c_str());
}

// What a step of the installation returns when the installation goes on.
constexpr InstallResult kGoOn = InstallResult::kSetupStarted;

// The steps of one installation, each returning kGoOn, or how the installation ended.
class Installation {
 public:
  explicit Installation(HttpDownloader* downloader) : downloader_(downloader) {}

  InstallResult Run() {
    dialog_ = win::MainWindowHandle();
    if (dialog_ == nullptr) return InstallResult::kNoDialog;
    progress_ = ::GetDlgItem(dialog_, IDC_PROGRESS);
    if (!MakeDirectory()) return InstallResult::kNoDownloadDirectory;
    InstallResult result = Download();
    TakeDirectoryBack();
    if (result == kGoOn) result = Decode();
    if (result == kGoOn) result = Check();
    if (result == kGoOn) result = Report();
    if (result == kGoOn) result = Launch();
    return result;
  }

  void End(InstallResult result) {
    TakeDirectoryBack();
    setup_.reset();
    EndInstallation(result, Paths(), &directory_, dialog_, text_.empty() ? nullptr : text_.c_str());
  }

 private:
  LaunchPaths Paths() const { return {installer_, package_, directory_.path(), temp_}; }

  bool MakeDirectory() {
    if (!directory_.Create()) return false;
    const wchar_t* directory = directory_.path();
    DebugTrace(L"szDirectoryDownload : %s", directory);
    g_published_folder = &directory_;
    g_directory_owner.store(kWorkerWorks);
    const size_t capacity = kPathCapacity;
    _snwprintf(package_, capacity, L"%s\\Setup.dat", directory);
    _snwprintf(decoded_, capacity, L"%s\\DeSetup.dat", directory);
    _snwprintf(installer_, capacity, L"%s\\SetupB.exe", directory);
    _snwprintf(temp_, capacity, L"%s\\Temp", directory);
    DebugTrace(L"szFileSavePath 5: %s", package_);
    // The setup's own temporary folder, as protected as the directory it lies in.
    return ::CreateDirectoryW(temp_, nullptr) != FALSE;
  }

  // Direct, then the default proxy, then the IE settings; one attempt each. A full disk
  // ends the download at once: no other mode would find more room.
  InstallResult Download() {
    WideString url = SelectDownloadUrl();
    FailureCause causes[3] = {};
    size_t tried = 0;
    bool ok = downloader_->Download(url.c_str(), package_, progress_, kDirectOnly, nullptr);
    causes[tried++] = downloader_->GetFailureCause();
    const struct {
      int32_t message;
      int32_t strategy;
    } fallbacks[] = {{kMessageDirectFailed, kDefaultProxyOnly}, {kMessageDefaultProxyFailed, kIeProxyOnly}};
    for (const auto& fallback : fallbacks) {
      if (ok || StopRequested() || causes[tried - 1] == FailureCause::kDiskFull) break;
      StatusPause.Pause();
      PutStatus(dialog_, fallback.message);
      const bool stopped = win::SleepUnless(kSwitchMessageMs, StopRequested);
      StatusPause.Resume();
      if (stopped) break;
      ok = downloader_->Download(url.c_str(), package_, progress_, fallback.strategy, nullptr);
      causes[tried++] = downloader_->GetFailureCause();
    }
    DebugTrace(L"zerbo - 1: bRet = %d", ok);
    if (StopRequested()) return InstallResult::kStoppedByUser;
    if (ok) return kGoOn;
    const InstallResult result = DownloadFailureOf(causes, tried);
    if (result == InstallResult::kDiskFull) text_ = DiskFullText();
    return result;
  }

  // The drive of the download directory ("C:"), the space needed and the space free there.
  WideString DiskFullText() const {
    const WideString drive = WideString::Copy(directory_.path(), 2);
    // Never more than the largest package and its setup (32 bits), and less free than that.
    const uint64_t needed_bytes = downloader_->GetSpaceNeeded();
    const uint64_t free_bytes = downloader_->GetSpaceFree() < needed_bytes ? downloader_->GetSpaceFree() : needed_bytes;
    const WideString needed = FormatSize(static_cast<uint32_t>(needed_bytes));
    const WideString free = FormatSize(static_cast<uint32_t>(free_bytes));
    const WideString format = GetMessageText(kMessageDiskFull);
    return WideString::Format(format.c_str(), drive.c_str(), needed.c_str(), free.c_str());
  }

  // The package checked and decoded, and the setup put under its final name.
  InstallResult Decode() {
    DebugTrace(L"sDecodedPath: %s", decoded_);
    const bool ok = DecodePackageFile(package_, decoded_) == kPackageSuccess;
    DebugTrace(L"zerbo -2 : bRet: %d", ok);
    if (StopRequested()) return InstallResult::kStoppedByUser;
    if (!ok) return InstallResult::kPackageRejected;
    DebugTrace(L"sPathFileRun: %s", installer_);
    if (!::MoveFileExW(decoded_, installer_, MOVEFILE_REPLACE_EXISTING)) {
      DebugTrace(L"MoveFileEx eror: %d", static_cast<int>(::GetLastError()));
      return InstallResult::kMoveFailed;
    }
    return kGoOn;
  }

  // The setup runs only if it is the maker's, no older than the build allows, and it is
  // held from this check to the launch.
  InstallResult Check() {
    setup_ = OpenForLaunch(installer_);
    const bool ok = setup_.valid() && IsSignedByPinnedSigner(setup_.get(), installer_, ProductSignerPins()) &&
                    HasVersionAtLeast(installer_, MinimumSetupVersion());
    if (!ok) setup_.reset();
    return ok ? kGoOn : InstallResult::kPackageRejected;
  }

  // Message 2 for a moment; a stop meanwhile, or a question still open, is seen here.
  InstallResult Report() {
    DebugTrace(L"zerbo -3");
    StatusPause.Pause();
    PutStatus(dialog_, kMessageDownloadComplete);
    if (win::SleepUnless(kReportPauseMs, StopRequested)) return InstallResult::kStoppedByUser;
    DebugTrace(L"zerbo -5");
    while (CancelState.load() == kCancelAsking) win::SleepFor(kCheckpointPollMs);
    return StopRequested() ? InstallResult::kStoppedByUser : kGoOn;
  }

  InstallResult Launch() {
    return LaunchInstaller(Paths(), setup_.get(), directory_.handle(), dialog_, UiLanguage.load());
  }

  HttpDownloader* downloader_;
  HWND dialog_ = nullptr;
  HWND progress_ = nullptr;
  ProtectedFolder directory_;
  wchar_t package_[kPathCapacity] = {};
  wchar_t decoded_[kPathCapacity] = {};
  wchar_t installer_[kPathCapacity] = {};
  wchar_t temp_[kPathCapacity] = {};
  win::UniqueFile setup_;
  WideString text_;  // the end's message, formatted, when it takes values
};

// Ends a process started suspended, and waits until it is gone (its image holds the file).
void EndUnrun(const PROCESS_INFORMATION& process) {
  ::TerminateProcess(process.hProcess, ERROR_CANCELLED);
  ::WaitForSingleObject(process.hProcess, kEndedProcessWaitMs);
}

InstallResult StartElevated(const LaunchPaths& paths, HWND dialog) {
  // No suspended start to compare here: the file and its directory stay held against any
  // rename until the start has returned.
  if (!ClaimEnd()) return InstallResult::kStoppedByUser;
  SHELLEXECUTEINFOW elevated = {};
  elevated.cbSize = sizeof(elevated);
  elevated.fMask = SEE_MASK_NOCLOSEPROCESS;
  elevated.hwnd = dialog;
  elevated.lpVerb = L"runas";
  elevated.lpFile = paths.installer;
  elevated.lpDirectory = paths.directory;
  elevated.nShow = SW_SHOWNORMAL;
  if (Hooks().shell_execute_ex(&elevated)) {
    if (elevated.hProcess != nullptr) ::CloseHandle(elevated.hProcess);
    return InstallResult::kSetupStarted;
  }
  return ::GetLastError() == ERROR_CANCELLED ? InstallResult::kElevationDeclined : InstallResult::kLaunchFailed;
}

}  // namespace

bool TryStop() noexcept {
  int32_t state = CancelState.load();
  while (state == kCancelRunning || state == kCancelAsking) {
    if (CancelState.compare_exchange_weak(state, kCancelConfirmed)) return true;
  }
  return state == kCancelConfirmed;
}

bool ClaimEnd(int32_t claim) noexcept {
  for (;;) {
    int32_t state = kCancelRunning;
    if (CancelState.compare_exchange_strong(state, claim)) return true;
    if (state == kCancelPassed || state == kCancelFailing) return true;
    if (state == kCancelConfirmed) return false;
    win::SleepFor(kCheckpointPollMs);  // the question is open: its answer decides
  }
}

InstallResult DownloadFailureOf(const FailureCause* causes, size_t count) noexcept {
  const auto any = [&](FailureCause wanted) {
    for (size_t i = 0; i < count; ++i) {
      if (causes[i] == wanted) return true;
    }
    return false;
  };
  // Every mode ended for one of `allowed`.
  const auto all_among = [&](std::initializer_list<FailureCause> allowed) {
    for (size_t i = 0; i < count; ++i) {
      if (std::find(allowed.begin(), allowed.end(), causes[i]) == allowed.end()) return false;
    }
    return count != 0;
  };
  if (any(FailureCause::kDiskFull)) return InstallResult::kDiskFull;
  if (any(FailureCause::kSignInPage)) return InstallResult::kSignInPage;
  if (any(FailureCause::kProxyRefused)) return InstallResult::kProxyRefused;
  if (all_among({FailureCause::kNoConnection})) return InstallResult::kNoConnection;
  if (all_among({FailureCause::kNoConnection, FailureCause::kNotFound})) return InstallResult::kPackageNotFound;
  return InstallResult::kDownloadFailed;
}

InstallEnd EndOf(InstallResult result) noexcept {
  for (const EndRow& row : kEnds) {
    if (row.result == result) return row.end;
  }
  return {kMessageSetupNotStarted, kExitLaunchFailed};
}

const WorkerHooks& PlatformWorkerHooks() { return kPlatformHooks; }
void SetWorkerHooksForTesting(const WorkerHooks* hooks) { g_hooks.store(hooks ? hooks : &kPlatformHooks); }

WideString FormatLaunchCommandLine(const wchar_t* installer, const wchar_t* argument, int32_t language) {
  const wchar_t* format = language == kLanguageEnglish ? L"\"%s\" %s /English" : L"\"%s\" %s /Vietnamese";
  return WideString::Format(format, installer, argument ? argument : L"");
}

InstallResult LaunchInstaller(const LaunchPaths& paths, HANDLE setup_file, HANDLE directory, HWND dialog,
                              int32_t language) {
  const WorkerHooks& hooks = Hooks();
  ::ShowWindow(dialog, SW_HIDE);
  WideString argument = GetFirstArgument();
  WideString command_line = FormatLaunchCommandLine(paths.installer, argument.c_str(), language);
  const win::UniqueLocalMemory environment = paths.temp != nullptr ? SetupEnvironment(paths.temp) : win::UniqueLocalMemory();
  if (command_line.empty() || !environment) return InstallResult::kLaunchFailed;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // Its own directory as the current one: the only folder it may look in for a DLL first
  // is the one that only administrators can write.
  if (!hooks.create_process(nullptr, const_cast<wchar_t*>(command_line.c_str()), nullptr, nullptr, FALSE,
                            CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.get(), paths.directory, &startup,
                            &process)) {
    const DWORD error = ::GetLastError();
    DebugTrace(L"CreateProcess error: %d", static_cast<int>(error));
    return error == kElevationRequired ? StartElevated(paths, dialog) : InstallResult::kLaunchFailed;
  }
  const win::UniqueKernelHandle process_handle(process.hProcess);
  const win::UniqueKernelHandle thread_handle(process.hThread);
  // The path may lead elsewhere by now; only the file that was checked may run, from the
  // directory that was held.
  const bool same = RunsFile(process.hProcess, setup_file, directory);
  DebugTrace(L"bSameImage: %d", same ? 1 : 0);
  if (!same) {
    EndUnrun(process);
    return InstallResult::kPackageRejected;
  }
  if (hooks.before_claim != nullptr) hooks.before_claim();
  if (!ClaimEnd()) {
    EndUnrun(process);
    return InstallResult::kStoppedByUser;
  }
  if (hooks.resume_thread(process.hThread) == static_cast<DWORD>(-1)) {
    EndUnrun(process);
    return InstallResult::kLaunchFailed;
  }
  return InstallResult::kSetupStarted;
}

void RemoveDownload(const wchar_t* directory) noexcept {
  if (directory == nullptr || directory[0] == L'\0') return;
  WIN32_FIND_DATAW entry;
  const WideString pattern = WideString::Format(L"%s\\*", directory);
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      // The setup's temp folder is the installer's only folder there, and empty unless a setup
      // ran: a full one stays, and with it the download directory, until the restart.
      const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (folder && (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)) continue;
      const WideString path = WideString::Format(L"%s\\%s", directory, entry.cFileName);
      DeleteNowOrAtRestart(path.c_str(), folder);
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
  }
  DeleteNowOrAtRestart(directory, true);
}

void EndInstallation(InstallResult result, const LaunchPaths& paths, ProtectedFolder* directory, HWND dialog,
                     const wchar_t* text) {
  // A failure (an end with a message) is told only if the stop has not won first: then the
  // user's stop is the end.
  if (EndOf(result).message != kNoMessage && !ClaimEnd(kCancelFailing)) result = InstallResult::kStoppedByUser;
  const InstallEnd end = EndOf(result);
  const bool failed = end.message != kNoMessage;
  if (failed) DebugTrace(L"zerbo -4");
  DebugTrace(L"nInstallResult: %d nExitCode: %d", static_cast<int>(result), static_cast<int>(end.exit_code));
  if (directory != nullptr) directory->Release();
  if (result == InstallResult::kSetupStarted) {
    // The setup runs from there: its files go at the next restart, the directory after them
    // (the installer is named twice, as the package path that became it).
    for (const wchar_t* path : {paths.installer, paths.downloaded, paths.installer, paths.temp, paths.directory}) {
      if (path != nullptr && path[0] != L'\0') ::MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
  } else {
    RemoveDownload(paths.directory);
  }
  StatusPause.Pause();
  if (failed) {
    ShowFailureOnTaskbar(dialog);
    const WideString message = text != nullptr ? WideString::Copy(text) : GetMessageText(end.message);
    if (result == InstallResult::kElevationDeclined) {
      DebugTrace(L"sMessage: %s", message.c_str());
      // The dialog is gone by then: a box of its own, with the dialog's title.
      win::ShowMessageBox(nullptr, message.c_str(), kInstallerTitle, MB_OK | MB_ICONINFORMATION);
    } else {
      if (end.message == kMessageDownloadFailed || end.exit_code == kExitDownloadFailed || end.exit_code == kExitDiskFull) {
        ::SendMessageW(::GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, 0, 0);
      }
      ::SetDlgItemTextW(dialog, IDC_STATUS_TEXT, message.c_str());
      win::AppMessageBox(FailureBoxText(message.c_str()).c_str(), MB_OK | MB_ICONERROR);
    }
  }
  Hooks().report_end(dialog, end.exit_code);
}

bool AbandonDownload() noexcept {
  int32_t works = kWorkerWorks;
  if (!g_directory_owner.compare_exchange_strong(works, kDialogAbandoned)) return works == kDialogAbandoned;
  g_published_folder->Release();
  RemoveDownload(g_published_folder->path());
  return true;
}

unsigned __stdcall WorkerThreadProc(void*) {
  const win::ProgramContextScope context;  // for the message boxes this thread shows
  HttpDownloader downloader;
  downloader.SetStopCheck(StopRequested);
  downloader.SetPackageChecks(true);
  const PublishedDownloader published(&downloader);
  Installation installation(&downloader);
  installation.End(installation.Run());
  return 0;
}
