// HttpDownloader against real servers on loopback, inside the test run's private network
// (tests/harness/netns.sh): nginx on 18080, our scripted origin on 18081, tinyproxy on 18090
// (open) and 18091 (Basic authentication, zuno / secret). See tests/download/servers.sh.
#include "download/http_downloader.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "download/download_source.h"
#include "download/proxy_discovery.h"
#include "tests/download/proxy_settings.h"
#include "tests/support/temp_dir.h"
#include "win/clock.h"

namespace {

const wchar_t kNginx[] = L"http://origin.zuno.example:18080";
const wchar_t kOrigin[] = L"http://origin.zuno.example:18081";

std::vector<int32_t> g_stages;
std::vector<int32_t> g_modes;  // the mode of each attempt, at its start
void RecordStage(int32_t stage, int32_t mode) {
  g_stages.push_back(stage);
  if (stage == kStagePreparing) g_modes.push_back(mode);
}

// The stages without the repeats of the per-chunk stage 8.
std::vector<int32_t> Path() {
  std::vector<int32_t> path;
  for (int32_t s : g_stages) {
    if (!(s == kStageChunkWritten && !path.empty() && path.back() == kStageChunkWritten)) path.push_back(s);
  }
  return path;
}

std::vector<uint8_t> Served(const wchar_t* name) {
  // The files nginx serves, made by servers.sh with the same formula.
  const size_t n = std::wstring(name) == L"small.bin" ? 5000 : 300000;
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + 17) % 251);
  return bytes;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A progress bar on a thread of its own, as the dialog owns it in the installer.
class ProgressBarThread {
 public:
  ProgressBarThread() {
    ready_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] {
      INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
      ::InitCommonControlsEx(&controls);
      bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
      thread_id_ = ::GetCurrentThreadId();
      ::SetEvent(ready_);
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
      ::DestroyWindow(bar_);
    });
    ::WaitForSingleObject(ready_, INFINITE);
  }
  ~ProgressBarThread() {
    ::PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
    ::CloseHandle(ready_);
  }
  HWND bar() const { return bar_; }
  int Position() const { return static_cast<int>(::SendMessageW(bar_, PBM_GETPOS, 0, 0)); }

 private:
  HANDLE ready_;
  HWND bar_ = nullptr;
  DWORD thread_id_ = 0;
  std::thread thread_;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!_wgetenv(L"ZUNO_NETNS")) GTEST_SKIP() << "needs the private test network (run as root)";
    g_stages.clear();
    g_modes.clear();
    SetStageObserverForTesting(RecordStage);
    test::ClearProxySettings();
    target_ = dir_.Path(L"Setup.dat");
  }
  void TearDown() override {
    SetStageObserverForTesting(nullptr);
    SetChunkAllocatorForTesting(nullptr);
    test::ClearProxySettings();
    NamedProxySettings = {};
  }

  bool Fetch(const std::wstring& url, int32_t mode = kModeDirect, uint32_t from = 0, uint32_t to = 0,
             int32_t* percent = nullptr) {
    return downloader_.TransferFile(url.c_str(), target_.c_str(), nullptr, from, to, nullptr, mode,
                                    NamedProxySettings.userName, NamedProxySettings.password, percent, nullptr);
  }
  std::vector<uint8_t> Received() const { return test::ReadFileBytes(target_); }

  static void UseNamedProxy(const wchar_t* host, int32_t port, const wchar_t* user, const wchar_t* password) {
    wcscpy(NamedProxySettings.host, host);
    NamedProxySettings.port = port;
    wcscpy(NamedProxySettings.userName, user);
    wcscpy(NamedProxySettings.password, password);
  }

  HttpDownloader downloader_;
  test::TempDir dir_;
  std::wstring target_;
};

const std::vector<int32_t> kUntilResponse = {kStagePreparing, kStageSessionOpened, kStageUrlParsed,
                                             kStageConnected, kStageRequestOpened};

std::vector<int32_t> Then(std::vector<int32_t> path, std::initializer_list<int32_t> more) {
  path.insert(path.end(), more);
  return path;
}

// ---- Success and the stages on its way -----------------------------------------------------

TEST_F(DownloadTest, DirectSuccessWalksEveryStageAndMovesARealProgressBarTo100) {
  ProgressBarThread ui;
  const std::wstring url = std::wstring(kNginx) + L"/big.bin";
  ASSERT_TRUE(downloader_.Download(url.c_str(), target_.c_str(), ui.bar(), kDirectOnly, nullptr));
  EXPECT_EQ(Served(L"big.bin"), Received());
  EXPECT_EQ(Then(kUntilResponse, {kStageReceiving, kStageChunkWritten, kStageComplete}), Path());
  EXPECT_EQ(kStageComplete, downloader_.GetStage());
  EXPECT_EQ(kModeDirect, downloader_.GetMode());
  EXPECT_EQ(100, ui.Position());
}

