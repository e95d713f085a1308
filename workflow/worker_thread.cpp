#include "workflow/worker_thread.h"

#include <commctrl.h>

#include <cwchar>
#include <initializer_list>
#include <utility>

#include "app/messages.h"
#include "app/status_thread.h"
#include "download/active_downloader.h"
#include "download/download_source.h"
#include "package/package_file.h"
#include "package/trace.h"
#include "resources/resource.h"
#include "win/clock.h"
#include "win/application.h"
#include "win/window.h"
#include "workflow/setup_signature.h"
#include "workflow/startup_checks.h"

std::atomic<int32_t> CancelState{kCancelRunning};

namespace {

void EndProcess() { ::ExitProcess(0); }

const WorkerHooks kPlatformHooks = {::CreateProcessW, ::ShellExecuteExW, EndProcess};
std::atomic<const WorkerHooks*> g_hooks{&kPlatformHooks};

const WorkerHooks& Hooks() { return *g_hooks.load(); }

constexpr size_t kPathCapacity = 1024;
constexpr DWORD kSwitchMessageMs = 1000;
constexpr DWORD kReportPauseMs = 1500;
constexpr DWORD kCheckpointPollMs = 200;
constexpr DWORD kEndedProcessWaitMs = 5000;
constexpr wchar_t kTitle[] = L"Zuno Office Installation";

void ErrorBox(int32_t message) { win::AppMessageBox(GetMessageText(message).c_str(), MB_OK | MB_ICONERROR); }

// Tells the user and ends the process. Returns only when a test's end hook returned; the
// worker then leaves through its own scope like on every other way out.
unsigned FailAndEnd(int32_t message) {
  ErrorBox(message);
  Hooks().end_process();
  return 0;
}

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
class StatusLine {
 public:
  explicit StatusLine(HWND control) : control_(control) {}
  void Put(int32_t message) {
    text_ = GetMessageText(message);
    ::SetWindowTextW(control_, text_.c_str());
  }

 private:
  HWND control_;
  WideString text_;
};

bool CopyInto(wchar_t* buffer, const wchar_t* text) {
  const size_t length = wcslen(text);
  if (length >= kPathCapacity) return false;
  wmemcpy(buffer, text, length + 1);
  return true;
}

bool Append(wchar_t* buffer, const wchar_t* text) {
  const size_t used = wcslen(buffer);
  const size_t length = wcslen(text);
  if (used + length >= kPathCapacity) return false;
  wmemcpy(buffer + used, text, length + 1);
  return true;
}

void DeleteIfNamed(const WideString& path) {
  if (!path.empty()) ::DeleteFileW(path.c_str());
}

void DeleteDownload(const LaunchPaths& paths) {
  ::DeleteFileW(paths.downloaded);
  ::DeleteFileW(paths.installer);
  ::RemoveDirectoryW(paths.directory);
}

}  // namespace

const WorkerHooks& PlatformWorkerHooks() { return kPlatformHooks; }
void SetWorkerHooksForTesting(const WorkerHooks* hooks) { g_hooks.store(hooks ? hooks : &kPlatformHooks); }

WideString FormatLaunchCommandLine(const wchar_t* installer, const wchar_t* argument, int32_t language) {
  const wchar_t* format = language == kLanguageEnglish ? L"\"%s\" %s /English" : L"\"%s\" %s /Vietnamese";
  return WideString::Format(format, installer, argument ? argument : L"");
}

