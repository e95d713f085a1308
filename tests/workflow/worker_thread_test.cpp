#include "workflow/worker_thread.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include <process.h>

#include "app/installer_ends.h"
#include "app/messages.h"
#include "app/status_thread.h"
#include "download/active_downloader.h"
#include "download/http_downloader.h"
#include "tests/support/build_files.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"
#include "win/application.h"
#include "win/protected_folder.h"
#include "workflow/setup_signature.h"
#include "workflow/startup_checks.h"

namespace {

// ---- The launch command line ------------------------------------------------------------------

TEST(LaunchCommandLine, QuotedPathArgumentVerbatimAndTheLanguageSwitch) {
  EXPECT_EQ(std::wstring(FormatLaunchCommandLine(L"C:\\T\\0ab.tmp\\SetupB.exe", L"", SetupLanguage::kEnglish).c_str()),
            L"\"C:\\T\\0ab.tmp\\SetupB.exe\"  /English");
  EXPECT_EQ(std::wstring(FormatLaunchCommandLine(L"C:\\T\\SetupB.exe", L"/q \"x y\"", SetupLanguage::kVietnamese).c_str()),
            L"\"C:\\T\\SetupB.exe\" /q \"x y\" /Vietnamese");
  // No argument at all is the same as an empty one.
  EXPECT_EQ(std::wstring(FormatLaunchCommandLine(L"a.exe", nullptr, SetupLanguage::kVietnamese).c_str()),
            L"\"a.exe\"  /Vietnamese");
}

TEST(LaunchCommandLine, IsFormedWholeHoweverLong) {
  const std::wstring path = L"C:\\" + std::wstring(700, L'p') + L"\\SetupB.exe";
  const std::wstring argument(5000, L'a');
  const std::wstring line = FormatLaunchCommandLine(path.c_str(), argument.c_str(), SetupLanguage::kEnglish).c_str();
  EXPECT_EQ(line, L"\"" + path + L"\" " + argument + L" /English");
}

// ---- The launch, with the platform calls Wine cannot refuse replaced -------------------------

struct LaunchRecord {
  std::wstring command_line;
  std::wstring current_directory;
  bool shell_called = false;
  std::wstring shell_verb, shell_file;
  bool shell_had_parameters = false;
  DWORD create_error = 0;  // when set: the direct start fails with it
  bool shell_ok = true;
  DWORD shell_error = 0;
  bool resume_fails = false;
  bool stop_before_claim = false;
  std::wstring start_instead;  // when set: this program is started instead of the installer
  std::wstring swap_directory;  // when set: the download directory is renamed (it is held)
  DWORD swap_error = 0;         // what that rename met
  std::vector<std::wstring> boxes;  // caption|text|style
  std::vector<DWORD> exit_codes;    // what reached the dialog
  HANDLE process = nullptr;         // the process really started
};
LaunchRecord g_record;

std::wstring FixtureProgram() { return test::Fixture(L"record_args.exe"); }

// Records the call; where the platform would start the installer, starts it for real (a
// program that records its command line and current directory beside itself), or another
// program when the test asks.
BOOL WINAPI FakeCreateProcess(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                              BOOL, DWORD flags, LPVOID, LPCWSTR current_directory, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION process) {
  g_record.command_line = command_line ? command_line : L"";
  g_record.current_directory = current_directory ? current_directory : L"";
  EXPECT_EQ(startup->cb, sizeof(STARTUPINFOW));
  if (g_record.create_error != 0) {
    ::SetLastError(g_record.create_error);
    return FALSE;
  }
  const std::wstring& directory = g_record.swap_directory;
  if (!directory.empty()) {
    g_record.swap_error = ::MoveFileW(directory.c_str(), (directory + L".moved").c_str()) ? 0 : ::GetLastError();
  }
  std::wstring line = g_record.start_instead.empty() ? g_record.command_line : L"\"" + g_record.start_instead + L"\"";
  const BOOL started = ::CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                        current_directory, startup, process);
  if (started) {
    ::DuplicateHandle(::GetCurrentProcess(), process->hProcess, ::GetCurrentProcess(), &g_record.process, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
  }
  return started;
}

BOOL WINAPI FakeShellExecuteEx(SHELLEXECUTEINFOW* info) {
  g_record.shell_called = true;
  g_record.shell_verb = info->lpVerb ? info->lpVerb : L"";
  g_record.shell_file = info->lpFile ? info->lpFile : L"";
  g_record.shell_had_parameters = info->lpParameters != nullptr;
  if (!g_record.shell_ok) ::SetLastError(g_record.shell_error);
  return g_record.shell_ok;
}

DWORD WINAPI FakeResumeThread(HANDLE thread) {
  return g_record.resume_fails ? static_cast<DWORD>(-1) : ::ResumeThread(thread);
}

int FakeMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  EXPECT_EQ(owner, nullptr);
  g_record.boxes.push_back(std::wstring(caption) + L"|" + text + L"|" + std::to_wstring(style));
  return IDOK;
}

