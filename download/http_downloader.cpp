#include "download/http_downloader.h"
#include "download/active_downloader.h"

#include <commctrl.h>

#include <cwchar>
#include <initializer_list>

#include "win/clock.h"
#include "win/internet_handle.h"
#include "win/unique_handle.h"
#include "win/wide_string.h"

NamedProxyConfig NamedProxySettings = {};
std::atomic<HttpDownloader*> ActiveDownloader{nullptr};

namespace {

void* HeapAllocate(size_t size) { return ::HeapAlloc(::GetProcessHeap(), 0, size); }
std::atomic<ChunkAllocator> g_chunk_allocator{HeapAllocate};
std::atomic<StageObserver> g_stage_observer{nullptr};

constexpr DWORD kWorkingBufferBytes = 2048;
constexpr int kAvailabilityTries = 5;
constexpr DWORD kAvailabilityWaitMs = 200;

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
  return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

// Sends the request until a response is accepted (200 or 206) or the exchange ends.
// Each challenge is answered once: the same challenge twice in a row ends it.
bool RunRequestLoop(HINTERNET request, const wchar_t* user_name, const wchar_t* password) {
  DWORD proxy_scheme = 0;
  DWORD last_status = 0;
  for (;;) {
    if (proxy_scheme != 0) {
      ::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, proxy_scheme, user_name, password, nullptr);
    }
    if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      if (::GetLastError() == ERROR_WINHTTP_RESEND_REQUEST) continue;
      return false;
    }
    if (!::WinHttpReceiveResponse(request, nullptr)) {
      if (::GetLastError() == ERROR_WINHTTP_RESEND_REQUEST) continue;
      return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
      return false;
    }
    bool done = false;
    DWORD supported = 0, first = 0, target = 0;
    switch (status) {
      case HTTP_STATUS_OK:
      case HTTP_STATUS_PARTIAL_CONTENT:
        return true;
      case HTTP_STATUS_DENIED:
        if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target) ||
            !::WinHttpSetCredentials(request, target, ChooseAuthScheme(supported), user_name, password, nullptr)) {
          return false;
        }
        done = last_status == HTTP_STATUS_DENIED;
        break;
      case HTTP_STATUS_PROXY_AUTH_REQ:
        if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) return false;
        proxy_scheme = ChooseAuthScheme(supported);
        done = last_status == HTTP_STATUS_PROXY_AUTH_REQ;
        break;
      default:
        return false;
    }
    last_status = status;
    if (done) return false;
  }
}

}  // namespace

void SetStageObserverForTesting(StageObserver observer) { g_stage_observer.store(observer); }

void HttpDownloader::SetStage(int32_t stage) noexcept {
  stage_.store(stage, std::memory_order_relaxed);
  if (StageObserver observer = g_stage_observer.load(std::memory_order_relaxed)) {
    observer(stage, mode_.load(std::memory_order_relaxed));
  }
}

void SetChunkAllocatorForTesting(ChunkAllocator allocator) {
  g_chunk_allocator.store(allocator ? allocator : HeapAllocate);
}

void NormalizeUrl(const wchar_t* url, wchar_t* out) {
  out[0] = L'\0';
  size_t length = 0;
  if (!StartsWithNoCase(url, L"http://") && !StartsWithNoCase(url, L"https://")) {
    wcscpy(out, L"http://");
    length = 7;
  }
  size_t taken = 0;
  while (taken < kMaxUrlTaken && url[taken] != L'\0') out[length++] = url[taken++];
  out[length] = L'\0';
}

void CopyHostName(const URL_COMPONENTS& components, wchar_t* out) {
  size_t length = components.dwHostNameLength;
  if (length > kUrlCapacity - 1) length = kUrlCapacity - 1;
  if (components.lpszHostName == nullptr) length = 0;
  wmemcpy(out, components.lpszHostName, length);
  out[length] = L'\0';
}

int32_t ProgressPosition(uint32_t received, uint32_t total) {
  const auto r = static_cast<int32_t>(received);
  const auto t = static_cast<int32_t>(total);
  if (t == 0) return -1;
  // Received × 100 would leave 32 bits for large sizes: divide the total first there.
  const int32_t position = (t > 100000 || r > 100000) ? r / (t / 100) : r * 100 / t;
  return position > 100 ? 100 : position;
}

void UpdateProgressBar(HWND progress_bar, uint32_t received, uint32_t total) {
  if (progress_bar == nullptr || total == 0) return;
  ::SendMessageW(progress_bar, PBM_SETPOS, static_cast<WPARAM>(ProgressPosition(received, total)), 0);
}