TEST_F(DownloadTest, UrlsWithoutSchemeOrInCapitalsAreFetched) {
  EXPECT_TRUE(Fetch(L"origin.zuno.example:18080/small.bin"));
  EXPECT_EQ(Served(L"small.bin"), Received());
  EXPECT_TRUE(Fetch(L"HTTP://origin.zuno.example:18080/small.bin"));
  EXPECT_EQ(Served(L"small.bin"), Received());
}

TEST_F(DownloadTest, AUrlIsCutToItsFirst1000Characters) {
  const std::wstring base = std::wstring(kOrigin) + L"/echo/";
  const std::wstring url = base + std::wstring(1200, L'a');
  ASSERT_TRUE(Fetch(url));
  const std::string path = Text(Received());
  // The path starts after "http://origin.zuno.example:18081"; the URL ends at 1000 characters.
  EXPECT_EQ(1000 - (base.size() - 6), path.size());
}

TEST_F(DownloadTest, RangeHeaderOnlyForAProperRange) {
  ASSERT_TRUE(Fetch(std::wstring(kOrigin) + L"/range", kModeDirect, 0, 0));
  EXPECT_EQ("none", Text(Received()));
  ASSERT_TRUE(Fetch(std::wstring(kOrigin) + L"/range", kModeDirect, 100, 199));
  EXPECT_EQ("bytes=100-199", Text(Received()));

  // nginx answers the range with 206 and exactly those bytes.
  ASSERT_TRUE(Fetch(std::wstring(kNginx) + L"/small.bin", kModeDirect, 100, 199));
  const std::vector<uint8_t> all = Served(L"small.bin");
  EXPECT_EQ(std::vector<uint8_t>(all.begin() + 100, all.begin() + 200), Received());

  // A reversed range fails before any network activity; so does a start with no end.
  for (uint32_t from : {200u, 100u}) {
    const uint32_t to = from == 200 ? 199 : 0;
    g_stages.clear();
    EXPECT_FALSE(Fetch(std::wstring(kNginx) + L"/small.bin", kModeDirect, from, to));
    EXPECT_EQ((std::vector<int32_t>{kStagePreparing, kStageFailed}), g_stages);
  }
}

TEST_F(DownloadTest, ABodyLongerThanAnnouncedGivesExactlyContentLengthBytes) {
  ASSERT_TRUE(Fetch(std::wstring(kOrigin) + L"/long"));
  EXPECT_EQ(1000u, Received().size());
  // A body that keeps coming, a byte every 300 ms, outlasts a receive time-out of 500 ms.
  downloader_.SetTimeouts(2000, 2000, 2000, 500);
  EXPECT_TRUE(Fetch(std::wstring(kOrigin) + L"/trickle3"));
  EXPECT_EQ("ABC", Text(Received()));
}

TEST_F(DownloadTest, PercentageAndBarPositions) {
  int32_t percent = -1;
  std::vector<int32_t> seen;
  g_stages.clear();
  ASSERT_TRUE(Fetch(std::wstring(kOrigin) + L"/trickle3", kModeDirect, 0, 0, &percent));
  EXPECT_EQ(100, percent);
  EXPECT_EQ("ABC", Text(Received()));

  ProgressBarThread ui;
  struct Case {
    uint32_t received, total;
    int position;
  };
  for (const Case& c : {Case{50000, 100000, 50}, Case{150000, 200000, 75}, Case{1, 3, 33},
                        Case{200000, 200000, 100}, Case{99, 100, 99}, Case{300, 200, 100}}) {
    UpdateProgressBar(ui.bar(), c.received, c.total);
    EXPECT_EQ(c.position, ui.Position()) << c.received << " of " << c.total;
  }
  UpdateProgressBar(ui.bar(), 5, 0);  // no total: the bar is left alone
  EXPECT_EQ(100, ui.Position());
}

// ---- Failures ------------------------------------------------------------------------------

TEST_F(DownloadTest, RefusedAnswersEndWithStage1000AndLeaveTheTargetUntouched) {
  for (const wchar_t* path : {L"/404", L"/nolength", L"/zerolength", L"/auth401-always"}) {
    test::WriteFileBytes(target_, {'o', 'l', 'd'});
    g_stages.clear();
    EXPECT_FALSE(Fetch(std::wstring(kOrigin) + path)) << path;
    EXPECT_EQ(kStageFailed, downloader_.GetStage()) << path;
    EXPECT_EQ("old", Text(Received())) << path;
  }
  EXPECT_EQ(Then(kUntilResponse, {kStageFailed}), g_stages);
}

TEST_F(DownloadTest, BodiesThatEndEarlyFailAndLeaveThePartialFile) {
  for (const wchar_t* path : {L"/short", L"/reset", L"/stall"}) {
    g_stages.clear();
    EXPECT_FALSE(Fetch(std::wstring(kOrigin) + path)) << path;
    // (After a reset, Wine 8 may report an impossible amount of data available: no read of it
    // is made, which would run past Wine's own buffer.)
    EXPECT_EQ(kStageFailed, downloader_.GetStage()) << path;
    EXPECT_EQ(Then(kUntilResponse, {kStageReceiving, kStageChunkWritten, kStageFailed}), Path()) << path;
    EXPECT_FALSE(Received().empty()) << path;
    EXPECT_LT(Received().size(), std::wstring(path) == L"/reset" ? 100000u : 1000u) << path;
  }
}

