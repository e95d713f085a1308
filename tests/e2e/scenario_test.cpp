// End-to-end scenarios: the real installer under Wine, driven by the test driver as a user
// would, against the real servers of the test network (nginx as the download server, the
// forward proxies, the scripted origin), with real registry values and real files. Each
// scenario checks what a user and the machine see afterwards.
//
// The download server's behaviour is set through files in ZUNO_E2E_DIR (see servers.sh):
// www/ holds what it serves, "mode" names the scripted behaviour for anything else,
// "proxy-only" refuses direct requests, "slow" sends at 200 KB/s.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "app/progress_line.h"
#include "app/run_log.h"
#include "download/http_downloader.h"
#include "existing/restart_copy.h"
#include "package/package_codec.h"
#include "tests/download/proxy_settings.h"
#include "tests/existing/installed_product.h"
#include "tests/support/language_scope.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"
#include "win/wide_string.h"

namespace {

std::wstring Env(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value ? value : L"";
}

std::wstring FromUtf8(const std::string& text) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::wstring Text(int32_t message, int32_t language) {
  test::LanguageScope scope(language);
  return GetMessageText(message).c_str();
}

// What the driver reported.
struct Outcome {
  std::vector<std::wstring> lines;
  std::vector<std::wstring> statuses;
  std::vector<std::wstring> progress_lines;
  std::vector<std::wstring> boxes;  // icon|caption|text
  std::wstring dialog;              // title|cancel button
  int exit_code = -1;
  bool timed_out = false;

  bool StatusSeen(const std::wstring& text) const {
    return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
  }
  std::wstring LastStatus() const { return statuses.empty() ? L"" : statuses.back(); }
};

std::wstring Unescape(std::wstring text) {
  for (size_t i = 0; (i = text.find(L"\\n", i)) != std::wstring::npos; ++i) text.replace(i, 2, L"\n");
  return text;
}

// Whether a process of that file name runs now.
bool ProgramRunning(const wchar_t* file_name) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  bool found = false;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found; more = ::Process32NextW(snapshot, &entry)) {
    found = _wcsicmp(entry.szExeFile, file_name) == 0;
  }
  ::CloseHandle(snapshot);
  return found;
}

// Which build of the installer a scenario drives: the product's own, or the one whose pauses
// last a tenth (tests/e2e/fast_clock.cpp), for scenarios that do not turn on their length.
enum class Waits { kTenth, kReal };

// Runs the driver on the installer (`installer` when given), both started in `working_dir`
// (null: the test's own), and collects its report.
Outcome Drive(const std::wstring& driver_options, const std::wstring& installer_arguments = L"",
              Waits waits = Waits::kTenth, std::wstring installer = L"", const wchar_t* working_dir = nullptr) {
  if (installer.empty()) installer = Env(waits == Waits::kReal ? L"ZUNO_SETUP_EXE" : L"ZUNO_SETUP_FAST_EXE");
  std::wstring command = L"\"" + Env(L"ZUNO_DRIVER_EXE") + L"\" --timeout 90 " + driver_options + L" -- \"" +
                         installer + L"\"";
  if (!installer_arguments.empty()) command += L" " + installer_arguments;

  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  ::CreatePipe(&read_end, &write_end, &inherit, 0);
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION process = {};
  Outcome run;
  const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, working_dir,
                                        &startup, &process);
  ::CloseHandle(write_end);
  EXPECT_TRUE(started) << "cannot start the driver: " << ::GetLastError();
  if (!started) {
    ::CloseHandle(read_end);
    return run;
  }
  std::string output;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(read_end, buffer, sizeof(buffer), &got, nullptr) && got > 0) output.append(buffer, got);
  ::CloseHandle(read_end);
  // The driver gives up on the installer after 90 s; it has no reason to outlive that much.
  if (::WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the driver did not end within 120 s";
    ::TerminateProcess(process.hProcess, 1);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);

  size_t begin = 0;
  while (begin < output.size()) {
    size_t end = output.find('\n', begin);
    if (end == std::string::npos) end = output.size();
    std::wstring line = FromUtf8(output.substr(begin, end - begin));
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    begin = end + 1;
    run.lines.push_back(line);
    if (line.rfind(L"STATUS ", 0) == 0) run.statuses.push_back(Unescape(line.substr(7)));
    if (line.rfind(L"LINE ", 0) == 0) run.progress_lines.push_back(line.substr(5));
    if (line.rfind(L"BOX ", 0) == 0) run.boxes.push_back(Unescape(line.substr(4)));
    if (line.rfind(L"DIALOG ", 0) == 0) run.dialog = line.substr(7);
    if (line.rfind(L"EXIT ", 0) == 0) run.exit_code = _wtoi(line.c_str() + 5);
    if (line == L"TIMEOUT") run.timed_out = true;
  }
  return run;
}

// Variables that load code into a process, as a program of the user's may plant them.
constexpr const wchar_t* kPlantedVariables[] = {L"COR_ENABLE_PROFILING", L"COR_PROFILER_PATH", L"DOTNET_STARTUP_HOOKS",
                                                L"COMPlus_DbgJITDebugLaunchSetting", L"ComSpec"};

