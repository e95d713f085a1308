// One file over HTTP with WinHTTP, in one of four connection modes, with a stage code that
// another thread may poll.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>

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

constexpr wchar_t kUserAgent[] =
    L"Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US; rv:1.9.2) Gecko/20100115 Firefox/3.6";
constexpr size_t kUrlCapacity = 1024;
constexpr size_t kMaxUrlTaken = 1000;

class HttpDownloader {
 public:
  HttpDownloader() noexcept = default;
  ~HttpDownloader();
  HttpDownloader(const HttpDownloader&) = delete;
  HttpDownloader& operator=(const HttpDownloader&) = delete;

  // Read from any thread: some recent whole value.
  [[nodiscard]] int32_t GetStage() const noexcept { return stage_.load(std::memory_order_relaxed); }
  [[nodiscard]] int32_t GetMode() const noexcept { return mode_.load(std::memory_order_relaxed); }

  // True when the file was received whole. Strategy 0: direct, then the IE proxy settings;
  // 1 to 3: one attempt in mode 1 to 3; 4: the named proxy with its credentials and
  // `percent_out`. Any other strategy: false, nothing touched.
  bool Download(const wchar_t* url, const wchar_t* file_path, HWND progress_bar, int32_t strategy,
                int32_t* percent_out);
  bool DownloadDirect(const wchar_t* url, const wchar_t* file_path, HWND progress_bar);
  bool DownloadViaDefaultProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar);
  bool DownloadViaIeProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar);

  // One attempt in one mode; `stage` tells how it ended.
  bool TransferFile(const wchar_t* url, const wchar_t* file_path, HWND progress_bar,
                    uint32_t range_from, uint32_t range_to, const int32_t* stop_flag, int32_t mode,
                    const wchar_t* user_name, const wchar_t* password, int32_t* percent_out,
                    TransferProgress* progress);

  // A WinHTTP session for `mode`, or null. Mode 3 asks for the proxy that serves `url`.
  HINTERNET OpenSession(const wchar_t* user_agent, int32_t mode, const wchar_t* url);
  // Reads a fresh copy of the current user's IE proxy settings; true when one is now held.
  bool LoadIeProxyConfig();

  [[nodiscard]] const WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* ieProxyConfig() const noexcept {
    return ie_proxy_config_;
  }

 private:
  void SetStage(int32_t stage) noexcept;
  static void ReleaseIeProxyConfig(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* config) noexcept;

  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG* ie_proxy_config_ = nullptr;
  std::atomic<int32_t> stage_{kStageInitial};
  std::atomic<int32_t> mode_{0};
  // Configuration kept from the design; nothing changes it, so no time-outs are set and
  // writes follow one another.
  int32_t resolve_timeout_ = 0;
  int32_t connect_timeout_ = 0;
  int32_t send_timeout_ = 0;
  int32_t receive_timeout_ = 0;
  int32_t append_to_file_ = 0;
};

// `url` with "http://" in front unless it starts with http:// or https:// (any case); at
// most its first 1000 characters are taken. `out` holds kUrlCapacity characters.
void NormalizeUrl(const wchar_t* url, wchar_t* out);

// The host of cracked URL components into `out` (1024 characters), cut at 1023.
void CopyHostName(const URL_COMPONENTS& components, wchar_t* out);

// The bar position for `received` of `total` bytes, 0 to 100; -1 when there is no total.
[[nodiscard]] int32_t ProgressPosition(uint32_t received, uint32_t total);
void UpdateProgressBar(HWND progress_bar, uint32_t received, uint32_t total);

// One scheme out of WinHTTP's scheme bits: Negotiate, NTLM, Passport, Digest, else Basic.
[[nodiscard]] DWORD ChooseAuthScheme(DWORD supported_schemes);

// Sees every stage change with the attempt's mode, on the downloading thread. For tests.
using StageObserver = void (*)(int32_t stage, int32_t mode);
void SetStageObserverForTesting(StageObserver observer);

// The chunk buffers of the read loop come from here. Tests replace it to make it fail.
using ChunkAllocator = void* (*)(size_t size);
void SetChunkAllocatorForTesting(ChunkAllocator allocator);