TEST_F(DownloadTest, NoServerAtAllFailsAtTheRequest) {
  EXPECT_FALSE(Fetch(L"http://origin.zuno.example:18099/small.bin"));
  EXPECT_EQ(Then(kUntilResponse, {kStageFailed}), g_stages);
  EXPECT_FALSE(Fetch(L"http://unknown-host.zuno.example/small.bin"));
  EXPECT_EQ(kStageFailed, downloader_.GetStage());
}

void* NoMemory(size_t) { return nullptr; }

TEST_F(DownloadTest, NoBufferForAChunkIsStage7) {
  SetChunkAllocatorForTesting(NoMemory);
  EXPECT_FALSE(Fetch(std::wstring(kNginx) + L"/small.bin"));
  EXPECT_EQ(kStageOutOfMemory, downloader_.GetStage());
  EXPECT_EQ(Then(kUntilResponse, {kStageReceiving, kStageOutOfMemory}), g_stages);
}

TEST_F(DownloadTest, AFailedWriteEndsTheAttemptAndTheFallbackGoesOn) {
  // 300000 bytes into a 64 KiB file system: the writes fail part-way.
  const wchar_t* full = _wgetenv(L"ZUNO_FULL_DIR");
  ASSERT_NE(nullptr, full);
  target_ = std::wstring(full) + L"\\Setup.dat";
  const std::wstring url = std::wstring(kNginx) + L"/big.bin";
  EXPECT_FALSE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kDirectThenIeProxy, nullptr));
  EXPECT_EQ((std::vector<int32_t>{kModeDirect, kModeIeProxy}), g_modes);
  // The direct attempt ended on the write, not at the end of the body.
  const auto first_ie = std::find(g_stages.begin(), g_stages.end(), kStagePreparing) + 1;
  const auto second = std::find(first_ie, g_stages.end(), kStagePreparing);
  EXPECT_EQ(kStageFailed, *(second - 1));
  EXPECT_LT(std::count(g_stages.begin(), second, kStageChunkWritten), 30);
  // The write told why: the disk is full, and how much more it would take.
  EXPECT_FALSE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kDirectOnly, nullptr));
  EXPECT_EQ(FailureCause::kDiskFull, downloader_.GetFailureCause());
  EXPECT_GT(downloader_.GetSpaceNeeded(), downloader_.GetSpaceFree());
  ::DeleteFileW(target_.c_str());
}

TEST_F(DownloadTest, HttpsIsAskedForOverTls) {
  // nginx speaks plain HTTP on 18080: over TLS the request must fail, where a plain request
  // of the same URL succeeds.
  EXPECT_TRUE(Fetch(L"http://origin.zuno.example:18080/small.bin"));
  EXPECT_FALSE(Fetch(L"https://origin.zuno.example:18080/small.bin"));
  EXPECT_EQ(kStageFailed, downloader_.GetStage());
}

// ---- Hostile answers, silent servers, resuming -------------------------------------------------

TEST_F(DownloadTest, HostileLengthsAndPartsEndTheAttemptWithTheTargetUntouched) {
  for (const wchar_t* path : {L"/length/104857601", L"/length/2147483648", L"/length/4294967295",
                              L"/length/99999999999", L"/length/abc", L"/length/-5", L"/partial-norange"}) {
    test::WriteFileBytes(target_, {'o', 'l', 'd'});
    EXPECT_FALSE(Fetch(std::wstring(kOrigin) + path)) << path;
    EXPECT_EQ(kStageFailed, downloader_.GetStage()) << path;
    EXPECT_EQ("old", Text(Received())) << path;
  }
}

TEST_F(DownloadTest, ASilentServerAndAStalledBodyEndByTheTimeOutsKeepingWhatArrived) {
  downloader_.SetTimeouts(2000, 2000, 2000, 2000);
  EXPECT_FALSE(Fetch(std::wstring(kOrigin) + L"/silent"));  // would wait for good under Wine
  EXPECT_EQ(Then(kUntilResponse, {kStageFailed}), g_stages);
  EXPECT_FALSE(Fetch(std::wstring(kOrigin) + L"/midstall"));
  EXPECT_EQ(kStageFailed, downloader_.GetStage());
  EXPECT_EQ(1000u, Received().size());
}

// The body the scripted origin serves under /resume/ (see fault_server.py).
std::vector<uint8_t> ResumeBody() {
  std::vector<uint8_t> bytes(300000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 7 + 3) % 256);
  return bytes;
}