std::string Narrow(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::string Report(const Outcome& run) {
  std::string text;
  for (const std::wstring& line : run.lines) text += "  " + Narrow(line) + "\n";
  return text;
}

// The system's Temp folder, where the installer makes its download directories.
// (Paths in any case.)
bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() && _wcsicmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

std::wstring SystemTemp() {
  wchar_t windows[MAX_PATH];
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp\\";
}

// The download directories ("0<32 hex digits>.tmp") in the system's Temp folder.
std::set<std::wstring> DownloadDirectories() {
  const std::wstring temp = SystemTemp();
  std::set<std::wstring> found;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((std::wstring(temp) + L"0*.tmp").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) found.insert(std::wstring(temp) + entry.cFileName);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return found;
}

std::vector<std::wstring> FilesIn(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((directory + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(entry.cFileName);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

class Scenario : public testing::Test {
 protected:
  void SetUp() override {
    e2e_ = Env(L"ZUNO_E2E_DIR");
    if (Env(L"ZUNO_NETNS") != L"1" || e2e_.empty()) GTEST_SKIP() << "needs the test network namespace";
    test::ClearProxySettings();
    for (const wchar_t* name : {L"mode", L"proxy-only", L"slow", L"direct-silent", L"moved", L"origin.bin"}) {
      ::DeleteFileW(E2e(name).c_str());
    }
    test::RemoveTree(E2e(L"www"));
    ::CreateDirectoryW(E2e(L"www").c_str(), nullptr);
    PublishPackage(false);
    test::ClearPendingDeletions();
    test::DeleteRunOnceValue(L"ZunoSetup");
    demo_log_ = E2e(L"demo-command-line.txt");
    ::DeleteFileW(demo_log_.c_str());
    // The demo setup's settings, as an administrator would set them: the installer passes on
    // the machine's variables, never its user's own.
    test::SetMachineVariable(L"ZUNO_DEMO_LOG", demo_log_.c_str());
    test::SetMachineVariable(L"ZUNO_DEMO_SECONDS", L"1");
    // What any program of the user's can set for the next ones it starts: never the setup's.
    for (const wchar_t* name : kPlantedVariables) ::SetEnvironmentVariableW(name, L"Z:\\planted\\profiler.dll");
    SetLanguage(kLanguageVietnamese);
    before_ = DownloadDirectories();
  }

  void TearDown() override {
    if (e2e_.empty()) return;
    // The demo setup closes itself a second after it started; then its files can go.
    for (const std::wstring& directory : NewDownloadDirectories()) {
      for (int i = 0; i < 40 && ::GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
        test::RemoveTree(directory);
        if (::GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES) ::Sleep(100);
      }
    }
    test::ClearProxySettings();
    test::ClearPendingDeletions();
    test::DeleteRunOnceValue(L"ZunoSetup");
    test::SetMachineVariable(L"ZUNO_DEMO_LOG", nullptr);
    test::SetMachineVariable(L"ZUNO_DEMO_SECONDS", nullptr);
  }

  std::wstring E2e(const wchar_t* name) const { return e2e_ + L"\\" + name; }
  void Touch(const wchar_t* name, const std::string& content = "") const {
    test::WriteFileBytes(E2e(name), std::vector<uint8_t>(content.begin(), content.end()));
  }
  void SetLanguage(DWORD language) { zuno_key_.Set(L"fGiaodien", REG_DWORD, &language, sizeof(language)); }

  // Both packages of the demo setup, as the maker publishes them; `tampered` flips one
  // byte of the payload so that the digest no longer matches.
  void PublishPackage(bool tampered) const { PublishPackageOf(test::ReadFileBytes(Env(L"ZUNO_DEMO_EXE")), tampered); }
  void PublishPackageOf(const std::vector<uint8_t>& setup, bool tampered = false) const {
    ASSERT_FALSE(setup.empty());
    std::vector<uint8_t> package(kPackageHeaderSize + setup.size());
    ASSERT_TRUE(BuildPackage(setup.data(), static_cast<uint32_t>(setup.size()), 0x5A17C0DEu, package.data()));
    if (tampered) package[package.size() / 2] ^= 0x40;
    test::WriteFileBytes(E2e(L"www\\OG3tup2015X64.exe"), package);
    test::WriteFileBytes(E2e(L"www\\OG3tup2015.exe"), package);
  }
  // The package served by the scripted origin instead, as /resume/KEY/OPTIONS (see
  // fault_server.py); returns the file where the origin records each request it gets, a
  // line each: "range=R if-range=I status=S sent=N".
  std::wstring ServeFromOrigin(const std::wstring& options) const {
    const std::vector<uint8_t> package = test::ReadFileBytes(E2e(L"www\\OG3tup2015.exe"));
    test::WriteFileBytes(E2e(L"origin.bin"), package);
    Unpublish();
    const std::wstring key = L"origin" + std::to_wstring(::GetTickCount());
    const std::wstring mode = L"resume/" + key + L"/" + options;
    Touch(L"mode", std::string(mode.begin(), mode.end()));
    return E2e((L"requests-" + key + L".log").c_str());
  }
  void Unpublish() const {
    ::DeleteFileW(E2e(L"www\\OG3tup2015X64.exe").c_str());
    ::DeleteFileW(E2e(L"www\\OG3tup2015.exe").c_str());
  }

  std::vector<std::wstring> NewDownloadDirectories() const {
    std::vector<std::wstring> fresh;
    for (const std::wstring& directory : DownloadDirectories()) {
      if (!before_.count(directory)) fresh.push_back(directory);
    }
    return fresh;
  }

  // The command line the demo setup was started with; empty when it never ran.
  std::wstring SetupCommandLine(DWORD wait_ms = 10000) const {
    for (DWORD waited = 0; waited <= wait_ms; waited += 100) {
      const std::vector<uint8_t> bytes = test::ReadFileBytes(demo_log_);
      if (!bytes.empty()) return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
      ::Sleep(100);
    }
    return L"";
  }

  // Called once the installer has ended: a setup it started would still be running (the
  // demo setup stays a second) or have left its record.
  void ExpectSetupNeverStarted() const {
    EXPECT_FALSE(ProgramRunning(L"SetupB.exe"));
    EXPECT_EQ(SetupCommandLine(0), L"");
  }

  // The installer's download succeeded and the demo setup was started with `argument` and
  // the switch of `language`; the files it runs from wait for the next restart.
  // (`earlier` deletions at the restart were asked for before the download's.)
  void ExpectLaunched(const Outcome& run, const std::wstring& argument, int32_t language, size_t boxes = 0,
                      size_t earlier = 0) const {
    EXPECT_EQ(run.exit_code, 0) << Report(run);
    EXPECT_EQ(run.boxes.size(), boxes) << Report(run);
    EXPECT_EQ(run.LastStatus(), Text(2, language)) << Report(run);
    const std::vector<std::wstring> fresh = NewDownloadDirectories();
    ASSERT_EQ(fresh.size(), 1u) << Report(run);
    const std::wstring installer = fresh[0] + L"\\SetupB.exe";
    const std::wstring expected = L"\"" + installer + L"\" " + argument +
                                  (language == kLanguageEnglish ? L" /English" : L" /Vietnamese");
    EXPECT_EQ(SetupCommandLine(), expected) << Report(run);
    // Its temporary folder lies in the protected directory, and no variable the user planted
    // to load code reached it.
    const std::vector<std::string> environment = test::ReadLines(demo_log_ + L".env");
    const std::string temp = Narrow(fresh[0] + L"\\Temp");
    for (const char* name : {"TEMP=", "TMP="}) {
      EXPECT_EQ(std::count(environment.begin(), environment.end(), name + temp), 1) << name;
    }
    for (const std::string& line : environment) EXPECT_EQ(line.find("planted"), std::string::npos) << line;
    // (The demo setup adds a record of its own beside itself.)
    std::vector<std::wstring> files = FilesIn(fresh[0]);
    files.erase(std::remove(files.begin(), files.end(), L"SetupB.exe.log"), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{L"Setup.dat", L"SetupB.exe"}));
    std::vector<std::wstring> pending = test::PendingDeletions();
    ASSERT_EQ(pending.size(), 5u + earlier);
    pending.erase(pending.begin(), pending.begin() + earlier);
    EXPECT_NE(pending[0].find(installer), std::wstring::npos);
    EXPECT_NE(pending[1].find(fresh[0] + L"\\Setup.dat"), std::wstring::npos);
    EXPECT_NE(pending[3].find(fresh[0] + L"\\Temp"), std::wstring::npos);
    EXPECT_NE(pending[4].find(fresh[0]), std::wstring::npos);
    EXPECT_EQ(pending[4].size(), pending[4].find(fresh[0]) + fresh[0].size());
  }

  // A confirmed stop, wherever it lands, ends the installer with 1602 within moments: nothing
  // runs, nothing is left (nothing waits for a restart either).
  void ExpectStopped(const Outcome& run) const {
    EXPECT_EQ(run.exit_code, 1602) << Report(run);
    EXPECT_FALSE(run.timed_out) << Report(run);
    EXPECT_TRUE(NewDownloadDirectories().empty()) << Report(run);
    EXPECT_TRUE(test::PendingDeletions().empty()) << Report(run);
    ExpectSetupNeverStarted();
  }

  // The installation failed with `message` on the status line and in an error box, which
  // then says where the run's log is; nothing is left behind. Returns the log.
  std::wstring ExpectFailure(const Outcome& run, const std::wstring& message, int exit_code) const {
    EXPECT_EQ(run.exit_code, exit_code) << Report(run);
    EXPECT_EQ(run.LastStatus(), message) << Report(run);
    EXPECT_TRUE(NewDownloadDirectories().empty());
    ExpectSetupNeverStarted();
    const std::wstring note = Text(kMessageLogNote, kLanguageVietnamese);
    const std::wstring head = L"error|" + std::wstring(kInstallerTitle) + L"|" + message + L"\n\n" + note.substr(0, note.find(L"%s"));
    const bool told = run.boxes.size() == 1 && run.boxes[0].rfind(head, 0) == 0;
    EXPECT_TRUE(told) << Report(run);
    const std::vector<uint8_t> log = told ? test::ReadFileBytes(run.boxes[0].substr(head.size())) : std::vector<uint8_t>();
    return FromUtf8(std::string(log.begin(), log.end()));
  }
  // The download failed (or brought a package that is refused: 1620): message 1.
  void ExpectDownloadFailure(const Outcome& run, int exit_code = 1612) const {
    EXPECT_NE(ExpectFailure(run, Text(1, kLanguageVietnamese), exit_code), L"");
  }

  std::wstring e2e_;
  std::wstring demo_log_;
  std::set<std::wstring> before_;
  test::ScopedKey zuno_key_{L"SOFTWARE\\Zuno"};
};

// The newest run's log in the machine's log folder.
std::wstring LatestLog() {
  wchar_t data[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data))) return L"";
  const std::wstring folder = std::wstring(data) + L"\\" + kLogFolderName + L"\\";
  std::wstring newest;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((folder + L"ZunoSetup-*.log").c_str(), &entry);
  while (find != INVALID_HANDLE_VALUE && (newest = std::max(newest, std::wstring(entry.cFileName)), ::FindNextFileW(find, &entry))) {
  }
  if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(folder + newest);
  return FromUtf8(std::string(bytes.begin(), bytes.end()));
}

// The head an administrator reads first (how, by whom, with which rights, where to), and the
// last line: the result in words.
void ExpectLogHeadAndResult(const std::wstring& log, const std::wstring& result, const wchar_t* exe = L"ZUNO_SETUP_FAST_EXE") {
  for (const std::wstring& part : {L"] sCommandLine: \"" + Env(exe) + L"\"\r\n",
                                   std::wstring(L", elevated: yes, session: "),
                                   std::wstring(L"] sPackageUrl: http://download.zuno.example/OG3tup2015")}) {
    EXPECT_NE(log.find(part), std::wstring::npos) << Narrow(part) << "\n" << Narrow(log);
  }
  EXPECT_TRUE(EndsWith(log, L"] Result: " + result + L"\r\n")) << Narrow(log);
}

// ---- Connection modes ------------------------------------------------------------------------

// The one run of a whole installation with the product's own pauses.
TEST_F(Scenario, DirectDownloadLaunchesTheSetup) {
  const Outcome run = Drive(L"", L"", Waits::kReal);
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_FALSE(run.StatusSeen(Text(4, kLanguageVietnamese)));
  EXPECT_FALSE(run.StatusSeen(Text(5, kLanguageVietnamese)));
  // Its log: the head, the product checks, one line for its one attempt, the result.
  const std::wstring log = LatestLog();
  ExpectLogHeadAndResult(log, L"the setup program was started (exit code 0)", L"ZUNO_SETUP_EXE");
  EXPECT_NE(log.find(L"] Product check: no installed product of the maker found"), std::wstring::npos);
  EXPECT_NE(log.find(L"] Product check: an older generation of the product was not found"), std::wstring::npos);
  const size_t attempt = log.find(L"] Attempt: GET http://download.zuno.example/OG3tup2015");
  EXPECT_EQ(attempt, log.rfind(L"] Attempt: "));
  EXPECT_NE(log.find(L".exe, mode direct, proxy (none): status 200, ", attempt), std::wstring::npos) << Narrow(log);
}

TEST_F(Scenario, DirectRefusedThenTheDefaultProxy) {
  Touch(L"proxy-only");
  test::SetDefaultProxy("127.0.0.1:18090");
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_TRUE(run.StatusSeen(Text(4, kLanguageVietnamese))) << Report(run);
  EXPECT_FALSE(run.StatusSeen(Text(5, kLanguageVietnamese))) << Report(run);
}

TEST_F(Scenario, DirectAndDefaultProxyFailThenTheIeProxy) {
  Touch(L"proxy-only");
  test::SetDefaultProxy("127.0.0.1:18091");  // wants credentials the installer has not got
  test::SetIeSettings(test::kIeDirect | test::kIeProxy, "127.0.0.1:18090");
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_TRUE(run.StatusSeen(Text(4, kLanguageVietnamese))) << Report(run);
  EXPECT_TRUE(run.StatusSeen(Text(5, kLanguageVietnamese))) << Report(run);
}

TEST_F(Scenario, ProxyAutoConfigurationThroughTheIeSettings) {
  Touch(L"proxy-only");
  // With detection asked for, the script's proxy replaces the entered one, which leads nowhere.
  test::SetIeSettings(test::kIeProxy | test::kIeAutoConfigUrl | test::kIeAutoDetect, "127.0.0.1:18099", "",
                      "http://127.0.0.1:18080/proxy.pac");
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_TRUE(run.StatusSeen(Text(5, kLanguageVietnamese))) << Report(run);
}

bool Traced(const Outcome& run, const std::wstring& text) {
  return std::any_of(run.lines.begin(), run.lines.end(), [&](const std::wstring& line) {
    return line.rfind(L"TRACE ", 0) == 0 && line.find(text) != std::wstring::npos;
  });
}

// The download host sends the installer to a mirror: the engine follows it itself.
TEST_F(Scenario, ARedirectToAMirrorIsFollowedDirectly) {
  Touch(L"moved");
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_FALSE(run.StatusSeen(Text(4, kLanguageVietnamese))) << Report(run);
  EXPECT_TRUE(Traced(run, L"nStatus: 302 sRedirect: http://mirror.zuno.example:80/OG3tup2015")) << Report(run);
}

// The configured script's host takes the request and never answers: the entered proxy serves.
TEST_F(Scenario, ASilentScriptHostIsLeftBehindAndTheEnteredProxyServes) {
  Touch(L"proxy-only");
  test::SetIeSettings(test::kIeProxy | test::kIeAutoConfigUrl | test::kIeAutoDetect, "127.0.0.1:18090", "",
                      "http://127.0.0.1:18081/silent");
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_TRUE(Traced(run, L"sProxyLookup: script abandoned")) << Report(run);
}

TEST_F(Scenario, AllThreeModesFail) {
  Touch(L"proxy-only");
  const Outcome run = Drive(L"");
  ExpectDownloadFailure(run);
  EXPECT_TRUE(run.StatusSeen(Text(4, kLanguageVietnamese)));
  EXPECT_TRUE(run.StatusSeen(Text(5, kLanguageVietnamese)));
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), L"PROGRESS 0"), run.lines.end());
}