DWORD ChooseAuthScheme(DWORD supported) {
  for (DWORD scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM,
                       WINHTTP_AUTH_SCHEME_PASSPORT, WINHTTP_AUTH_SCHEME_DIGEST}) {
    if (supported & scheme) return scheme;
  }
  return WINHTTP_AUTH_SCHEME_BASIC;
}

HttpDownloader::~HttpDownloader() { ReleaseIeProxyConfig(ie_proxy_config_); }

bool HttpDownloader::Download(const wchar_t* url, const wchar_t* file_path, HWND progress_bar,
                              int32_t strategy, int32_t* percent_out) {
  switch (strategy) {
    case kDirectThenIeProxy:
      return DownloadDirect(url, file_path, progress_bar) || DownloadViaIeProxy(url, file_path, progress_bar);
    case kDirectOnly:
      return DownloadDirect(url, file_path, progress_bar);
    case kDefaultProxyOnly:
      return DownloadViaDefaultProxy(url, file_path, progress_bar);
    case kIeProxyOnly:
      return DownloadViaIeProxy(url, file_path, progress_bar);
    case kNamedProxyWithCredentials:
      return TransferFile(url, file_path, progress_bar, 0, 0, nullptr, kModeNamedProxy,
                          NamedProxySettings.userName, NamedProxySettings.password, percent_out, nullptr);
    default:
      return false;
  }
}

bool HttpDownloader::DownloadDirect(const wchar_t* url, const wchar_t* file_path, HWND progress_bar) {
  return TransferFile(url, file_path, progress_bar, 0, 0, nullptr, kModeDirect, nullptr, nullptr, nullptr, nullptr);
}

bool HttpDownloader::DownloadViaDefaultProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar) {
  return TransferFile(url, file_path, progress_bar, 0, 0, nullptr, kModeDefaultProxy, nullptr, nullptr, nullptr,
                      nullptr);
}

bool HttpDownloader::DownloadViaIeProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar) {
  return TransferFile(url, file_path, progress_bar, 0, 0, nullptr, kModeIeProxy, nullptr, nullptr, nullptr, nullptr);
}