void LaunchInstaller(const LaunchPaths& paths, win::UniqueFile setup_file, HWND dialog, int32_t language) {
  const WorkerHooks& hooks = Hooks();
  ::ShowWindow(dialog, SW_HIDE);
  WideString argument = GetFirstArgument();
  WideString command_line = FormatLaunchCommandLine(paths.installer, argument.c_str(), language);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  // The handles are left open: the installer is not waited for, and the process ends next.
  BOOL started = !command_line.empty() &&
                 hooks.create_process(nullptr, const_cast<wchar_t*>(command_line.c_str()), nullptr, nullptr, FALSE,
                                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  if (started) {
    // The path may lead elsewhere by now; only the file that was checked may run.
    const bool same = RunsFile(process.hProcess, setup_file.get());
    DebugTrace(L"bSameImage: %d", same ? 1 : 0);
    if (!same) {
      ::TerminateProcess(process.hProcess, ERROR_ACCESS_DENIED);
      // Gone before its files are deleted (its image holds the file until then).
      ::WaitForSingleObject(process.hProcess, kEndedProcessWaitMs);
      setup_file.reset();
      DeleteDownload(paths);
      ErrorBox(1);
      hooks.end_process();
      return;
    }
    ::ResumeThread(process.hThread);
  } else {
    // No suspended start to compare here: the file and its directory are held against any
    // rename until the start has returned.
    win::UniqueFile directory(::CreateFileW(paths.directory, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    SHELLEXECUTEINFOW elevated = {};
    elevated.cbSize = sizeof(elevated);
    elevated.fMask = SEE_MASK_NOCLOSEPROCESS;
    elevated.hwnd = dialog;
    elevated.lpVerb = L"runas";
    elevated.lpFile = paths.installer;
    elevated.nShow = SW_SHOWNORMAL;
    const bool elevated_started = hooks.shell_execute_ex(&elevated) != FALSE;
    const DWORD error = ::GetLastError();
    directory.reset();
    setup_file.reset();
    if (elevated_started) {
      ::EndDialog(dialog, 0);
      DeleteDownload(paths);
    } else if (error == ERROR_CANCELLED) {
      win::ShowMessageBox(nullptr, GetMessageText(6).c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
      DeleteDownload(paths);
      hooks.end_process();
      return;
    }
  }
  // Whatever is still there goes at the next restart; the directory after its files.
  for (const wchar_t* path : {paths.installer, paths.downloaded, paths.installer, paths.directory}) {
    ::MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  hooks.end_process();
}

unsigned __stdcall WorkerThreadProc(void*) {
  HttpDownloader own_downloader;
  HttpDownloader* downloader = &own_downloader;
  const PublishedDownloader published(downloader);
  WideString url = SelectDownloadUrl();

  const win::Application* app = win::Application::Current();
  const win::Window* main = app != nullptr ? app->MainWindow() : nullptr;
  HWND dialog = main != nullptr ? main->hwnd() : nullptr;
  if (dialog == nullptr) return FailAndEnd(3);
  HWND progress = ::GetDlgItem(dialog, IDC_PROGRESS);
  StatusLine status(::GetDlgItem(dialog, IDC_STATUS_TEXT));

  // The private download directory: a unique name made as a file, then turned into a directory.
  wchar_t file_save_path[kPathCapacity] = {};
  wchar_t temp_dir[kPathCapacity] = {};
  wchar_t directory_download[kPathCapacity] = {};
  const DWORD temp_length = ::GetTempPathW(kPathCapacity, file_save_path);
  if (temp_length == 0 || temp_length >= MAX_PATH) return FailAndEnd(3);
  DebugTrace(L"szFileSavePath 1: %s", file_save_path);
  if (file_save_path[wcslen(file_save_path) - 1] != L'\\') Append(file_save_path, L"\\");
  DebugTrace(L"szFileSavePath 2: %s", file_save_path);
  CopyInto(temp_dir, file_save_path);
  if (::GetTempFileNameW(temp_dir, L"0", 0, file_save_path) == 0) return FailAndEnd(3);
  if (!::DeleteFileW(file_save_path)) return FailAndEnd(3);
  if (!CreateAdminOnlyDirectory(file_save_path)) return FailAndEnd(3);
  DebugTrace(L"szFileSavePath 3: %s", file_save_path);
  CopyInto(directory_download, file_save_path);
  DebugTrace(L"szFileSavePath 4: %s", file_save_path);
  Append(file_save_path, L"\\Setup.dat");
  DebugTrace(L"szDirectoryDownload : %s", directory_download);
  DebugTrace(L"szFileSavePath 5: %s", file_save_path);
  WideString decoded_path = WideString::Format(L"%s\\%s", directory_download, L"DeSetup.dat");

  // Direct, then the default proxy, then the IE settings; one attempt each.
  BOOL ok = downloader->Download(url.c_str(), file_save_path, progress, kDirectOnly, nullptr);
  const struct {
    int32_t message;
    int32_t strategy;
  } fallbacks[] = {{4, kDefaultProxyOnly}, {5, kIeProxyOnly}};
  for (const auto& fallback : fallbacks) {
    if (ok) break;
    StatusPause.Pause();
    status.Put(fallback.message);
    win::SleepFor(kSwitchMessageMs);
    StatusPause.Resume();
    ok = downloader->Download(url.c_str(), file_save_path, progress, fallback.strategy, nullptr);
  }
  DebugTrace(L"zerbo - 1: bRet = %d", ok);

  WideString downloaded_path;
  WideString run_path;
  if (ok) {
    DebugTrace(L"sDecodedPath: %s", decoded_path.c_str());
    ok = DecodePackageFile(file_save_path, decoded_path.c_str()) == kPackageSuccess;
    downloaded_path = WideString::Copy(file_save_path);
    DebugTrace(L"zerbo -2 : bRet: %d", ok);
    run_path = WideString::Format(L"%s\\%s", directory_download, L"SetupB.exe");
    DebugTrace(L"sPathFileRun: %s", run_path.c_str());
    DebugTrace(L"sDownloadedPath: %s", downloaded_path.c_str());
    // A package that failed its checks is not moved: it goes to the failure report, so the
    // user is told and nothing is left behind.
    if (ok) {
      if (!::MoveFileExW(decoded_path.c_str(), run_path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DebugTrace(L"MoveFileEx eror: %d", static_cast<int>(::GetLastError()));
        Hooks().end_process();
        return 0;
      }
      CopyInto(file_save_path, run_path.c_str());
      DebugTrace(L"szFileSavePath: %s", file_save_path);
    }
  }
  // The setup runs only if it is the maker's, and it is held from this check to the launch.
  win::UniqueFile setup;
  if (ok) {
    setup = OpenForLaunch(run_path.c_str());
    ok = setup.valid() && IsSignedByPinnedSigner(setup.get(), run_path.c_str(), ProductSignerPins());
    if (!ok) setup.reset();  // the failure report deletes it
  }

  // The report. From here the status thread stays paused for good.
  if (ok) {
    DebugTrace(L"zerbo -3");
    StatusPause.Pause();
    status.Put(2);
    win::SleepFor(kReportPauseMs);
  } else {
    DebugTrace(L"zerbo -4");
    DeleteIfNamed(downloaded_path);
    DeleteIfNamed(decoded_path);
    ::DeleteFileW(file_save_path);
    ::RemoveDirectoryW(directory_download);
    StatusPause.Pause();
    ::SendMessageW(progress, PBM_SETPOS, 0, 0);
    status.Put(1);
    ShowFailureOnTaskbar(dialog);
  }

  // The one checkpoint where a confirmed stop is seen.
  DebugTrace(L"zerbo -5");
  int32_t cancel = CancelState.load();
  while (cancel == kCancelAsking) {
    win::SleepFor(kCheckpointPollMs);
    cancel = CancelState.load();
  }
  if (cancel == kCancelConfirmed) return 0;
  CancelState.store(kCancelPassed);
  if (!ok) return FailAndEnd(1);

  LaunchInstaller({file_save_path, downloaded_path.c_str(), directory_download}, std::move(setup), dialog,
                  UiLanguage.load());
  return 0;
}