// ---- Broken connections and silent servers ---------------------------------------------------

TEST_F(Scenario, CutTwiceTheDownloadResumesAndLaunches) {
  const std::wstring log = ServeFromOrigin(L"cut=40,80");
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_FALSE(run.StatusSeen(Text(4, kLanguageVietnamese))) << Report(run);
  const std::vector<std::string> requests = test::ReadLines(log);
  ASSERT_EQ(requests.size(), 3u);
  size_t served = 0;
  for (size_t i = 0; i < requests.size(); ++i) {
    served += std::stoul(requests[i].substr(requests[i].rfind('=') + 1));
    if (i > 0) {
      EXPECT_EQ(requests[i].find("range=bytes="), 0u) << requests[i];
      EXPECT_NE(requests[i].find(" if-range=\"v1\" status=206"), std::string::npos) << requests[i];
    }
  }
  const size_t package = test::ReadFileBytes(E2e(L"origin.bin")).size();
  EXPECT_LE(served * 10, package * 11);
}

TEST_F(Scenario, FileChangedBetweenCutAndResumeStartsAgainAndLaunches) {
  const std::wstring log = ServeFromOrigin(L"cut=40+changed");
  ExpectLaunched(Drive(L""), L"", kLanguageVietnamese);
  const std::vector<std::string> requests = test::ReadLines(log);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[1].find("status=200"), std::string::npos) << requests[1];
}