void FakeReportEnd(HWND, DWORD exit_code) { g_record.exit_codes.push_back(exit_code); }

// The user's stop lands between the worker's last check and its claim.
void StopBeforeClaim() {
  if (g_record.stop_before_claim) EXPECT_TRUE(TryStop());
}

const WorkerHooks kFakeHooks = {FakeCreateProcess, FakeShellExecuteEx, FakeResumeThread, StopBeforeClaim};

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// (The tests have no application object, so the application's box has no caption here.)
std::wstring ErrorBox(int32_t message) {
  return L"|" + std::wstring(GetMessageText(message).c_str()) + L"|" +
         std::to_wstring(MB_OK | MB_ICONERROR);
}

// A held download directory with a package and an installer in it, and a visible window that
// stands in for the dialog.
class Launch : public testing::Test {
 protected:
  void SetUp() override {
    g_record = LaunchRecord();
    CancelState.store(kCancelRunning);
    SetWorkerHooksForTesting(&kFakeHooks);
    previous_box_ = win::SetMessageBoxForTesting(FakeMessageBox);
    test::ClearPendingDeletions();
    MakeDownload();
    window_ = ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    SetWorkerHooksForTesting(nullptr);
    win::SetMessageBoxForTesting(previous_box_);
    test::ClearPendingDeletions();
    ::DestroyWindow(window_);
    UiLanguage.store(kLanguageVietnamese);
    CancelState.store(kCancelRunning);
    if (g_record.process != nullptr) {
      EXPECT_EQ(::WaitForSingleObject(g_record.process, 30000), WAIT_OBJECT_0) << "the started program did not end";
      ::CloseHandle(g_record.process);
    }
  }
  // A held download directory with its setup's Temp, an installer and a package in it.
  void MakeDownload() {
    ASSERT_TRUE(directory_.Create(dir_.path().c_str()));
    installer_ = std::wstring(directory_.path()) + L"\\SetupB.exe";
    temp_ = std::wstring(directory_.path()) + L"\\Temp";
    ASSERT_TRUE(::CreateDirectoryW(temp_.c_str(), nullptr));
    package_ = std::wstring(directory_.path()) + L"\\Setup.dat";
    ASSERT_TRUE(::CopyFileW(FixtureProgram().c_str(), installer_.c_str(), FALSE));
    test::WriteFileBytes(package_, {'H', 'C', 'S', 'I'});
  }
  LaunchPaths Paths() const { return {installer_.c_str(), package_.c_str(), directory_.path(), temp_.c_str()}; }
  // The launch, holding the installer as the worker does after its check, then its end.
  InstallResult Run(SetupLanguage language) {
    win::UniqueFile held = OpenForLaunch(installer_.c_str());
    EXPECT_TRUE(held.valid());
    const InstallResult result = LaunchInstaller(Paths(), held.get(), directory_.handle(), window_, language);
    held.reset();
    if (g_record.process != nullptr) ::WaitForSingleObject(g_record.process, 30000);
    DialogReport report(window_, FakeReportEnd);
    EndInstallation(result, Paths(), &directory_, report);
    return result;
  }
  // What the started program recorded: its command line, then its working directory.
  std::wstring Record(const std::wstring& program) const {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(program + L".log");
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }
  bool DownloadGone() const {
    return !test::FileExists(installer_) && !test::FileExists(package_) &&
           ::GetFileAttributesW(directory_.path()) == INVALID_FILE_ATTRIBUTES && test::PendingDeletions().empty();
  }
  // The started process was ended before it ran a line of its own.
  void ExpectEndedUnrun(const std::wstring& program) const {
    ASSERT_NE(g_record.process, nullptr);
    DWORD code = 0;
    ::GetExitCodeProcess(g_record.process, &code);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_FALSE(test::FileExists(program + L".log")) << "it ran";
  }