// The waits between tries the engine asked for (not the 200 ms asks for data), none waited.
std::vector<DWORD> g_waits;
void RecordWait(DWORD milliseconds) {
  if (milliseconds >= 1000) g_waits.push_back(milliseconds);
}

class ResumeTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    if (IsSkipped()) return;
    g_waits.clear();
    previous_sleep_ = win::SetSleepForTesting(RecordWait);
  }
  void TearDown() override {
    win::SetSleepForTesting(previous_sleep_);
    DownloadTest::TearDown();
  }
  // Downloads /resume/KEY/OPTIONS in direct mode, KEY unique to this run; returns the
  // origin's record of the requests, one line each.
  std::vector<std::string> Run(const std::wstring& options, bool* ok) {
    const std::wstring key = L"k" + std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(++runs_);
    const std::wstring url = std::wstring(kOrigin) + L"/resume/" + key + L"/" + options;
    *ok = downloader_.Download(url.c_str(), target_.c_str(), nullptr, kDirectOnly, nullptr);
    return test::ReadLines(std::wstring(_wgetenv(L"ZUNO_E2E_DIR")) + L"\\requests-" + key + L".log");
  }
  win::SleepFunction previous_sleep_ = nullptr;
  int runs_ = 0;
};

TEST_F(ResumeTest, CutTwiceTheRestIsAskedForAndAppended) {
  bool ok = false;
  const std::vector<std::string> requests = Run(L"cut=40,80", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ResumeBody(), Received());
  EXPECT_EQ((std::vector<std::string>{"range=- if-range=- status=200 sent=120000",
                                      "range=bytes=120000- if-range=\"v1\" status=206 sent=120000",
                                      "range=bytes=240000- if-range=\"v1\" status=206 sent=60000"}),
            requests);
  EXPECT_EQ((std::vector<DWORD>{1000, 2000}), g_waits);
}

TEST_F(ResumeTest, AnswersThatDoNotContinueTheFileStartAgainFromZero) {
  bool ok = false;
  // The file changed after the cut: the stale validator brings the whole new file.
  std::vector<std::string> requests = Run(L"cut=40+changed", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ResumeBody(), Received());
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("range=bytes=120000- if-range=\"v1\" status=200 sent=300000", requests[1]);

  // A server that ignores ranges: the same.
  requests = Run(L"cut=40+norange", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ResumeBody(), Received());
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("range=bytes=120000- if-range=\"v1\" status=200 sent=300000", requests[1]);

  // A part that starts elsewhere than asked: refused, and the next try starts from zero.
  requests = Run(L"cut=40+offby1", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ResumeBody(), Received());
  ASSERT_EQ(3u, requests.size());
  EXPECT_EQ("range=- if-range=- status=200 sent=300000", requests[2]);
}

TEST_F(ResumeTest, WithoutAValidatorNothingIsResumed) {
  bool ok = true;
  const std::vector<std::string> requests = Run(L"cut=40+noetag", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(1u, requests.size());
  EXPECT_TRUE(g_waits.empty());
}

// ---- Authentication ------------------------------------------------------------------------

TEST_F(DownloadTest, EachChallengeIsAnsweredOnce) {
  // No credentials: the challenge cannot be answered. First, before Wine has cached any
  // credentials for the host (it adds them to later requests by itself).
  const std::wstring once = std::wstring(kOrigin) + L"/auth401-once";
  EXPECT_FALSE(downloader_.DownloadDirect(once.c_str(), target_.c_str(), nullptr));

  // 401 then 200: the server takes the credentials (mode 4, through the open proxy).
  UseNamedProxy(L"127.0.0.1", 18090, L"zuno", L"secret");
  EXPECT_TRUE(downloader_.Download(once.c_str(), target_.c_str(), nullptr, kNamedProxyWithCredentials, nullptr));
  EXPECT_EQ(2000u, Received().size());

  // 401 twice: the credentials do not help.
  const std::wstring always = std::wstring(kOrigin) + L"/auth401-always";
  EXPECT_FALSE(downloader_.Download(always.c_str(), target_.c_str(), nullptr, kNamedProxyWithCredentials, nullptr));

  // 407, then 401, then 200: the proxy and then the server are answered in turn.
  UseNamedProxy(L"127.0.0.1", 18091, L"zuno", L"secret");
  EXPECT_TRUE(downloader_.Download(once.c_str(), target_.c_str(), nullptr, kNamedProxyWithCredentials, nullptr));

  // 407 twice: wrong credentials for the proxy.
  UseNamedProxy(L"127.0.0.1", 18091, L"zuno", L"wrong");
  const std::wstring plain = std::wstring(kNginx) + L"/small.bin";
  EXPECT_FALSE(downloader_.Download(plain.c_str(), target_.c_str(), nullptr, kNamedProxyWithCredentials, nullptr));
}

// ---- Bounds: every exchange ends ----------------------------------------------------------------

// What the engine asked of the platform, where Wine can neither report it (the autologon
// policy of a request) nor produce it (endless resends, an impossible amount available).
struct PlatformRecord {
  std::vector<DWORD> autologon;  // the policy set on each request
  std::vector<std::string> logons;  // the default credentials set: "proxy|server scheme"
  int sends = 0;
  bool endless_resends = false;
  DWORD reported_available = 0;  // when set: what the platform says is waiting
  size_t largest_chunk = 0;
};
PlatformRecord g_platform;

BOOL WINAPI RecordSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  if (option == WINHTTP_OPTION_AUTOLOGON_POLICY) g_platform.autologon.push_back(*static_cast<DWORD*>(buffer));
  return PlatformHttpCalls().set_option(handle, option, buffer, length);
}
// Wine refuses the default credentials (null name and password): they are recorded here instead.
BOOL WINAPI RecordSetCredentials(HINTERNET request, DWORD target, DWORD scheme, LPCWSTR user, LPCWSTR password,
                                 LPVOID parameters) {
  if (user != nullptr) return PlatformHttpCalls().set_credentials(request, target, scheme, user, password, parameters);
  g_platform.logons.push_back((target == WINHTTP_AUTH_TARGET_PROXY ? "proxy " : "server ") + std::to_string(scheme));
  return TRUE;
}
BOOL WINAPI RecordSend(HINTERNET request, LPCWSTR headers, DWORD length, LPVOID data, DWORD data_length, DWORD total,
                       DWORD_PTR context) {
  ++g_platform.sends;
  if (g_platform.endless_resends) {
    ::SetLastError(ERROR_WINHTTP_RESEND_REQUEST);
    return FALSE;
  }
  return PlatformHttpCalls().send_request(request, headers, length, data, data_length, total, context);
}
// After a reset Wine can report any amount as available.
BOOL WINAPI HugeAvailable(HINTERNET request, LPDWORD available) {
  const BOOL answered = PlatformHttpCalls().query_data_available(request, available);
  if (answered && *available != 0 && g_platform.reported_available != 0) *available = g_platform.reported_available;
  return answered;
}
void* RecordChunk(size_t size) {
  if (size > g_platform.largest_chunk) g_platform.largest_chunk = size;
  return ::HeapAlloc(::GetProcessHeap(), 0, size);
}
const HttpCalls kRecordingCalls = {RecordSend, HugeAvailable, RecordSetOption, RecordSetCredentials};