TEST_F(Scenario, ADirectServerThatNeverAnswersGivesWayToTheDefaultProxy) {
  Touch(L"direct-silent");
  test::SetDefaultProxy("127.0.0.1:18090");
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_TRUE(run.StatusSeen(Text(4, kLanguageVietnamese))) << Report(run);
}

// ---- The progress line ---------------------------------------------------------------------

// Seconds of "about N s left" or "about N min left" in `line`; -1 when it names no time left.
int SecondsLeft(const std::wstring& line) {
  const size_t about = line.find(L"about ");
  if (about == std::wstring::npos) return -1;
  const int amount = _wtoi(line.c_str() + about + 6);
  return line.find(L" min left", about) != std::wstring::npos ? amount * 60 : amount;
}

TEST_F(Scenario, ProgressLineOverASlowServerTellsTheSizeAndATimeLeftThatFalls) {
  SetLanguage(kLanguageEnglish);
  Touch(L"slow");
  const std::vector<uint8_t> padded = test::ReadFileBytes(Env(L"ZUNO_SIGNED_DIR") + L"\\demo_setup-padded.exe");
  PublishPackageOf(padded);
  const Outcome run = Drive(L"");
  ExpectLaunched(run, L"", kLanguageEnglish);
  test::LanguageScope english(kLanguageEnglish);
  const std::wstring total = L" of " + std::wstring(FormatSize(kPackageHeaderSize + padded.size()).c_str());
  std::vector<int> left;
  for (const std::wstring& line : run.progress_lines) {
    if (line.empty()) continue;
    EXPECT_NE(line.find(total), std::wstring::npos) << Narrow(line);
    if (SecondsLeft(line) >= 0) left.push_back(SecondsLeft(line));
  }
  ASSERT_GE(left.size(), 3u) << Report(run);
  EXPECT_GT(left.front(), left.back()) << Report(run);
  for (size_t i = 1; i < left.size(); ++i) EXPECT_LE(left[i], left[i - 1] + left[i - 1] / 5 + 5) << Report(run);
}

TEST_F(Scenario, ProgressLineCountsDownTheWaitBeforeEachResume) {
  SetLanguage(kLanguageEnglish);
  ServeFromOrigin(L"cut=20,40,60");
  // The product's own waits (1, 2 and 4 s): the countdown is read from the real clock.
  const Outcome run = Drive(L"", L"", Waits::kReal);
  ExpectLaunched(run, L"", kLanguageEnglish);
  std::vector<std::wstring> countdown;
  for (const std::wstring& line : run.progress_lines) {
    if (line.rfind(L"Trying again in ", 0) == 0) countdown.push_back(line);
  }
  const std::vector<std::wstring> expected = {L"Trying again in 1 s...", L"Trying again in 2 s...",
                                              L"Trying again in 1 s...", L"Trying again in 4 s...",
                                              L"Trying again in 3 s...", L"Trying again in 2 s...",
                                              L"Trying again in 1 s..."};
  EXPECT_EQ(countdown, expected) << Report(run);
}

// ---- What the server or the proxy answers ----------------------------------------------------

TEST_F(Scenario, ServerAuthenticationThatCannotBeAnswered) {
  Unpublish();
  Touch(L"mode", "auth401-always");
  ExpectDownloadFailure(Drive(L""));
}

// The package, but every answer ends after a few bytes: resumed while it brings more, then a
// failed download.
TEST_F(Scenario, ShortBodyIsAFailedDownload) {
  ServeFromOrigin(L"every=1000");
  ExpectDownloadFailure(Drive(L""));
}

TEST_F(Scenario, TamperedPackageIsReportedAndRemoved) {
  PublishPackage(true);
  const Outcome run = Drive(L"");
  // The download itself went through; the package failed its check.
  ExpectDownloadFailure(run, 1620);
  EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), L"TRACE zerbo -2 : bRet: 0"), run.lines.end())
      << Report(run);
}

// A whole, well-formed package whose setup is not the maker's: unsigned, changed after
// signing, signed by another key of the same CA, or by another CA's key. Each is refused like
// a failed download, with message 45: nothing started, nothing left behind. So is the maker's own
// setup of a build older than the oldest this installer starts.
TEST_F(Scenario, OnlyASetupSignedByThePinnedKeyIsStarted) {
  const std::wstring signed_dir = Env(L"ZUNO_SIGNED_DIR");
  std::vector<uint8_t> changed = test::ReadFileBytes(Env(L"ZUNO_DEMO_EXE"));
  ASSERT_GT(changed.size(), 0x600u);
  changed[0x500] ^= 0x01;
  const struct {
    const char* what;
    std::vector<uint8_t> setup;
  } refused[] = {
      {"unsigned", test::ReadFileBytes(Env(L"ZUNO_DEMO_UNSIGNED_EXE"))},
      {"changed after signing", changed},
      {"another key of the same CA", test::ReadFileBytes(signed_dir + L"\\demo_setup-signer2.exe")},
      {"another CA", test::ReadFileBytes(signed_dir + L"\\demo_setup-other.exe")},
      {"an older build", test::ReadFileBytes(signed_dir + L"\\demo_setup_old-signer.exe")},
  };
  for (const auto& setup : refused) {
    SCOPED_TRACE(setup.what);
    PublishPackageOf(setup.setup);
    const Outcome run = Drive(L"");
    ExpectFailure(run, Text(kMessageSetupRefused, kLanguageVietnamese), 1620);
    EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), L"TRACE zerbo -2 : bRet: 1"), run.lines.end())
        << Report(run);
  }
}

// ---- Why a download failed -----------------------------------------------------------------------

// Runs `command` with this machine's /bin/sh, which Wine starts as it starts Windows programs,
// and waits for it; true when it succeeded. (The suite runs as root in a mount namespace.)
bool RunOnHost(const std::string& command) {
  const std::string status = "/tmp/zuno-host-status-" + std::to_string(::GetCurrentProcessId());
  const std::wstring status_file = L"Z:" + FromUtf8(status);
  ::DeleteFileW(status_file.c_str());
  std::wstring line = L"Z:\\bin\\sh -c \"" + FromUtf8(command + "; echo $? > " + status) + L"\"";
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int i = 0; i < 100 && test::ReadFileBytes(status_file).size() < 2; ++i) ::Sleep(100);
  const bool succeeded = test::ReadFileBytes(status_file) == std::vector<uint8_t>{'0', '\n'};
  ::DeleteFileW(status_file.c_str());
  return succeeded;
}