bool HttpDownloader::TransferFile(const wchar_t* url, const wchar_t* file_path, HWND progress_bar,
                                  uint32_t range_from, uint32_t range_to, const int32_t* stop_flag,
                                  int32_t mode, const wchar_t* user_name, const wchar_t* password,
                                  int32_t* percent_out, TransferProgress* progress) {
  win::UniqueHeapMemory header_buffer(HeapAllocate(kWorkingBufferBytes));
  win::UniqueHeapMemory host_buffer(HeapAllocate(kWorkingBufferBytes));
  win::UniqueHeapMemory url_buffer(HeapAllocate(kWorkingBufferBytes));
  if (!header_buffer || !host_buffer || !url_buffer) {
    SetStage(kStageFailed);
    return false;
  }
  auto* header = static_cast<wchar_t*>(header_buffer.get());
  auto* host = static_cast<wchar_t*>(host_buffer.get());
  auto* normalized = static_cast<wchar_t*>(url_buffer.get());

  TransferProgress own_progress = {0, 0, 0};
  if (progress == nullptr) progress = &own_progress;

  mode_.store(mode, std::memory_order_relaxed);
  SetStage(kStagePreparing);

  if (range_to < range_from) {
    SetStage(kStageFailed);
    return false;
  }
  bool send_range = false;
  if (range_to != 0 && range_to - range_from + 1 != 0) {
    WideString text = WideString::Format(L"Range: bytes=%u-%u", range_from, range_to);
    wcsncpy(header, text.c_str(), kWorkingBufferBytes / sizeof(wchar_t) - 1);
    header[kWorkingBufferBytes / sizeof(wchar_t) - 1] = L'\0';
    send_range = true;
  }
  if (url == nullptr || file_path == nullptr) {
    SetStage(kStageFailed);
    return false;
  }
  NormalizeUrl(url, normalized);

  // The attempt's three handles, declared so that the request closes first.
  win::UniqueInternetHandle session(OpenSession(kUserAgent, mode, normalized));
  win::UniqueInternetHandle connection;
  win::UniqueInternetHandle request;
  if (!session) {
    SetStage(kStageFailed);
    return false;
  }
  SetStage(kStageSessionOpened);

  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwSchemeLength = static_cast<DWORD>(-1);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(normalized, 0, 0, &components)) {
    SetStage(kStageFailed);
    return false;
  }
  SetStage(kStageUrlParsed);
  CopyHostName(components, host);

  if (connect_timeout_ != 0) {
    ::WinHttpSetTimeouts(session.get(), resolve_timeout_, connect_timeout_, send_timeout_, receive_timeout_);
  }
  connection.reset(::WinHttpConnect(session.get(), host, components.nPort, 0));
  if (!connection) {
    SetStage(kStageFailed);
    return false;
  }
  SetStage(kStageConnected);

  const wchar_t* accept_types[] = {L"text/*", L"application/*", L"image/*", nullptr};
  // An https URL is asked for over TLS on its port; the installer's own URLs are http.
  const DWORD flags = WINHTTP_FLAG_REFRESH | (components.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  request.reset(::WinHttpOpenRequest(connection.get(), L"GET", components.lpszUrlPath, L"HTTP/1.1",
                                     WINHTTP_NO_REFERER, accept_types, flags));
  if (!request) {
    SetStage(kStageFailed);
    return false;
  }
  SetStage(kStageRequestOpened);
  if (send_range && !::WinHttpAddRequestHeaders(request.get(), header, static_cast<DWORD>(wcslen(header)),
                                                 WINHTTP_ADDREQ_FLAG_ADD)) {
    SetStage(kStageFailed);
    return false;
  }

  if (!RunRequestLoop(request.get(), user_name, password)) {
    SetStage(kStageFailed);
    return false;
  }
  SetStage(kStageReceiving);

  win::UniqueFile file;
  if (progress->totalSize == 0 && progress->resumeFlag == 0) {
    DWORD length = 0;
    DWORD size = sizeof(length);
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX) ||
        length == 0) {
      SetStage(kStageFailed);
      return false;
    }
    progress->totalSize = length;
    ::DeleteFileW(file_path);
    file.reset(::CreateFileW(file_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      SetStage(kStageFailed);
      return false;
    }
  }
  // A continued transfer would need the existing file opened for it: refuse rather than
  // write to no file at all.
  if (!file.valid()) {
    SetStage(kStageFailed);
    return false;
  }

  // The bar moves only when its position changes: a hundred cross-thread messages per
  // download instead of one per chunk.
  int32_t shown_position = -2;
  while (progress->bytesReceived < progress->totalSize) {
    // Up to five asks, 200 ms apart while the answer is a failure or nothing yet.
    DWORD available = 0;
    bool answered = false;
    for (int attempt = 1; attempt <= kAvailabilityTries; ++attempt) {
      available = 0;
      answered = ::WinHttpQueryDataAvailable(request.get(), &available) != FALSE;
      if (answered && available != 0) break;
      if (attempt < kAvailabilityTries) win::SleepFor(kAvailabilityWaitMs);
    }
    if (!answered) {
      file.reset();
      SetStage(kStageFailed);
      return false;
    }
    if (available == 0) break;

    win::UniqueHeapMemory chunk(g_chunk_allocator.load()(available));
    if (chunk.get() == nullptr) {
      file.reset();
      SetStage(kStageOutOfMemory);
      return false;
    }
    DWORD read = 0;
    if (!::WinHttpReadData(request.get(), chunk.get(), available, &read)) {
      SetStage(kStageFailed);
      return false;
    }
    SetStage(kStageChunkWritten);
    if (stop_flag != nullptr && *stop_flag != 0) {
      file.reset();
      SetStage(kStageStopped);
      return false;
    }
    if (append_to_file_ == 1) ::SetFilePointer(file.get(), 0, nullptr, FILE_END);

    // Bytes past the announced length are dropped.
    const uint32_t room = progress->totalSize - progress->bytesReceived;
    const DWORD n = read < room ? read : room;
    DWORD written = 0;
    // A write that fails or comes short would leave a broken file counted as received.
    if (n != 0 && (!::WriteFile(file.get(), chunk.get(), n, &written, nullptr) || written != n)) {
      file.reset();
      SetStage(kStageFailed);
      return false;
    }
    progress->bytesReceived += n;
    if (percent_out != nullptr && progress->totalSize != 0) {
      *percent_out = static_cast<int32_t>(static_cast<double>(progress->bytesReceived) * 100.0 /
                                          static_cast<double>(progress->totalSize));
    }
    const int32_t position = ProgressPosition(progress->bytesReceived, progress->totalSize);
    if (progress_bar != nullptr && position != shown_position) {
      UpdateProgressBar(progress_bar, progress->bytesReceived, progress->totalSize);
      shown_position = position;
    }
  }
  file.reset();
  if (progress->bytesReceived == progress->totalSize) {
    SetStage(kStageComplete);
    return true;
  }
  SetStage(kStageFailed);
  return false;
}