class BoundsTest : public ResumeTest {
 protected:
  void SetUp() override {
    ResumeTest::SetUp();
    g_platform = PlatformRecord();
    SetHttpCallsForTesting(&kRecordingCalls);
    SetChunkAllocatorForTesting(RecordChunk);
  }
  void TearDown() override {
    SetHttpCallsForTesting(nullptr);
    ResumeTest::TearDown();
  }
};

// Every request to the download host, the resumed ones included, tells the platform never to
// offer the logged-on user's credentials; a chunk is never larger than what the file still
// lacks, however much the platform says is waiting; and a count larger than any file the
// engine takes (Wine's after a reset) is no count at all: nothing is read on it.
TEST_F(BoundsTest, NoLogonCredentialsForTheHostAndNoChunkBeyondTheFile) {
  g_platform.reported_available = 0x00A00000;
  bool ok = false;
  const std::vector<std::string> requests = Run(L"cut=40,80", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ResumeBody(), Received());
  EXPECT_EQ(requests.size(), 3u);
  EXPECT_EQ(g_platform.autologon, std::vector<DWORD>(3, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH));
  EXPECT_LE(g_platform.largest_chunk, static_cast<size_t>(kMaxChunkBytes));

  g_platform = PlatformRecord();
  g_platform.reported_available = 0x7FFFFFF0;
  Run(L"cut=40,80", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(g_platform.largest_chunk, 0u);
}

// A company proxy that asks for the user's own logon (NTLM) gets it in mode 2, for the proxy
// only and under a policy raised to MEDIUM (intranet targets only) for that request alone. The
// host never does: not when it asks itself, through the proxy or directly, nor when it poses
// as a proxy on a direct line.
TEST_F(BoundsTest, OnlyAProxyGetsTheUsersLogon) {
  test::SetDefaultProxy("127.0.0.1:18081");
  const auto transfer = [&](const wchar_t* path, int32_t mode) {
    return downloader_.TransferFile((std::wstring(kOrigin) + path).c_str(), target_.c_str(), nullptr, 0, 0, nullptr,
                                    mode, nullptr, nullptr, nullptr, nullptr);
  };
  EXPECT_FALSE(transfer(L"/proxy-ntlm", kModeDefaultProxy));
  constexpr DWORD kHigh = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
  EXPECT_EQ(g_platform.autologon, (std::vector<DWORD>{kHigh, WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM}));
  EXPECT_EQ(g_platform.logons, std::vector<std::string>{"proxy " + std::to_string(WINHTTP_AUTH_SCHEME_NTLM)});

  g_platform = PlatformRecord();
  EXPECT_FALSE(transfer(L"/ntlm401", kModeDefaultProxy));
  EXPECT_FALSE(transfer(L"/ntlm401", kModeDirect));
  EXPECT_FALSE(transfer(L"/proxy-ntlm", kModeDirect));
  // The host bypasses the default proxy, so the line is direct: the host poses as a proxy.
  test::SetDefaultProxy("127.0.0.1:18081", "localhost;*.zuno.EXAMPLE");
  EXPECT_FALSE(transfer(L"/proxy-ntlm", kModeDefaultProxy));
  EXPECT_EQ(g_platform.autologon, std::vector<DWORD>(4, kHigh));
  EXPECT_TRUE(g_platform.logons.empty());
}

// ---- Who gets the user's logon: one row per source of the proxy ---------------------------------

// The proxy lookups, through the seam: the script is Wine's own lookup but for login.pac, whose
// host asks for the logon (Wine reports any refusal as 12167); discovery is ours, as the test
// network has nothing to answer it: it names the scripted origin, or never answers until released.
struct LookupRecord {
  std::mutex lock;
  std::string seen;  // "script, ", "script logon, ", "discovery, " in turn
  HANDLE silent = nullptr;
} g_lookups;

BOOL WINAPI StandInLookup(HINTERNET session, LPCWSTR url, WINHTTP_AUTOPROXY_OPTIONS* options,
                          WINHTTP_PROXY_INFO* info) {
  const bool script = options->dwFlags == WINHTTP_AUTOPROXY_CONFIG_URL;
  const bool logon = options->fAutoLogonIfChallenged != FALSE;
  std::unique_lock<std::mutex> hold(g_lookups.lock);
  g_lookups.seen += script ? (logon ? "script logon, " : "script, ") : "discovery, ";
  hold.unlock();
  if (script && !wcsstr(options->lpszAutoConfigUrl, L"/login.pac")) {
    return ::WinHttpGetProxyForUrl(session, url, options, info);
  }
  if (script && !logon) return ::SetLastError(ERROR_WINHTTP_LOGIN_FAILURE), FALSE;
  if (!script && g_lookups.silent != nullptr) return ::WaitForSingleObject(g_lookups.silent, INFINITE), FALSE;
  static const wchar_t kProxy[] = L"127.0.0.1:18081";
  info->dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  info->lpszProxy = static_cast<wchar_t*>(memcpy(::GlobalAlloc(GMEM_FIXED, sizeof(kProxy)), kProxy, sizeof(kProxy)));
  return TRUE;
}

constexpr DWORD kHighPolicy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
constexpr DWORD kScripted = test::kIeProxy | test::kIeAutoConfigUrl | test::kIeAutoDetect;

// Each row: where the proxy comes from (mode 2: `proxy` is the machine's), the path asked for
// on the scripted origin (which answers as a proxy too: 407 NTLM), and what was seen: the
// lookups, the policy each request was given, and who got the logon.
struct PolicyRow {
  const char *name;
  int32_t mode;
  DWORD ie_flags;
  const char *proxy, *bypass, *script;
  const wchar_t* path;
  const char* seen;
};
const PolicyRow kPolicyRows[] = {
    {"ManualIeProxy", kModeIeProxy, test::kIeProxy, "127.0.0.1:18081", "", "", L"/proxy-ntlm",
     "HIGH MEDIUM logon:proxy"},
    {"MachineProxy", kModeDefaultProxy, 0, "127.0.0.1:18081", "", "", L"/proxy-ntlm", "HIGH MEDIUM logon:proxy"},
    {"ConfiguredScriptsProxy", kModeIeProxy, kScripted, "127.0.0.1:18099", "", "http://127.0.0.1:18080/ntlm.pac",
     L"/proxy-ntlm", "script, HIGH MEDIUM logon:proxy"},
    {"DiscoveredProxy", kModeIeProxy, kScripted, "127.0.0.1:18099", "", "http://127.0.0.1:18080/missing.pac",
     L"/proxy-ntlm", "script, discovery, HIGH "},
    {"ScriptHostAsksForTheLogon", kModeIeProxy, kScripted, "127.0.0.1:18099", "", "http://127.0.0.1:18080/login.pac",
     L"/proxy-ntlm", "script, script logon, HIGH MEDIUM logon:proxy"},
    // 407, raised, then a 302 to a dotless name, which bypasses the proxy: a new request at HIGH.
    {"RedirectAfterTheRaise", kModeIeProxy, test::kIeProxy, "127.0.0.1:18081", "<local>", "", L"/proxy-ntlm-once/",
     "HIGH MEDIUM HIGH logon:proxy"},
    {"PerSchemeListHttpEntry", kModeIeProxy, test::kIeProxy, "http=127.0.0.1:18081;https=127.0.0.1:18443", "", "",
     L"/proxy-ntlm", "HIGH MEDIUM logon:proxy"},
    {"PerSchemeListWithoutHttpEntryIsDirect", kModeIeProxy, test::kIeProxy, "https=127.0.0.1:18081", "", "",
     L"/proxy-ntlm", "HIGH "},
};

class ProxyLogonTest : public BoundsTest {
 protected:
  void SetUp() override {
    BoundsTest::SetUp();
    g_lookups.seen.clear();
    g_lookups.silent = nullptr;  // (an abandoned lookup may still wait on the last one)
    SetProxyLookupForTesting(StandInLookup);
  }
  void TearDown() override {
    SetProxyLookupForTesting(nullptr);
    SetProxyLookupDeadlineForTesting(0);
    BoundsTest::TearDown();
  }
  std::string Seen() {
    std::lock_guard<std::mutex> hold(g_lookups.lock);
    std::string seen = g_lookups.seen;
    for (DWORD policy : g_platform.autologon) seen += policy == kHighPolicy ? "HIGH " : "MEDIUM ";
    for (const std::string& logon : g_platform.logons) seen += "logon:" + logon.substr(0, logon.find(' '));
    return seen;
  }
};
class ProxyPolicy : public ProxyLogonTest, public testing::WithParamInterface<PolicyRow> {};

TEST_P(ProxyPolicy, TheLogonGoesOnlyToAProxyAnAdministratorOrTheUserNamed) {
  const PolicyRow& row = GetParam();
  if (row.mode == kModeDefaultProxy) test::SetDefaultProxy(row.proxy);
  if (row.mode == kModeIeProxy) test::SetIeSettings(row.ie_flags, row.proxy, row.bypass, row.script);
  std::wstring url = std::wstring(kOrigin) + row.path;
  if (url.back() == L'/') url += std::to_wstring(::GetTickCount());  // a key of this run's own
  EXPECT_FALSE(downloader_.TransferFile(url.c_str(), target_.c_str(), nullptr, 0, 0, nullptr, row.mode, nullptr,
                                        nullptr, nullptr, nullptr));
  EXPECT_EQ(Seen(), row.seen);
}

INSTANTIATE_TEST_SUITE_P(Sources, ProxyPolicy, testing::ValuesIn(kPolicyRows),
                         [](const testing::TestParamInfo<PolicyRow>& info) { return std::string(info.param.name); });

// A discovery that never answers is abandoned at the (scaled) deadline; the entered proxy serves.
TEST_F(ProxyLogonTest, ASilentDiscoveryIsAbandonedAndTheEnteredProxyServes) {
  SetProxyLookupDeadlineForTesting(300);
  g_lookups.silent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  test::SetIeSettings(kScripted, "127.0.0.1:18090", "", "http://127.0.0.1:18080/missing.pac");
  EXPECT_TRUE(Fetch(std::wstring(kOrigin) + L"/via", kModeIeProxy));
  EXPECT_EQ("proxy", Text(Received()));
  ::SetEvent(g_lookups.silent);  // the abandoned lookup ends only now, long after its caller went on
  EXPECT_EQ(Seen(), "script, discovery, HIGH ");
}

TEST_F(BoundsTest, EndlessResendsAndChallengesInTurnEndTheRequest) {
  g_platform.endless_resends = true;
  EXPECT_FALSE(Fetch(std::wstring(kNginx) + L"/small.bin"));
  EXPECT_EQ(g_platform.sends, 1 + kMaxResends);
  g_platform.endless_resends = false;

  // 401 and 407 in turn, with credentials to answer each: kMaxAuthAnswers answers, then the end.
  const std::wstring key = L"turns" + std::to_wstring(::GetTickCount());
  EXPECT_FALSE(downloader_.TransferFile((std::wstring(kOrigin) + L"/authturns/" + key).c_str(), target_.c_str(),
                                        nullptr, 0, 0, nullptr, kModeDirect, L"zuno", L"secret", nullptr, nullptr));
  EXPECT_EQ(kStageFailed, downloader_.GetStage());
  const std::vector<std::string> requests =
      test::ReadLines(std::wstring(_wgetenv(L"ZUNO_E2E_DIR")) + L"\\requests-" + key + L".log");
  EXPECT_EQ(requests.size(), static_cast<size_t>(1 + kMaxAuthAnswers));
}

// A body that brings a few bytes now and then, but less than kStallBytes in a window, ends the
// attempt; what came stays for the resume. (A short body that is slow but done is fine: see
// the trickle of three bytes above.)
TEST_F(BoundsTest, ATrickleEndsTheAttemptAndIsResumed) {
  downloader_.SetStallWindow(1000);
  EXPECT_FALSE(downloader_.DownloadDirect((std::wstring(kOrigin) + L"/trickle").c_str(), target_.c_str(), nullptr));
  EXPECT_EQ(kStageFailed, downloader_.GetStage());
  // Each try brought bytes, so each was resumed (the origin serves no ranges: from zero).
  EXPECT_EQ((std::vector<DWORD>{1000, 2000, 4000}), g_waits);
  const size_t received = Received().size();
  EXPECT_GT(received, 0u);
  EXPECT_LT(received, static_cast<size_t>(kStallBytes));
}

// ---- Strategies and modes ------------------------------------------------------------------

TEST_F(DownloadTest, Strategy0TriesDirectThenTheIeSettingsNeverTheDefaultProxy) {
  test::SetDefaultProxy("127.0.0.1:18090");
  const std::wstring url = std::wstring(kOrigin) + L"/404";
  EXPECT_FALSE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kDirectThenIeProxy, nullptr));
  EXPECT_EQ((std::vector<int32_t>{kModeDirect, kModeIeProxy}), g_modes);
}