// What goes wrong besides the scripted origin's `mode` (when there is one).
enum class Trouble { kNone, kSmallDisk, kNothingListening, kProxyRefuses };
struct FailureRow {
  const char* name;
  const char* mode;
  Trouble trouble;
  int32_t message;
  int exit_code;
  const wchar_t* cause;  // as the log names it
};
const FailureRow kFailureRows[] = {
    {"SignInPage", "signin", Trouble::kNone, kMessageSignInPage, 1612, L"a web page instead of the package"},
    {"PageOfAnotherType", "signin-untyped", Trouble::kNone, kMessageSignInPage, 1612, L"a web page instead of the package"},
    {"NetworkAuthenticationRequired", "signin-511", Trouble::kNone, kMessageSignInPage, 1612, L"a web page instead of the package"},
    {"TooLittleDiskSpace", nullptr, Trouble::kSmallDisk, kMessageDiskFull, 112, L"not enough disk space"},
    {"NothingListening", nullptr, Trouble::kNothingListening, kMessageNoConnection, 1612, L"no connection"},
    {"NotFoundInEveryMode", "404", Trouble::kNone, kMessagePackageNotFound, 1612, L"not on the server"},
    {"ProxyRefusesEveryAnswer", nullptr, Trouble::kProxyRefuses, kMessageProxyRefused, 1612, L"the proxy refused the sign-in"},
};

class FailedDownload : public Scenario, public testing::WithParamInterface<FailureRow> {
 protected:
  void TearDown() override {
    if (!hosts_.empty()) test::WriteFileBytes(kHosts, hosts_);
    if (!small_temp_.empty()) EXPECT_TRUE(RunOnHost("umount -l '" + small_temp_ + "'"));
    Scenario::TearDown();
  }
  static constexpr const wchar_t* kHosts = L"Z:\\etc\\hosts";
  std::vector<uint8_t> hosts_;
  std::string small_temp_;
};

// Each failure the user can act on is told as such, on the status line and in the box, which
// says where the log is; its exit code; nothing left behind; and the log names the cause and
// shows that nothing of the answer's body was kept.
TEST_P(FailedDownload, TellsTheCauseAndLeavesItInTheLog) {
  const FailureRow& row = GetParam();
  std::wstring message = Text(row.message, kLanguageVietnamese);
  if (row.mode != nullptr) {
    Unpublish();
    Touch(L"mode", row.mode);
  }
  if (row.trouble == Trouble::kSmallDisk) {
    // The system's Temp folder on 4 MiB: the 3.3 MB package would fit, not with its setup.
    const std::vector<uint8_t> padded = test::ReadFileBytes(Env(L"ZUNO_SIGNED_DIR") + L"\\demo_setup-padded.exe");
    PublishPackageOf(padded);
    small_temp_ = Narrow(Env(L"WINEPREFIX")) + "/drive_c/windows/temp";
    ASSERT_TRUE(RunOnHost("mount -t tmpfs -o size=4m zunosmall '" + small_temp_ + "'"));
    ULARGE_INTEGER free = {};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(SystemTemp().c_str(), &free, nullptr, nullptr));
    const auto needed = static_cast<uint32_t>(2 * padded.size() + kPackageHeaderSize + kSpaceMarginBytes);
    test::LanguageScope vietnamese(kLanguageVietnamese);
    message = WideString::Format(message.c_str(), L"C:", FormatSize(needed).c_str(),
                                 FormatSize(static_cast<uint32_t>(free.QuadPart)).c_str()).c_str();
  } else if (row.trouble == Trouble::kNothingListening) {
    // In the test network's own hosts file (which only it maps the host in), to 127.0.0.9.
    hosts_ = test::ReadFileBytes(kHosts);
    ASSERT_NE(std::string(hosts_.begin(), hosts_.end()).find("127.0.0.1 download.zuno.example"), std::string::npos);
    const std::string moved = "127.0.0.1 localhost\n127.0.0.9 download.zuno.example\n";
    test::WriteFileBytes(kHosts, std::vector<uint8_t>(moved.begin(), moved.end()));
  } else if (row.trouble == Trouble::kProxyRefuses) {
    Touch(L"proxy-only");
    test::SetDefaultProxy("127.0.0.1:18091");
    test::SetIeSettings(test::kIeDirect | test::kIeProxy, "127.0.0.1:18091");
  }
  const std::wstring log = ExpectFailure(Drive(L""), message, row.exit_code);
  EXPECT_NE(log.find(L" failed: " + std::wstring(row.cause) + L" ("), std::wstring::npos) << Narrow(log);
  size_t failed = 0, nothing_kept = 0;
  for (size_t at = 0; (at = log.find(L" failed: ", at)) != std::wstring::npos; ++at) ++failed;
  for (size_t at = 0; (at = log.find(L", 0 bytes, ", at)) != std::wstring::npos; ++at) ++nothing_kept;
  EXPECT_EQ(nothing_kept, failed) << Narrow(log);
  EXPECT_EQ(failed, row.trouble == Trouble::kSmallDisk ? 1u : 3u) << Narrow(log);  // a full disk tries no other mode
}

INSTANTIATE_TEST_SUITE_P(Causes, FailedDownload, testing::ValuesIn(kFailureRows),
                         [](const testing::TestParamInfo<FailureRow>& row) { return std::string(row.param.name); });

// ---- How each end is told -----------------------------------------------------------------------

// What is served, and the machine (tests/e2e/seams.cpp stands for the two Wine cannot be).
enum class Served { kMakersSetup, kAnotherKeysSetup, kDamagedPackage };
struct EndRow {
  const char* name;
  Served served;
  const wchar_t* installer;  // a copy's file name, as a browser names a second download
  const wchar_t* seam;       // "nobody" to answer a box, "no-dialog" can be made
  int32_t message;
  int exit_code;
};
const EndRow kEndRows[] = {
    {"SignedByAnotherKey", Served::kAnotherKeysSetup, nullptr, nullptr, kMessageSetupRefused, 1620},
    {"DamagedPackage", Served::kDamagedPackage, nullptr, nullptr, kMessageDownloadFailed, 1620},
    {"RenamedInstaller", Served::kAnotherKeysSetup, L"ZunoOnlineSetup (1).exe", nullptr, kMessageSetupRefused, 1620},
    {"NobodyToAnswer", Served::kAnotherKeysSetup, nullptr, L"nobody", kMessageSetupRefused, 1620},
    {"NoDialogCanBeMade", Served::kMakersSetup, nullptr, L"no-dialog", kNoMessage, 1621},
};
class EndTold : public Scenario, public testing::WithParamInterface<EndRow> {};

