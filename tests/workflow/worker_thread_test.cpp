#include "workflow/worker_thread.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include <process.h>

#include "app/messages.h"
#include "app/status_thread.h"
#include "download/active_downloader.h"
#include "win/application.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"
#include "workflow/setup_signature.h"
#include "workflow/startup_checks.h"

namespace {

// ---- The launch command line ------------------------------------------------------------------

TEST(LaunchCommandLine, QuotedPathArgumentVerbatimAndTheLanguageSwitch) {
  EXPECT_EQ(std::wstring(FormatLaunchCommandLine(L"C:\\T\\0ab.tmp\\SetupB.exe", L"", kLanguageEnglish).c_str()),
            L"\"C:\\T\\0ab.tmp\\SetupB.exe\"  /English");
  EXPECT_EQ(std::wstring(FormatLaunchCommandLine(L"C:\\T\\SetupB.exe", L"/q \"x y\"", kLanguageVietnamese).c_str()),
            L"\"C:\\T\\SetupB.exe\" /q \"x y\" /Vietnamese");
  // No argument at all is the same as an empty one.
  EXPECT_EQ(std::wstring(FormatLaunchCommandLine(L"a.exe", nullptr, kLanguageVietnamese).c_str()),
            L"\"a.exe\"  /Vietnamese");
}

TEST(LaunchCommandLine, IsFormedWholeHoweverLong) {
  const std::wstring path = L"C:\\" + std::wstring(700, L'p') + L"\\SetupB.exe";
  const std::wstring argument(5000, L'a');
  const std::wstring line = FormatLaunchCommandLine(path.c_str(), argument.c_str(), kLanguageEnglish).c_str();
  EXPECT_EQ(line, L"\"" + path + L"\" " + argument + L" /English");
}

// ---- The launch, with the platform calls Wine cannot refuse replaced -------------------------

struct LaunchRecord {
  std::wstring command_line;
  bool shell_called = false;
  std::wstring shell_verb, shell_file;
  bool shell_had_parameters = false;
  bool create_ok = true;
  bool shell_ok = true;
  DWORD shell_error = 0;
  std::vector<std::wstring> boxes;  // caption|text|style
  int ends = 0;
  std::wstring swap_directory;  // when set: the directory is swapped for one with another program
  std::wstring planted;         // the program planted there
  HANDLE process = nullptr;     // the process really started
};
LaunchRecord g_record;

std::wstring FixtureProgram() { return std::wstring(_wgetenv(L"ZUNO_FIXTURES_DIR")) + L"\\record_args.exe"; }

// Records the call; where the platform would start the installer, starts it for real (a
// program that records its command line beside itself), after a swap when one is asked for.
BOOL WINAPI FakeCreateProcess(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                              BOOL, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION process) {
  g_record.command_line = command_line ? command_line : L"";
  EXPECT_EQ(startup->cb, sizeof(STARTUPINFOW));
  if (!g_record.create_ok) {
    ::SetLastError(740);  // ERROR_ELEVATION_REQUIRED
    return FALSE;
  }
  const std::wstring& directory = g_record.swap_directory;
  if (!directory.empty()) {
    EXPECT_TRUE(::MoveFileW(directory.c_str(), (directory + L".moved").c_str())) << ::GetLastError();
    EXPECT_TRUE(::CreateDirectoryW(directory.c_str(), nullptr));
    EXPECT_TRUE(::CopyFileW(FixtureProgram().c_str(), g_record.planted.c_str(), FALSE));
  }
  const BOOL started = ::CreateProcessW(application, command_line, nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                                        startup, process);
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

int FakeMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
  EXPECT_EQ(owner, nullptr);
  g_record.boxes.push_back(std::wstring(caption) + L"|" + text + L"|" + std::to_wstring(style));
  return IDOK;
}

void FakeEndProcess() { ++g_record.ends; }

const WorkerHooks kFakeHooks = {FakeCreateProcess, FakeShellExecuteEx, FakeEndProcess};

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A download directory with a package and an installer in it, and a visible window that
// stands in for the dialog.
class Launch : public testing::Test {
 protected:
  void SetUp() override {
    g_record = LaunchRecord();
    SetWorkerHooksForTesting(&kFakeHooks);
    previous_box_ = win::SetMessageBoxForTesting(FakeMessageBox);
    test::ClearPendingDeletions();
    directory_ = dir_.Path(L"0abcd.tmp");
    ASSERT_TRUE(::CreateDirectoryW(directory_.c_str(), nullptr));
    installer_ = directory_ + L"\\SetupB.exe";
    package_ = directory_ + L"\\Setup.dat";
    ASSERT_TRUE(::CopyFileW(FixtureProgram().c_str(), installer_.c_str(), FALSE));
    test::WriteFileBytes(package_, {'H', 'C', 'S', 'I'});
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
    if (g_record.process != nullptr) {
      EXPECT_EQ(::WaitForSingleObject(g_record.process, 30000), WAIT_OBJECT_0) << "the started program did not end";
      ::CloseHandle(g_record.process);
    }
  }
  // The launch, holding the installer as the worker does after its check.
  void Run(int32_t language) {
    win::UniqueFile held = OpenForLaunch(installer_.c_str());
    ASSERT_TRUE(held.valid());
    LaunchInstaller({installer_.c_str(), package_.c_str(), directory_.c_str()}, std::move(held), window_, language);
  }
  // What the started program recorded: its command line, then its working directory.
  std::wstring Record(const std::wstring& program) const {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(program + L".log");
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }

  test::TempDir dir_;
  std::wstring directory_, installer_, package_;
  HWND window_ = nullptr;
  win::MessageBoxFunction previous_box_ = nullptr;
};

TEST_F(Launch, StartsTheInstallerWithItsCommandLineAndHidesTheDialog) {
  Run(kLanguageEnglish);
  const WideString argument = GetFirstArgument();
  EXPECT_EQ(g_record.command_line, L"\"" + installer_ + L"\" " + argument.c_str() + L" /English");
  EXPECT_FALSE(::IsWindowVisible(window_));
  EXPECT_FALSE(g_record.shell_called);
  EXPECT_TRUE(g_record.boxes.empty());
  EXPECT_EQ(g_record.ends, 1);
  // The installer still runs from there: the files stay until the next restart, the
  // directory after the files in it.
  EXPECT_TRUE(test::FileExists(installer_));
  EXPECT_TRUE(test::FileExists(package_));
  const std::vector<std::wstring> pending = test::PendingDeletions();
  ASSERT_EQ(pending.size(), 4u);
  EXPECT_TRUE(EndsWith(pending[0], installer_));
  EXPECT_TRUE(EndsWith(pending[1], package_));
  EXPECT_TRUE(EndsWith(pending[2], installer_));
  EXPECT_TRUE(EndsWith(pending[3], directory_));
  // Started suspended, found to be the checked file, and let run.
  ASSERT_NE(g_record.process, nullptr);
  ASSERT_EQ(::WaitForSingleObject(g_record.process, 30000), WAIT_OBJECT_0);
  EXPECT_EQ(Record(installer_).find(g_record.command_line + L"\n"), 0u);
}

// Between the check and the start the directory is renamed and another program put where the
// installer was: the process started from that path is ended before it runs, and the download
// counts as failed.
TEST_F(Launch, AFileSwappedBeforeTheStartNeverRuns) {
  g_record.swap_directory = directory_;
  g_record.planted = installer_;
  Run(kLanguageEnglish);
  ASSERT_NE(g_record.process, nullptr);
  ASSERT_EQ(::WaitForSingleObject(g_record.process, 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  ::GetExitCodeProcess(g_record.process, &code);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(test::FileExists(installer_ + L".log")) << "the planted program ran";
  ASSERT_EQ(g_record.boxes.size(), 1u);
  EXPECT_NE(g_record.boxes[0].find(GetMessageText(1).c_str()), std::wstring::npos);
  EXPECT_FALSE(test::FileExists(installer_));
  EXPECT_TRUE(test::PendingDeletions().empty());
  EXPECT_EQ(g_record.ends, 1);
}

TEST_F(Launch, ElevatedStartGetsNoParametersAndTheFilesGo) {
  g_record.create_ok = false;
  Run(kLanguageVietnamese);
  EXPECT_TRUE(g_record.shell_called);
  EXPECT_EQ(g_record.shell_verb, L"runas");
  EXPECT_EQ(g_record.shell_file, installer_);
  EXPECT_FALSE(g_record.shell_had_parameters);
  EXPECT_TRUE(g_record.boxes.empty());
  EXPECT_FALSE(test::FileExists(installer_));
  EXPECT_FALSE(test::FileExists(package_));
  EXPECT_EQ(::GetFileAttributesW(directory_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(g_record.ends, 1);
}

TEST_F(Launch, DeclinedElevationTellsTheUserAndDeletesEverything) {
  for (int32_t language : {kLanguageVietnamese, kLanguageEnglish}) {
    SCOPED_TRACE(language);
    UiLanguage.store(language);
    g_record = LaunchRecord();
    g_record.create_ok = false;
    g_record.shell_ok = false;
    g_record.shell_error = ERROR_CANCELLED;
    ::CreateDirectoryW(directory_.c_str(), nullptr);
    test::WriteFileBytes(installer_, {'M', 'Z'});
    test::WriteFileBytes(package_, {'H'});
    Run(language);
    ASSERT_EQ(g_record.boxes.size(), 1u);
    EXPECT_EQ(g_record.boxes[0], std::wstring(L"Zuno Office Installation|") + GetMessageText(6).c_str() + L"|" +
                                     std::to_wstring(MB_OK | MB_ICONINFORMATION));
    EXPECT_FALSE(test::FileExists(installer_));
    EXPECT_FALSE(test::FileExists(package_));
    EXPECT_EQ(::GetFileAttributesW(directory_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(test::PendingDeletions().empty());
    EXPECT_EQ(g_record.ends, 1);
  }
}

// Without a dialog the worker cannot go on: message 3, then the end of the process. When the
// end returns (as the test's does), the worker leaves like on every other way out: nothing
// points at its downloader any more and the status thread reads it no more.
TEST_F(Launch, AWorkerThatEndsLeavesNoDownloaderBehind) {
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerThreadProc, nullptr, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  const DWORD waited = ::WaitForSingleObject(thread, 30000);
  ::CloseHandle(thread);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the worker did not end";
  EXPECT_EQ(g_record.ends, 1);
  ASSERT_EQ(g_record.boxes.size(), 1u);
  EXPECT_NE(g_record.boxes[0].find(GetMessageText(3).c_str()), std::wstring::npos);
  EXPECT_EQ(ActiveDownloader.load(), nullptr);
  bool written = false;
  StatusPause.WriteUnlessPaused([&] { written = true; });
  EXPECT_FALSE(written) << "the status line was left running";
  StatusPause.Resume();
}

TEST_F(Launch, AnyOtherFailureIsSilentAndKeepsTheFilesForTheRestart) {
  g_record.create_ok = false;
  g_record.shell_ok = false;
  g_record.shell_error = ERROR_FILE_NOT_FOUND;
  Run(kLanguageEnglish);
  EXPECT_TRUE(g_record.boxes.empty());
  EXPECT_TRUE(test::FileExists(installer_));
  EXPECT_EQ(test::PendingDeletions().size(), 4u);
  EXPECT_EQ(g_record.ends, 1);
}

}  // namespace
