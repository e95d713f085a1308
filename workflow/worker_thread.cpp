#include "workflow/worker_thread.h"

#include <commctrl.h>

#include <cwchar>
#include <initializer_list>
#include <utility>

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

const WorkerHooks kPlatformHooks = {::CreateProcessW, ::ShellExecuteExW, ::ResumeThread, nullptr};
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

bool StopRequested() { return CancelState.load() == kCancelConfirmed; }

// Publishes the worker's downloader for the status thread, and on every way out of the
// worker stops the status thread from reading it and takes it back before it goes.
class PublishedDownloader {
 public:
  PublishedDownloader(HttpDownloader* downloader, WorkerReport& report) : report_(report) {
    ActiveDownloader.store(downloader);
  }
  PublishedDownloader(const PublishedDownloader&) = delete;
  PublishedDownloader& operator=(const PublishedDownloader&) = delete;
  ~PublishedDownloader() {
    report_.PauseStatus();
    ActiveDownloader.store(nullptr);
  }

 private:
  WorkerReport& report_;
};

// What a step of the installation returns when the installation goes on.
constexpr InstallResult kGoOn = InstallResult::kSetupStarted;

// The steps of one installation, each returning kGoOn, or how the installation ended.
class Installation {
 public:
  Installation(HttpDownloader* downloader, WorkerReport& report) : downloader_(downloader), report_(report) {}

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
    EndInstallation(result, Paths(), &directory_, report_, figures_);
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
      WorkerStatus status;
      int32_t strategy;
    } fallbacks[] = {{WorkerStatus::kDirectFailed, kDefaultProxyOnly}, {WorkerStatus::kDefaultProxyFailed, kIeProxyOnly}};
    for (const auto& fallback : fallbacks) {
      if (ok || StopRequested() || causes[tried - 1] == FailureCause::kDiskFull) break;
      report_.PauseStatus();
      report_.ShowStatus(fallback.status);
      const bool stopped = win::SleepUnless(kSwitchMessageMs, StopRequested);
      report_.ResumeStatus();
      if (stopped) break;
      ok = downloader_->Download(url.c_str(), package_, progress_, fallback.strategy, nullptr);
      causes[tried++] = downloader_->GetFailureCause();
    }
    DebugTrace(L"zerbo - 1: bRet = %d", ok);
    if (StopRequested()) return InstallResult::kStoppedByUser;
    if (ok) return kGoOn;
    figures_.cause = DecisiveCause(causes, tried);
    if (figures_.cause == FailureCause::kDiskFull) {
      // The drive of the download directory ("C:"), the space needed and the space free there.
      wmemcpy(figures_.drive, directory_.path(), 2);
      figures_.space_needed = downloader_->GetSpaceNeeded();
      figures_.space_free = downloader_->GetSpaceFree();
    }
    return InstallResult::kDownloadFailed;
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
    if (!setup_.valid()) return InstallResult::kPackageRejected;
    const bool ok = IsSignedByPinnedSigner(setup_.get(), installer_, ProductSignerPins()) &&
                    HasVersionAtLeast(installer_, MinimumSetupVersion());
    if (!ok) setup_.reset();
    // Another download would bring the same setup: the user is told it was refused.
    return ok ? kGoOn : InstallResult::kSetupRefused;
  }

  // Message 2 for a moment; a stop meanwhile, or a question still open, is seen here.
  InstallResult Report() {
    DebugTrace(L"zerbo -3");
    report_.PauseStatus();
    report_.ShowStatus(WorkerStatus::kDownloadComplete);
    if (win::SleepUnless(kReportPauseMs, StopRequested)) return InstallResult::kStoppedByUser;
    DebugTrace(L"zerbo -5");
    while (CancelState.load() == kCancelAsking) win::SleepFor(kCheckpointPollMs);
    return StopRequested() ? InstallResult::kStoppedByUser : kGoOn;
  }

  InstallResult Launch() {
    return LaunchInstaller(Paths(), setup_.get(), directory_.handle(), dialog_, report_.Language());
  }

  HttpDownloader* downloader_;
  WorkerReport& report_;
  HWND dialog_ = nullptr;
  HWND progress_ = nullptr;
  ProtectedFolder directory_;
  wchar_t package_[kPathCapacity] = {};
  wchar_t decoded_[kPathCapacity] = {};
  wchar_t installer_[kPathCapacity] = {};
  wchar_t temp_[kPathCapacity] = {};
  win::UniqueFile setup_;
  EndFigures figures_;
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

const WorkerHooks& PlatformWorkerHooks() { return kPlatformHooks; }
void SetWorkerHooksForTesting(const WorkerHooks* hooks) { g_hooks.store(hooks ? hooks : &kPlatformHooks); }

WideString FormatLaunchCommandLine(const wchar_t* installer, const wchar_t* argument, SetupLanguage language) {
  const wchar_t* format = language == SetupLanguage::kEnglish ? L"\"%s\" %s /English" : L"\"%s\" %s /Vietnamese";
  return WideString::Format(format, installer, argument ? argument : L"");
}

InstallResult LaunchInstaller(const LaunchPaths& paths, HANDLE setup_file, HANDLE directory, HWND dialog,
                              SetupLanguage language) {
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

void EndInstallation(InstallResult result, const LaunchPaths& paths, ProtectedFolder* directory, WorkerReport& report,
                     const EndFigures& figures) {
  // A failure is told only if the stop has not won first: then the user's stop is the end.
  if (IsToldFailure(result) && !ClaimEnd(kCancelFailing)) result = InstallResult::kStoppedByUser;
  if (IsToldFailure(result)) DebugTrace(L"zerbo -4");
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
  report.End(result, figures);
}

bool AbandonDownload() noexcept {
  int32_t works = kWorkerWorks;
  if (!g_directory_owner.compare_exchange_strong(works, kDialogAbandoned)) return works == kDialogAbandoned;
  g_published_folder->Release();
  RemoveDownload(g_published_folder->path());
  return true;
}

unsigned __stdcall WorkerThreadProc(void* parameter) {
  WorkerReport& report = *static_cast<WorkerReport*>(parameter);
  const win::ProgramContextScope context;  // for the message boxes this thread shows
  HttpDownloader downloader;
  downloader.SetStopCheck(StopRequested);
  downloader.SetPackageChecks(true);
  const PublishedDownloader published(&downloader, report);
  Installation installation(&downloader, report);
  installation.End(installation.Run());
  return 0;
}