// Each end with its message (in a box captioned with the product's title, or only in the log
// when nobody can answer), its exit code, and nothing left behind.
TEST_P(EndTold, WithItsMessageAndExitCodeAndNothingLeft) {
  const EndRow& row = GetParam();
  if (row.served == Served::kAnotherKeysSetup) {
    PublishPackageOf(test::ReadFileBytes(Env(L"ZUNO_SIGNED_DIR") + L"\\demo_setup-signer2.exe"));
  }
  if (row.served == Served::kDamagedPackage) PublishPackage(true);
  const std::wstring copy = row.installer != nullptr ? E2e(row.installer) : L"";
  if (!copy.empty()) ASSERT_TRUE(::CopyFileW(Env(L"ZUNO_SETUP_FAST_EXE").c_str(), copy.c_str(), FALSE));
  ::SetEnvironmentVariableW(L"ZUNO_TEST_SEAM", row.seam);
  const Outcome run = Drive(L"", L"", Waits::kTenth, copy);
  ::SetEnvironmentVariableW(L"ZUNO_TEST_SEAM", nullptr);
  if (!copy.empty()) ::DeleteFileW(copy.c_str());
  const std::wstring message = row.message == kNoMessage ? L"" : Text(row.message, kLanguageVietnamese);
  const std::wstring log = row.seam == nullptr ? ExpectFailure(run, message, row.exit_code) : LatestLog();
  EXPECT_TRUE(EndsWith(log, L" (exit code " + std::to_wstring(row.exit_code) + L")\r\n")) << Narrow(log);
  if (row.seam == nullptr) return;
  EXPECT_EQ(run.exit_code, row.exit_code) << Report(run);
  EXPECT_TRUE(run.boxes.empty()) << Report(run);
  EXPECT_TRUE(NewDownloadDirectories().empty());
  ExpectSetupNeverStarted();
  const std::wstring told = message.empty() ? L"] DialogBox error: " : L"sUnansweredBox: " + std::wstring(kInstallerTitle) + L": " + message;
  EXPECT_NE(log.find(told), std::wstring::npos) << Narrow(log);
}
INSTANTIATE_TEST_SUITE_P(Ends, EndTold, testing::ValuesIn(kEndRows),
                         [](const testing::TestParamInfo<EndRow>& row) { return std::string(row.param.name); });

// ---- Start-up ----------------------------------------------------------------------------------