TEST_F(DownloadTest, UnknownStrategiesChangeNothing) {
  EXPECT_TRUE(Fetch(std::wstring(kNginx) + L"/small.bin"));
  const std::wstring url = std::wstring(kNginx) + L"/small.bin";
  for (int32_t strategy : {5, -1}) {
    g_stages.clear();
    EXPECT_FALSE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, strategy, nullptr));
    EXPECT_TRUE(g_stages.empty());
    EXPECT_EQ(kStageComplete, downloader_.GetStage());
    EXPECT_EQ(kModeDirect, downloader_.GetMode());
  }
}

TEST_F(DownloadTest, Mode2GoesThroughTheMachinesDefaultProxy) {
  test::SetDefaultProxy("127.0.0.1:18090");
  const std::wstring url = std::wstring(kOrigin) + L"/via";
  EXPECT_TRUE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kDefaultProxyOnly, nullptr));
  EXPECT_EQ("proxy", Text(Received()));
  test::ClearProxySettings();
  EXPECT_TRUE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kDefaultProxyOnly, nullptr));
  EXPECT_EQ("direct", Text(Received()));
}

TEST_F(DownloadTest, Mode3WithDetectionOnAndNoProxyEnteredFailsWithoutARequest) {
  test::SetIeSettings(test::kIeDirect | test::kIeAutoDetect, "");
  const std::wstring url = std::wstring(kOrigin) + L"/via";
  EXPECT_FALSE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kIeProxyOnly, nullptr));
  EXPECT_EQ((std::vector<int32_t>{kStagePreparing, kStageFailed}), g_stages);
  ASSERT_NE(nullptr, downloader_.ieProxyConfig());
  EXPECT_TRUE(downloader_.ieProxyConfig()->fAutoDetect);
}