  test::TempDir dir_;
  ProtectedFolder directory_;
  std::wstring installer_, package_, temp_;
  HWND window_ = nullptr;
  win::MessageBoxFunction previous_box_ = nullptr;
};

TEST_F(Launch, StartsTheInstallerInItsOwnDirectoryWithItsCommandLineAndHidesTheDialog) {
  EXPECT_EQ(Run(SetupLanguage::kEnglish), InstallResult::kSetupStarted);
  const WideString argument = GetFirstArgument();
  EXPECT_EQ(g_record.command_line, L"\"" + installer_ + L"\" " + argument.c_str() + L" /English");
  EXPECT_EQ(g_record.current_directory, directory_.path());
  EXPECT_FALSE(::IsWindowVisible(window_));
  EXPECT_FALSE(g_record.shell_called);
  EXPECT_TRUE(g_record.boxes.empty());
  EXPECT_EQ(g_record.exit_codes, std::vector<DWORD>{0});
  // The installer still runs from there: the files stay until the next restart, the
  // directory after the files in it.
  EXPECT_TRUE(test::FileExists(installer_));
  EXPECT_TRUE(test::FileExists(package_));
  const std::vector<std::wstring> pending = test::PendingDeletions();
  ASSERT_EQ(pending.size(), 5u);
  EXPECT_TRUE(EndsWith(pending[0], installer_));
  EXPECT_TRUE(EndsWith(pending[1], package_));
  EXPECT_TRUE(EndsWith(pending[2], installer_));
  EXPECT_TRUE(EndsWith(pending[3], temp_));
  EXPECT_TRUE(EndsWith(pending[4], directory_.path()));
  // Started suspended, found to be the checked file, and let run.
  ASSERT_NE(g_record.process, nullptr);
  EXPECT_EQ(Record(installer_).find(g_record.command_line + L"\n" + directory_.path()), 0u);
  // Once the worker has won, a stop changes nothing.
  EXPECT_FALSE(TryStop());
}