TEST_F(Scenario, SecondCopyWhileOneRunsEndsWithoutAWindow) {
  Touch(L"slow");
  struct First {
    Outcome run;
    static DWORD WINAPI Go(void* self) {
      static_cast<First*>(self)->run = Drive(L"");
      return 0;
    }
  };
  // Kept alive past the test if its thread never ends.
  auto* first = new First;
  HANDLE thread = ::CreateThread(nullptr, 0, First::Go, first, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  // Once the first copy shows its dialog, start a second.
  bool shown = false;
  for (int i = 0; i < 300 && !shown; ++i) {
    shown = ::FindWindowW(nullptr, L"Zuno Office Installation") != nullptr;
    if (!shown) ::Sleep(100);
  }
  EXPECT_TRUE(shown) << "the first copy showed no dialog within 30 s";
  const Outcome second = Drive(L"");
  EXPECT_EQ(second.exit_code, 1618) << Report(second);
  EXPECT_NE(std::find(second.lines.begin(), second.lines.end(), L"WINDOWS 0"), second.lines.end())
      << Report(second);
  EXPECT_TRUE(second.statuses.empty());
  // The first run's driver ends by itself within its own limit; the wait is only longer.
  const bool first_ended = ::WaitForSingleObject(thread, 150000) == WAIT_OBJECT_0;
  ::CloseHandle(thread);
  ASSERT_TRUE(first_ended) << "the first copy's driver did not end";
  ExpectLaunched(first->run, L"", kLanguageVietnamese);
  delete first;
}

TEST_F(Scenario, InterfaceLanguageFromTheRegistry) {
  SetLanguage(kLanguageEnglish);
  const Outcome run = Drive(L"");
  EXPECT_EQ(run.dialog, L"Zuno Office Installation|Cancel");
  ExpectLaunched(run, L"", kLanguageEnglish);
}

TEST_F(Scenario, InvalidLanguageValueKeepsVietnamese) {
  SetLanguage(7);
  const Outcome run = Drive(L"");
  EXPECT_EQ(run.dialog, L"Zuno Office Installation|" + Text(0, kLanguageVietnamese));
  ExpectLaunched(run, L"", kLanguageVietnamese);
}

// The programs the installer starts get the machine's TEMP, not the user's: it is the one that
// must resolve.
TEST_F(Scenario, TemporaryDirectoryOf260CharactersIsRefused) {
  wchar_t windows[MAX_PATH];
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring long_temp = std::wstring(windows) + L"\\Temp\\" + std::wstring(250, L'x');
  const wchar_t kMachine[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
  HKEY key = nullptr;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachine, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
  wchar_t saved[2][MAX_PATH] = {};
  const wchar_t* names[] = {L"TEMP", L"TMP"};
  for (int i = 0; i < 2; ++i) {
    DWORD bytes = sizeof(saved[i]);
    ::RegQueryValueExW(key, names[i], nullptr, nullptr, reinterpret_cast<BYTE*>(saved[i]), &bytes);
    ::RegSetValueExW(key, names[i], 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(long_temp.c_str()),
                     static_cast<DWORD>((long_temp.size() + 1) * sizeof(wchar_t)));
  }
  const Outcome run = Drive(L"");
  for (int i = 0; i < 2; ++i) {
    ::RegSetValueExW(key, names[i], 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(saved[i]),
                     static_cast<DWORD>((wcslen(saved[i]) + 1) * sizeof(wchar_t)));
  }
  ::RegCloseKey(key);
  EXPECT_EQ(run.exit_code, 1632) << Report(run);
  ASSERT_EQ(run.boxes.size(), 1u) << Report(run);
  EXPECT_NE(run.boxes[0].find(Text(3, kLanguageVietnamese)), std::wstring::npos) << Report(run);
  EXPECT_TRUE(NewDownloadDirectories().empty());
  ExpectSetupNeverStarted();
}

// ---- An installed product --------------------------------------------------------------------

class InstalledScenario : public Scenario {
 protected:
  void SetUp() override {
    Scenario::SetUp();
    if (IsSkipped()) return;
    product_.InstallComplete();
    product_.RegisterName(L"Zuno Office Guard 2024");
    product_.PutProgram(L"ZunoUnst.exe", L"record_args.exe");
    SetLanguage(kLanguageEnglish);
  }
  std::wstring UninstallerRecord() const {
    for (int i = 0; i < 50; ++i) {
      const std::vector<uint8_t> bytes = test::ReadFileBytes(product_.Path(L"ZunoUnst.exe.log"));
      if (!bytes.empty()) return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
      ::Sleep(100);
    }
    return L"";
  }
  test::InstalledProduct product_;
};

TEST_F(InstalledScenario, RemovalAcceptedStartsTheUninstallerAndComesBackAfterTheRestart) {
  const Outcome run = Drive(L"--answer ok", L"", Waits::kReal);
  EXPECT_EQ(run.exit_code, 0) << Report(run);
  ASSERT_EQ(run.boxes.size(), 1u) << Report(run);
  EXPECT_EQ(run.boxes[0], L"exclamation|Zuno Office Installation|Zuno Office Guard 2024 has already been installed on your "
                          L"computer.\nTo install the new version, you should uninstall the current version.");
  // Started by its full path, in its folder, with the setup's environment: TEMP and TMP a
  // protected folder of its own in the system's Temp, which goes at the next restart, and
  // nothing the user planted.
  const std::wstring record = UninstallerRecord();
  EXPECT_EQ(record.rfind(L"\"" + product_.Path(L"ZunoUnst.exe") + L"\" /Silent\n" + product_.dir() + L"\n", 0), 0u)
      << Narrow(record);
  const size_t temp_at = record.find(L"\nTEMP=");
  ASSERT_NE(temp_at, std::wstring::npos) << Narrow(record);
  const std::wstring temp = record.substr(temp_at + 6, record.find(L'\n', temp_at + 1) - temp_at - 6);
  EXPECT_EQ(temp.rfind(SystemTemp() + L"U", 0), 0u) << Narrow(temp);
  EXPECT_TRUE(EndsWith(temp, L".tmp")) << Narrow(temp);
  EXPECT_NE(record.find(L"\nTMP=" + temp + L"\n"), std::wstring::npos) << Narrow(record);
  EXPECT_EQ(record.find(L"planted"), std::wstring::npos) << Narrow(record);
  const std::vector<std::wstring> waiting = test::PendingDeletions();
  EXPECT_TRUE(std::any_of(waiting.begin(), waiting.end(), [&](const std::wstring& path) { return EndsWith(path, temp); }));
  EXPECT_TRUE(NewDownloadDirectories().empty());

  // The restart entry names, quoted, an administrator's copy of the installer in a folder of
  // its own under the program files: the same bytes, the same name.
  const std::wstring entry = test::RunOnceValue(L"ZunoSetup");
  ASSERT_GT(entry.size(), 2u);
  ASSERT_EQ(entry.front(), L'"');
  ASSERT_EQ(entry.back(), L'"');
  const std::wstring copy = entry.substr(1, entry.size() - 2);
  const std::wstring folder = copy.substr(0, copy.rfind(L'\\'));
  EXPECT_TRUE(IsRestartCopyPath(copy.c_str())) << Narrow(copy);
  EXPECT_EQ(copy.substr(folder.size()), L"\\ZunoOnlineSetup.exe");
  EXPECT_EQ(test::ReadFileBytes(copy), test::ReadFileBytes(Env(L"ZUNO_SETUP_EXE")));

  // The next logon, once the product is gone (Wine plays one, its RunOnce entries included,
  // when wineboot runs), starts the entry: the copy installs, and has itself and its folder
  // deleted at the restart after.
  product_.Remove(L"Zuno.exe");
  const std::wstring logon = test::SystemDirectory() + L"\\wineboot.exe";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(::CreateProcessW(logon.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  ::WaitForSingleObject(process.hProcess, 90000);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  EXPECT_EQ(test::RunOnceValue(L"ZunoSetup"), L"");
  const std::vector<std::wstring> fresh = NewDownloadDirectories();
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(SetupCommandLine(), L"\"" + fresh[0] + L"\\SetupB.exe\"  /English");
  const std::vector<std::wstring> pending = test::PendingDeletions();
  ASSERT_GE(pending.size(), 3u);
  EXPECT_TRUE(EndsWith(pending[0], copy)) << Narrow(pending[0]);
  EXPECT_TRUE(EndsWith(pending[1], folder)) << Narrow(pending[1]);
  EXPECT_TRUE(EndsWith(pending[2], RestartCopyRoot().c_str())) << Narrow(pending[2]);
  ::DeleteFileW(copy.c_str());
  ::RemoveDirectoryW(folder.c_str());
  ::RemoveDirectoryW(RestartCopyRoot().c_str());
}

TEST_F(InstalledScenario, RemovalDeclinedEndsWithNothingChanged) {
  const Outcome run = Drive(L"--answer cancel");
  EXPECT_EQ(run.exit_code, 1638) << Report(run);
  ASSERT_EQ(run.boxes.size(), 1u) << Report(run);
  EXPECT_EQ(test::RunOnceValue(L"ZunoSetup"), L"");
  // The installer has ended: an uninstaller it started would be running or have left its record.
  EXPECT_FALSE(ProgramRunning(L"ZunoUnst.exe"));
  EXPECT_FALSE(test::FileExists(product_.Path(L"ZunoUnst.exe.log")));
  EXPECT_TRUE(NewDownloadDirectories().empty());
  // The log says what was found and answered, and ends on the result.
  const std::wstring log = LatestLog();
  ExpectLogHeadAndResult(log, L"an installed product stays: its removal was declined or its uninstaller did not "
                              L"start (exit code 1638)");
  EXPECT_NE(log.find(L"] Product check: found \"Zuno Office Guard 2024\" in " + product_.dir()), std::wstring::npos);
  EXPECT_NE(log.find(L"] Removal offer: declined (Cancel)"), std::wstring::npos) << Narrow(log);
}

// Where nobody can answer, the offer is declined without a box.
TEST_F(InstalledScenario, NobodyToAnswerDeclinesTheRemoval) {
  ::SetEnvironmentVariableW(L"ZUNO_TEST_SEAM", L"nobody");
  const Outcome run = Drive(L"");
  ::SetEnvironmentVariableW(L"ZUNO_TEST_SEAM", nullptr);
  EXPECT_EQ(run.exit_code, 1638) << Report(run);
  EXPECT_TRUE(run.boxes.empty()) << Report(run);
  EXPECT_NE(LatestLog().find(L"] Removal offer: declined (Cancel)"), std::wstring::npos);
}

TEST_F(InstalledScenario, AnArgumentSkipsTheChecksAndReachesTheSetup) {
  const Outcome run = Drive(L"", L"/campaign=spring");
  ExpectLaunched(run, L"/campaign=spring", kLanguageEnglish);
  EXPECT_EQ(test::RunOnceValue(L"ZunoSetup"), L"");
}

TEST_F(Scenario, OlderGenerationIsTurnedAway) {
  test::InstalledProduct old;
  old.RegisterDir(old.dir());
  old.PutProgram(L"Zuno2009.exe");
  const Outcome run = Drive(L"");
  EXPECT_EQ(run.exit_code, 1638) << Report(run);
  ASSERT_EQ(run.boxes.size(), 1u) << Report(run);
  // (Then where the run's log is.)
  EXPECT_EQ(run.boxes[0].rfind(L"exclamation|Zuno Office Installation|" + Text(25, kLanguageVietnamese) + L"\n\n", 0), 0u)
      << Report(run);
  EXPECT_TRUE(NewDownloadDirectories().empty());
}

// ---- Stopping ------------------------------------------------------------------------------------

TEST_F(Scenario, StopAnsweredNoLetsTheInstallationGoOn) {
  Touch(L"slow");
  SetLanguage(kLanguageEnglish);
  const Outcome run = Drive(L"--stop-when \"Downloading installer\" --stop-answer no");
  ASSERT_FALSE(run.boxes.empty()) << Report(run);
  EXPECT_EQ(run.boxes[0], L"information|Zuno Office Installation|" + Text(7, kLanguageEnglish));
  ExpectLaunched(run, L"", kLanguageEnglish, 1);
}

TEST_F(Scenario, StopAnsweredYesWhileConnectingOrDownloadingEndsAndLeavesNothing) {
  SetLanguage(kLanguageEnglish);
  // Before the download: the server takes the request and never answers.
  Touch(L"direct-silent");
  Outcome run = Drive(L"--stop-when \"Initializing request\" --stop-answer yes");
  ASSERT_EQ(run.boxes.size(), 1u) << Report(run);
  EXPECT_EQ(run.boxes[0], L"information|Zuno Office Installation|" + Text(7, kLanguageEnglish));
  ExpectStopped(run);
  // During it.
  ::DeleteFileW(E2e(L"direct-silent").c_str());
  Touch(L"slow");
  run = Drive(L"--stop-when \"Downloading installer\" --stop-answer yes");
  ExpectStopped(run);
}

TEST_F(Scenario, StopConfirmedAfterTheDownloadLaunchesNothingAndLeavesNothing) {
  SetLanguage(kLanguageEnglish);
  // The stop must land within the 1500 ms that message 2 stays.
  const Outcome run = Drive(L"--stop-when \"Download completed\" --stop-answer yes", L"", Waits::kReal);
  ASSERT_EQ(run.boxes.size(), 1u) << Report(run);
  ExpectStopped(run);
}

TEST_F(Scenario, CloseCommandAsksWithTheQuestionIconAndYesEnds) {
  Touch(L"slow");
  const Outcome run = Drive(L"--close-when \"t\x1EA3i b\" --stop-answer yes");
  ASSERT_EQ(run.boxes.size(), 1u) << Report(run);
  EXPECT_EQ(run.boxes[0], L"question|Zuno Office Installation|" + Text(7, kLanguageVietnamese));
  ExpectStopped(run);
}

TEST_F(Scenario, EscapeEndsTheDialogWithoutAQuestion) {
  Touch(L"slow");
  const Outcome run = Drive(L"--escape-when \"t\x1EA3i b\"");
  EXPECT_TRUE(run.boxes.empty()) << Report(run);
  ExpectStopped(run);
}

// A program of the user's that watches the system's Temp folder for the installer's download
// directory and, once it has appeared, does `act` to it again and again until `act` says it
// is done or the installer has ended.
class DirectoryWatcher {
 public:
  using Act = bool (*)(const std::wstring& directory, int attempt);
  DirectoryWatcher(std::set<std::wstring> before, Act act) : before_(std::move(before)), act_(act) {
    thread_ = ::CreateThread(nullptr, 0, Go, this, 0, nullptr);
  }
  ~DirectoryWatcher() { Finish(); }
  // Stops watching; the number of times it acted, and whether it was done.
  int Finish() {
    done_.store(true);
    if (thread_ != nullptr) {
      ::WaitForSingleObject(thread_, 30000);
      ::CloseHandle(thread_);
      thread_ = nullptr;
    }
    return attempts_.load();
  }
  [[nodiscard]] bool succeeded() const { return succeeded_.load(); }

 private:
  static DWORD WINAPI Go(void* self) {
    auto* watcher = static_cast<DirectoryWatcher*>(self);
    std::wstring target;
    while (!watcher->done_.load() && !watcher->succeeded_.load()) {
      for (const std::wstring& directory : DownloadDirectories()) {
        if (target.empty() && !watcher->before_.count(directory)) target = directory;
      }
      if (target.empty()) continue;
      watcher->succeeded_.store(watcher->act_(target, ++watcher->attempts_));
      ::Sleep(1);
    }
    return 0;
  }

  std::set<std::wstring> before_;
  Act act_;
  std::atomic<bool> done_{false};
  std::atomic<bool> succeeded_{false};
  std::atomic<int> attempts_{0};
  HANDLE thread_ = nullptr;
};

// The moment the download directory appears, and until the setup has been started, a program
// of the user's tries to rename it away and put its own, with a DLL, in its place. The
// installer holds the directory until the setup runs: every rename is refused, so the setup
// never starts among the planted files. (Once the setup runs the directory is let go; Windows
// then refuses the rename of a running program's folder, Wine does not.)
TEST_F(Scenario, TheDownloadDirectoryCannotBeSwapped) {
  const std::wstring away = SystemTemp() + L"away";
  test::RemoveTree(away);
  DirectoryWatcher watcher(before_, [](const std::wstring& directory, int) {
    if (ProgramRunning(L"SetupB.exe")) return true;
    if (!::MoveFileW(directory.c_str(), (SystemTemp() + L"away").c_str())) return false;
    ::CreateDirectoryW(directory.c_str(), nullptr);
    test::WriteFileBytes(directory + L"\\version.dll", {'M', 'Z'});
    return true;
  });
  const Outcome run = Drive(L"");
  EXPECT_GT(watcher.Finish(), 0);
  EXPECT_TRUE(watcher.succeeded()) << "the watcher never saw the setup start";
  ExpectLaunched(run, L"", kLanguageVietnamese);
  EXPECT_EQ(::GetFileAttributesW(away.c_str()), INVALID_FILE_ATTRIBUTES) << "renamed";
  test::RemoveTree(away);
}

// The decoded setup cannot be put under its name (a folder of that name is in the way, which
// only Wine, keeping no DACLs, lets another program make there): the user is told, nothing is
// left, and the exit code says the setup was not started.
TEST_F(Scenario, AFailedMoveIsToldAndLeavesNothing) {
  DirectoryWatcher watcher(before_, [](const std::wstring& directory, int) {
    return ::CreateDirectoryW((directory + L"\\SetupB.exe").c_str(), nullptr) != FALSE;
  });
  const Outcome run = Drive(L"");
  watcher.Finish();
  ASSERT_TRUE(watcher.succeeded());
  ExpectFailure(run, Text(kMessageSetupNotStarted, kLanguageVietnamese), 1603);
  EXPECT_TRUE(test::PendingDeletions().empty());
}

// ---- DLLs beside the installer ----------------------------------------------------------------

// The DLLs, none a KnownDLL, that the installer or the system for it loads once it runs. (Wine
// loads version and uxtheme earlier, from its user32 and comctl32: Windows takes those from
// its KnownDLLs.)
constexpr const wchar_t* kStandIns[] = {L"winhttp", L"wintrust", L"crypt32",  L"bcrypt", L"msimg32", L"userenv",
                                        L"rsaenh",  L"cryptnet", L"dbghelp", L"jsproxy"};

// A whole installation by the installer copied beside a stand-in of each DLL, which Wine is told
// to prefer as Windows would, started in that folder: no stand-in may be loaded.
TEST_F(Scenario, NoDllComesFromTheInstallersFolder) {
  test::TempDir folder;
  const std::wstring overrides = L"Software\\Wine\\AppDefaults\\ZunoOnlineSetup.exe\\DllOverrides";
  for (const wchar_t* name : kStandIns) {
    const std::wstring copy = folder.Path(name + std::wstring(L".dll"));
    ASSERT_TRUE(::CopyFileW((Env(L"ZUNO_FIXTURES_DIR") + L"\\dll_stand_in.dll").c_str(), copy.c_str(), FALSE));
    ::RegSetKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), name, REG_SZ, L"native,builtin", sizeof(L"native,builtin"));
  }
  ASSERT_TRUE(::CopyFileW(Env(L"ZUNO_SETUP_EXE").c_str(), folder.Path(L"ZunoOnlineSetup.exe").c_str(), FALSE));
  const Outcome run = Drive(L"", L"", Waits::kReal, folder.Path(L"ZunoOnlineSetup.exe"), folder.path().c_str());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, overrides.c_str());
  ExpectLaunched(run, L"", kLanguageVietnamese);
  for (const std::wstring& line : run.lines) EXPECT_EQ(line.find(L"stand-in loaded"), std::wstring::npos) << Narrow(line);
}

}  // namespace
