// One file over HTTP with WinHTTP, in one of four connection modes, with a stage code that
// another thread may poll.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>

#include "download/failure_cause.h"
#include "download/http_text.h"
#include "download/proxy_discovery.h"
#include "download/redirect.h"
#include "package/package_codec.h"
#include "win/internet_handle.h"
#include "win/unique_handle.h"
#include "win/wide_string.h"

enum DownloadStage : int32_t {
  kStageComplete = 0,
  kStageSessionOpened = 1,
  kStageUrlParsed = 2,
  kStageConnected = 3,
  kStageRequestOpened = 4,
  kStageRequestSent = 5,  // never set; the status display still names it
  kStageReceiving = 6,
  kStageOutOfMemory = 7,
  kStageChunkWritten = 8,
  kStageStopped = 500,
  kStageInitial = 999,
  kStageFailed = 1000,
  kStagePreparing = 1001,
};

enum ConnectionMode : int32_t {
  kModeDirect = 1,
  kModeDefaultProxy = 2,
  kModeIeProxy = 3,
  kModeNamedProxy = 4,
};

enum DownloadStrategy : int32_t {
  kDirectThenIeProxy = 0,
  kDirectOnly = 1,
  kDefaultProxyOnly = 2,
  kIeProxyOnly = 3,
  kNamedProxyWithCredentials = 4,
};

// The room kept free on the download folder's volume beyond the package and its setup.
constexpr uint64_t kSpaceMarginBytes = 1048576;

struct TransferProgress {
  uint32_t resumeFlag;
  uint32_t totalSize;
  uint32_t bytesReceived;
};

// The proxy of mode 4 and its credentials. Empty at start; nothing in the installer fills it.
struct NamedProxyConfig {
  wchar_t host[260];
  int32_t port;
  wchar_t userName[260];
  wchar_t password[260];
};
extern NamedProxyConfig NamedProxySettings;

static_assert(kUrlCapacity == win::kPathCapacity, "a URL fits the path buffers");
static_assert(kAuthNegotiate == WINHTTP_AUTH_SCHEME_NEGOTIATE && kAuthNtlm == WINHTTP_AUTH_SCHEME_NTLM &&
                  kAuthPassport == WINHTTP_AUTH_SCHEME_PASSPORT && kAuthDigest == WINHTTP_AUTH_SCHEME_DIGEST &&
                  kAuthBasic == WINHTTP_AUTH_SCHEME_BASIC,
              "the scheme bits are WinHTTP's");

constexpr wchar_t kUserAgent[] =
    L"Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.2) Gecko/20100115 Firefox/3.6";


// The time-outs of every session, in milliseconds. The receive time-out also bounds the wait
// for the response headers (Wine waits for those forever otherwise).
constexpr int32_t kResolveTimeoutMs = 10000;
constexpr int32_t kConnectTimeoutMs = 10000;
constexpr int32_t kSendTimeoutMs = 30000;
constexpr int32_t kReceiveTimeoutMs = 30000;

// The bounds of one request: challenges answered (401 and 407 together), and resends the
// platform asks for (ERROR_WINHTTP_RESEND_REQUEST).
constexpr int kMaxAuthAnswers = 4;
constexpr int kMaxResends = 3;
// A body that brings fewer than kStallBytes in a window of kStallWindowMs ends the attempt
// as stalled (a broken transfer, resumed as any other).
constexpr uint32_t kStallBytes = 1024;
constexpr DWORD kStallWindowMs = 60000;
// The most the engine reads at once.
constexpr DWORD kMaxChunkBytes = 65536;

// The most redirects one attempt follows. The engine follows them itself, each hop a new
// request (see TransferFile), to http URLs only.
constexpr int kMaxRedirects = 5;

// How often one connection mode resumes a broken download, and the waits before each try.
constexpr int kResumeTries = 3;
constexpr DWORD kResumeWaitsMs[kResumeTries] = {1000, 2000, 4000};