// The download directory cannot be renamed while it is held; and a process started from a
// file other than the checked one (here a copy beside it, as a planted program would be) is
// ended before it runs, the download then counting as rejected.
TEST_F(Launch, TheDirectoryHoldsAndNoOtherImageRuns) {
  g_record.swap_directory = directory_.path();
  const std::wstring planted = dir_.Path(L"planted.exe");
  ASSERT_TRUE(::CopyFileW(FixtureProgram().c_str(), planted.c_str(), FALSE));
  g_record.start_instead = planted;
  EXPECT_EQ(Run(SetupLanguage::kEnglish), InstallResult::kPackageRejected);
  EXPECT_EQ(g_record.swap_error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ExpectEndedUnrun(planted);
  EXPECT_EQ(g_record.boxes, std::vector<std::wstring>{ErrorBox(1)});
  EXPECT_TRUE(DownloadGone());
  EXPECT_EQ(g_record.exit_codes, std::vector<DWORD>{1620});
}

// The stop lands just before the worker claims the end: the suspended setup is ended unrun,
// nothing is told, everything goes, and the exit code says the user stopped.
TEST_F(Launch, AStopJustBeforeTheClaimWinsAndNothingRuns) {
  g_record.stop_before_claim = true;
  EXPECT_EQ(Run(SetupLanguage::kEnglish), InstallResult::kStoppedByUser);
  ExpectEndedUnrun(installer_);
  EXPECT_TRUE(g_record.boxes.empty());
  EXPECT_TRUE(DownloadGone());
  EXPECT_EQ(g_record.exit_codes, std::vector<DWORD>{1602});
  EXPECT_FALSE(ClaimEnd());
}

TEST_F(Launch, ElevatedStartOnlyWhenElevationIsRequiredAndWithoutParameters) {
  g_record.create_error = 740;  // ERROR_ELEVATION_REQUIRED
  EXPECT_EQ(Run(SetupLanguage::kVietnamese), InstallResult::kSetupStarted);
  EXPECT_TRUE(g_record.shell_called);
  EXPECT_EQ(g_record.shell_verb, L"runas");
  EXPECT_EQ(g_record.shell_file, installer_);
  EXPECT_FALSE(g_record.shell_had_parameters);
  EXPECT_TRUE(g_record.boxes.empty());
  EXPECT_EQ(test::PendingDeletions().size(), 5u);
  EXPECT_EQ(g_record.exit_codes, std::vector<DWORD>{0});
}

TEST_F(Launch, DeclinedElevationTellsTheUserAndDeletesEverything) {
  g_record.create_error = 740;
  g_record.shell_ok = false;
  g_record.shell_error = ERROR_CANCELLED;
  EXPECT_EQ(Run(SetupLanguage::kVietnamese), InstallResult::kElevationDeclined);
  EXPECT_EQ(g_record.boxes, std::vector<std::wstring>{std::wstring(L"Zuno Office Installation|") +
                                                      GetMessageText(kMessageElevationDeclined).c_str() + L"|" +
                                                      std::to_wstring(MB_OK | MB_ICONINFORMATION)});
  EXPECT_TRUE(DownloadGone());
  EXPECT_EQ(g_record.exit_codes, std::vector<DWORD>{1223});
}

// Every other failure to start is told, removes the download and has its own exit code; the
// shell is not asked unless the platform asked for elevation.
TEST_F(Launch, EveryOtherFailedStartIsToldAndRemovesTheDownload) {
  const struct {
    DWORD create_error;
    bool shell_ok;
    bool resume_fails;
    bool shell_called;
  } cases[] = {{ERROR_FILE_NOT_FOUND, true, false, false},
               {ERROR_ACCESS_DENIED, true, false, false},
               {740, false, false, true},
               {0, true, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.create_error);
    g_record = LaunchRecord();
    CancelState.store(kCancelRunning);
    g_record.create_error = c.create_error;
    g_record.shell_ok = c.shell_ok;
    g_record.shell_error = ERROR_FILE_NOT_FOUND;
    g_record.resume_fails = c.resume_fails;
    if (directory_.handle() == INVALID_HANDLE_VALUE) MakeDownload();
    EXPECT_EQ(Run(SetupLanguage::kEnglish), InstallResult::kLaunchFailed);
    EXPECT_EQ(g_record.shell_called, c.shell_called);
    if (c.resume_fails) ExpectEndedUnrun(installer_);
    EXPECT_EQ(g_record.boxes, std::vector<std::wstring>{ErrorBox(kMessageSetupNotStarted)});
    EXPECT_TRUE(DownloadGone());
    EXPECT_EQ(g_record.exit_codes, std::vector<DWORD>{1603});
    if (g_record.process != nullptr) ::CloseHandle(g_record.process);
    g_record.process = nullptr;
  }
}

// Without a dialog the worker cannot go on: message 3, then the end of the process. When the
// end returns (as the test's does), the worker leaves like on every other way out: nothing
// points at its downloader any more and the status thread reads it no more.
TEST_F(Launch, AWorkerThatEndsLeavesNoDownloaderBehind) {
  DialogReport report(nullptr, FakeReportEnd);
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerThreadProc, &report, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  const DWORD waited = ::WaitForSingleObject(thread, 30000);
  ::CloseHandle(thread);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the worker did not end";
  EXPECT_EQ(g_record.exit_codes, std::vector<DWORD>{1632});
  EXPECT_EQ(g_record.boxes, std::vector<std::wstring>{ErrorBox(3)});
  EXPECT_EQ(ActiveDownloader.load(), nullptr);
  bool written = false;
  StatusPause.WriteUnlessPaused([&] { written = true; });
  EXPECT_FALSE(written) << "the status line was left running";
  StatusPause.Resume();
}

}  // namespace