TEST_F(DownloadTest, Mode3UsesTheEnteredProxyAndIgnoresAnAutoConfigUrlWithoutDetection) {
  test::SetIeSettings(test::kIeProxy | test::kIeAutoConfigUrl, "127.0.0.1:18090", "",
                      "http://127.0.0.1:18080/missing.pac");
  const std::wstring url = std::wstring(kOrigin) + L"/via";
  EXPECT_TRUE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kIeProxyOnly, nullptr));
  EXPECT_EQ("proxy", Text(Received()));
}

TEST_F(DownloadTest, Mode3ThePacScriptReplacesTheEnteredProxy) {
  // The entered proxy leads nowhere; the script names the open one.
  test::SetIeSettings(test::kIeProxy | test::kIeAutoConfigUrl | test::kIeAutoDetect, "127.0.0.1:18099", "",
                      "http://127.0.0.1:18080/proxy.pac");
  const std::wstring url = std::wstring(kOrigin) + L"/via";
  EXPECT_TRUE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kIeProxyOnly, nullptr));
  EXPECT_EQ("proxy", Text(Received()));
}

TEST_F(DownloadTest, Mode3AFailedDiscoveryKeepsTheEnteredProxy) {
  test::SetIeSettings(test::kIeProxy | test::kIeAutoConfigUrl | test::kIeAutoDetect, "127.0.0.1:18090", "",
                      "http://127.0.0.1:18080/missing.pac");
  const std::wstring url = std::wstring(kOrigin) + L"/via";
  EXPECT_TRUE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kIeProxyOnly, nullptr));
  EXPECT_EQ("proxy", Text(Received()));
}

TEST_F(DownloadTest, Mode4WithEmptySettingsHasNoProxyToReach) {
  const std::wstring url = std::wstring(kNginx) + L"/small.bin";
  EXPECT_FALSE(downloader_.Download(url.c_str(), target_.c_str(), nullptr, kNamedProxyWithCredentials, nullptr));
  EXPECT_EQ(kModeNamedProxy, downloader_.GetMode());
}

}  // namespace

// ---- Pieces that need no network --------------------------------------------------------------

TEST(SelectDownloadUrlTest, TheWow64PrefixGetsThe64BitPackage) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
  const std::wstring expected = std::wstring(L"http://") + ZUNO_DOWNLOAD_HOST +
                                (wow64 ? L"/OG3tup2015X64.exe" : L"/OG3tup2015.exe");
  EXPECT_EQ(expected, SelectDownloadUrl().c_str());
  // The test prefix is 64-bit with WoW64; a 32-bit prefix is covered by the same rule.
  EXPECT_TRUE(wow64);
}