class HttpDownloader {
 public:
  HttpDownloader() noexcept = default;
  ~HttpDownloader();
  HttpDownloader(const HttpDownloader&) = delete;
  HttpDownloader& operator=(const HttpDownloader&) = delete;

  // Read from any thread: some recent whole value.
  [[nodiscard]] int32_t GetStage() const noexcept { return stage_.load(std::memory_order_relaxed); }
  [[nodiscard]] int32_t GetMode() const noexcept { return mode_.load(std::memory_order_relaxed); }
  // What the progress line shows, each read on its own: the bytes of the file on disk, its
  // whole size (0 until an answer told it), and the tick count (GetTickCount) at which the
  // next try of a broken transfer starts (0 while none is waited for).
  [[nodiscard]] uint32_t GetBytesReceived() const noexcept { return received_.load(std::memory_order_relaxed); }
  [[nodiscard]] uint32_t GetTotalSize() const noexcept { return total_.load(std::memory_order_relaxed); }
  [[nodiscard]] uint32_t GetNextTryTick() const noexcept { return next_try_tick_.load(std::memory_order_relaxed); }

  // True when the file was received whole. Strategy 0: direct, then the IE proxy settings;
  // 1 to 3: mode 1 to 3; 4: one attempt through the named proxy with its credentials and
  // `percent_out`. Any other strategy: false, nothing touched.
  //
  // In modes 1 to 3 a broken transfer is resumed: the bytes on disk stay, and the next try
  // asks for the rest (Range, with If-Range naming the file's validator), up to kResumeTries
  // times per mode while each try brings new bytes. A later mode resumes from the same bytes.
  bool Download(const wchar_t* url, const wchar_t* file_path, HWND progress_bar, int32_t strategy,
                int32_t* percent_out);
  bool DownloadDirect(const wchar_t* url, const wchar_t* file_path, HWND progress_bar);
  bool DownloadViaDefaultProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar);
  bool DownloadViaIeProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar);

  // One attempt in one mode; `stage` tells how it ended. Without a caller's `progress` and
  // range, the attempt continues the file on disk when it can (see Download).
  bool TransferFile(const wchar_t* url, const wchar_t* file_path, HWND progress_bar,
                    uint32_t range_from, uint32_t range_to, const int32_t* stop_flag, int32_t mode,
                    const wchar_t* user_name, const wchar_t* password, int32_t* percent_out,
                    TransferProgress* progress);

  // A WinHTTP session for `mode`, or null. Mode 3 asks for the proxy that serves `url`.
  // Records the session's proxy and where it came from.
  [[nodiscard]] win::UniqueInternetHandle OpenSession(const wchar_t* user_agent, int32_t mode, const wchar_t* url);
  // Reads a fresh copy of the current user's IE proxy settings; true when one is now held.
  bool LoadIeProxyConfig();

  [[nodiscard]] const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* ieProxyConfig() const noexcept {
    return ie_proxy_config_;
  }

  // The session time-outs in milliseconds; a connect time-out of 0 sets none at all.
  void SetTimeouts(int32_t resolve, int32_t connect, int32_t send, int32_t receive) noexcept;
  // The window of the stall rule (kStallWindowMs unless set).
  void SetStallWindow(DWORD milliseconds) noexcept { stall_window_ms_ = milliseconds; }

  // How the last attempt ended: kNone after a success. After kDiskFull, the space it needed
  // on the download folder's volume and the space free there, in bytes.
  [[nodiscard]] FailureCause GetFailureCause() const noexcept { return cause_; }
  [[nodiscard]] uint64_t GetSpaceNeeded() const noexcept { return space_needed_; }
  [[nodiscard]] uint64_t GetSpaceFree() const noexcept { return space_free_; }

  // For the installer's package (off unless set): a 200 whose Content-Type is text/html, or a
  // body whose first bytes are not a package header, ends the attempt as soon as it shows
  // (kSignInPage); and before the body is read, the download folder's volume must have room
  // for the rest of the file, the setup decoded from it and kSpaceMarginBytes (kDiskFull).
  void SetPackageChecks(bool on) noexcept { package_checks_ = on; }

  // Asked between chunks and during the waits before a new try: when it answers true, the
  // attempt ends (stage 500) and no further try is made. Set before the first download.
  using StopCheck = bool (*)();
  void SetStopCheck(StopCheck check) noexcept { stop_check_ = check; }

 private:
  // What is known of a partly received file: where it is, where it came from, the validator
  // and length of its first response, and how many of its bytes are on disk.
  struct ResumePoint {
    WideString url;
    WideString path;
    WideString validator;  // empty: the file cannot be resumed
    uint32_t total = 0;
    uint32_t on_disk = 0;
  };

  // One attempt's handles and file, closed in this order: the file, then the request, the
  // connection, the session.
  struct Attempt {
    bool resumable = false;
    bool resuming = false;
    TransferProgress* progress = nullptr;
    const wchar_t* file_path = nullptr;
    WideString header;  // Range (and If-Range), or empty
    WideString url;     // the URL of the current request: the attempt's, or a redirect's
    win::UniqueInternetHandle session;
    win::UniqueInternetHandle connection;
    win::UniqueInternetHandle request;
    win::UniqueFile file;
  };

  bool DownloadInMode(const wchar_t* url, const wchar_t* file_path, HWND progress_bar, int32_t mode);
  // What the installer never asks for (spare_paths.cpp): strategies 0 and 4, mode 4's session.
  bool DownloadDirectThenIeProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar);
  bool DownloadViaNamedProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar, int32_t* percent_out);
  win::UniqueInternetHandle OpenNamedProxySession(const wchar_t* user_agent);
  // The phases of TransferFile: the session, connection and request (stages 1 to 4); the
  // response taken and the file prepared for it; the body read into the file.
  bool OpenRequest(const wchar_t* url, int32_t mode, Attempt* attempt);
  // The connection and request for the attempt's current URL (stages 2 to 4); false, with the
  // platform's error, when one cannot be made.
  bool OpenHop(Attempt* attempt);
  // Runs the request, following redirects; true once one is answered with 200 or 206.
  bool Exchange(const wchar_t* user_name, const wchar_t* password, Attempt* attempt, DWORD* status);
  win::UniqueInternetHandle OpenIeProxySession(const wchar_t* user_agent, const wchar_t* url);
  // Whether the session's proxy may have the user's own logon for a request to `url`.
  [[nodiscard]] bool ProxyMayHaveTheLogon(const wchar_t* url) const;
  bool AcceptResponse(const wchar_t* url, const wchar_t* file_path, DWORD status, HWND progress_bar,
                      Attempt* attempt);
  // AcceptResponse's two ways to the file: the rest of the file on disk (a 206 that fits it,
  // else the resume point goes), or a new file from its first byte, of the announced length.
  bool ContinueFile(const wchar_t* file_path, HWND progress_bar, Attempt* attempt);
  bool StartFile(const wchar_t* url, const wchar_t* file_path, Attempt* attempt);
  bool ReadBody(HWND progress_bar, const int32_t* stop_flag, int32_t* percent_out, Attempt* attempt);
  // The body loop's steps: what the platform has for the next read (0 at the body's end; false
  // when it cannot tell, or tells a count no sound connection gives); a chunk into the file and
  // the account; the bar and the percentage; and whether the body is stalled (less than
  // kStallBytes in a whole window: each byte resets the platform's receive time-out, so a
  // trickle would hold the attempt for ever).
  struct StallWindow {
    ULONGLONG start;
    uint32_t bytes;
  };
  bool WaitForData(HINTERNET request, DWORD* available);
  bool WriteChunk(const uint8_t* data, DWORD size, Attempt* attempt);
  static void ShowProgress(HWND progress_bar, int32_t* percent_out, const TransferProgress& progress,
                           int32_t* shown_position);
  [[nodiscard]] bool Stalled(StallWindow* window, uint32_t bytes, const TransferProgress& progress) const;
  [[nodiscard]] bool StopAsked(const int32_t* stop_flag) const noexcept;
  // The attempt's one line for the log: URL, mode, proxy, status, bytes, time, `outcome`.
  void TraceAttempt(const wchar_t* outcome) const noexcept;
  // Ends the attempt at `stage` for `cause`; kNone takes the cause from the HTTP status.
  bool Fail(int32_t stage, FailureCause cause = FailureCause::kNone) noexcept;
  // Whether the download folder's volume has room for what the attempt still brings and the
  // setup decoded from it (sets the space needed and free).
  bool HasRoom(const Attempt& attempt) noexcept;
  [[nodiscard]] bool CanResume(const wchar_t* url, const wchar_t* file_path) const noexcept;
  void SetStage(int32_t stage) noexcept;
  void PublishProgress(uint32_t received, uint32_t total) noexcept {
    total_.store(total, std::memory_order_relaxed);
    received_.store(received, std::memory_order_relaxed);
  }
  // Marks the wait before the next try, `wait_ms` from now; 0 ends it. Never 0 while waiting.
  void PublishNextTry(DWORD wait_ms) noexcept {
    const DWORD at = wait_ms == 0 ? 0 : ::GetTickCount() + wait_ms;
    next_try_tick_.store(wait_ms != 0 && at == 0 ? 1 : at, std::memory_order_relaxed);
  }
  static void ReleaseIeProxyConfig(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) noexcept;

  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* ie_proxy_config_ = nullptr;
  std::atomic<int32_t> stage_{kStageInitial};
  std::atomic<int32_t> mode_{0};
  std::atomic<uint32_t> received_{0};
  std::atomic<uint32_t> total_{0};
  std::atomic<uint32_t> next_try_tick_{0};
  int32_t resolve_timeout_ = kResolveTimeoutMs;
  int32_t connect_timeout_ = kConnectTimeoutMs;
  int32_t send_timeout_ = kSendTimeoutMs;
  int32_t receive_timeout_ = kReceiveTimeoutMs;
  DWORD stall_window_ms_ = kStallWindowMs;
  StopCheck stop_check_ = nullptr;
  // Writes follow one another; nothing sets this.
  int32_t append_to_file_ = 0;

  ResumePoint resume_;
  uint32_t try_bytes_ = 0;       // bytes the last attempt put on disk
  bool restart_asked_ = false;   // the last attempt's answer said: start again from zero
  bool package_checks_ = false;
  FailureCause cause_ = FailureCause::kNone;
  DWORD status_ = 0;             // the last HTTP status of the attempt; 0 while none came
  DWORD attempt_start_ = 0;      // GetTickCount at the attempt's start
  WideString attempt_url_;       // the attempt's URL, for its line in the log
  uint64_t space_needed_ = 0;
  uint64_t space_free_ = 0;
  // The proxy list of the last session opened (empty: none), its bypass list, and where the
  // proxy came from.
  WideString session_proxy_;
  WideString session_bypass_;
  ProxySource session_source_ = ProxySource::kNone;
};

void UpdateProgressBar(HWND progress_bar, uint32_t received, uint32_t total);




// Sees every stage change with the attempt's mode, on the downloading thread. For tests.
using StageObserver = void (*)(int32_t stage, int32_t mode);
void SetStageObserverForTesting(StageObserver observer);

// The chunk buffers of the read loop come from here. Tests replace it to make it fail.
using ChunkAllocator = void* (*)(size_t size);
void SetChunkAllocatorForTesting(ChunkAllocator allocator);

// The WinHTTP calls that tests replace where Wine cannot produce the case (endless resends,
// an impossible amount available) or cannot report it (the autologon policy of a request, the
// default credentials, which Wine refuses to set).
struct HttpCalls {
  decltype(&::WinHttpSendRequest) send_request;
  decltype(&::WinHttpQueryDataAvailable) query_data_available;
  decltype(&::WinHttpSetOption) set_option;
  decltype(&::WinHttpSetCredentials) set_credentials;
};
[[nodiscard]] const HttpCalls& PlatformHttpCalls();
// Null restores the platform's.
void SetHttpCallsForTesting(const HttpCalls* calls);
