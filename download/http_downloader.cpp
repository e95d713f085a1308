#include "download/http_downloader.h"
#include "download/proxy_discovery.h"
#include "download/active_downloader.h"
#include "download/http_request.h"
#include "download/redirect.h"

#include <commctrl.h>

#include <cwchar>
#include <initializer_list>

#include "win/clock.h"
#include "win/internet_handle.h"
#include "win/trace.h"
#include "win/unique_handle.h"
#include "win/wide_string.h"

namespace {

std::atomic<ChunkAllocator> g_chunk_allocator{win::AllocateFromProcessHeap};
std::atomic<StageObserver> g_stage_observer{nullptr};

constexpr int kAvailabilityTries = 5;
constexpr DWORD kAvailabilityWaitMs = 200;
constexpr DWORD kHttpRangeNotSatisfiable = 416;

// A time-out: WinHTTP's own code, or the socket's, which Wine reports instead.
bool IsTimeout(DWORD error) { return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT; }

// Whether `count` bytes that lie at `offset` in the file agree with the start of a package.
bool AgreesWithPackageMagic(const uint8_t* bytes, uint32_t count, uint32_t offset) {
  for (uint32_t i = 0; offset + i < sizeof(kPackageMagic) && i < count; ++i) {
    if (bytes[i] != static_cast<uint8_t>(kPackageMagic >> (8 * (offset + i)))) return false;
  }
  return true;
}

// The bytes this program may still use on the volume of the folder that holds `file_path`;
// as good as unlimited when that cannot be told.
uint64_t FreeSpaceBeside(const wchar_t* file_path) {
  const wchar_t* slash = file_path != nullptr ? wcsrchr(file_path, L'\\') : nullptr;
  ULARGE_INTEGER available = {};
  if (slash == nullptr) return UINT64_MAX;
  const WideString folder = WideString::Copy(file_path, static_cast<size_t>(slash - file_path) + 1);
  return ::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) ? available.QuadPart : UINT64_MAX;
}

// Writes all `size` bytes. A write that comes short (as Wine's does on a full disk) goes on
// with the rest, so that a full disk fails with its own error.
bool WriteWhole(HANDLE file, const uint8_t* data, DWORD size) {
  while (size != 0) {
    DWORD written = 0;
    if (!::WriteFile(file, data, size, &written, nullptr)) return false;
    if (written == 0 || written > size) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
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
  g_chunk_allocator.store(allocator ? allocator : win::AllocateFromProcessHeap);
}

void UpdateProgressBar(HWND progress_bar, uint32_t received, uint32_t total) {
  if (progress_bar == nullptr || total == 0) return;
  ::SendMessageW(progress_bar, PBM_SETPOS, static_cast<WPARAM>(ProgressPosition(received, total)), 0);
}

HttpDownloader::~HttpDownloader() { ReleaseIeProxyConfig(ie_proxy_config_); }

void HttpDownloader::SetTimeouts(int32_t resolve, int32_t connect, int32_t send, int32_t receive) noexcept {
  resolve_timeout_ = resolve;
  connect_timeout_ = connect;
  send_timeout_ = send;
  receive_timeout_ = receive;
}

bool HttpDownloader::Download(const wchar_t* url, const wchar_t* file_path, HWND progress_bar,
                              int32_t strategy, int32_t* percent_out) {
  switch (strategy) {
    case kDirectThenIeProxy:
      return DownloadDirectThenIeProxy(url, file_path, progress_bar);
    case kDirectOnly:
      return DownloadDirect(url, file_path, progress_bar);
    case kDefaultProxyOnly:
      return DownloadViaDefaultProxy(url, file_path, progress_bar);
    case kIeProxyOnly:
      return DownloadViaIeProxy(url, file_path, progress_bar);
    case kNamedProxyWithCredentials:
      return DownloadViaNamedProxy(url, file_path, progress_bar, percent_out);
    default:
      return false;
  }
}

bool HttpDownloader::DownloadDirect(const wchar_t* url, const wchar_t* file_path, HWND progress_bar) {
  return DownloadInMode(url, file_path, progress_bar, kModeDirect);
}

bool HttpDownloader::DownloadViaDefaultProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar) {
  return DownloadInMode(url, file_path, progress_bar, kModeDefaultProxy);
}

bool HttpDownloader::DownloadViaIeProxy(const wchar_t* url, const wchar_t* file_path, HWND progress_bar) {
  return DownloadInMode(url, file_path, progress_bar, kModeIeProxy);
}

bool HttpDownloader::CanResume(const wchar_t* url, const wchar_t* file_path) const noexcept {
  return url != nullptr && file_path != nullptr && resume_.on_disk != 0 && !resume_.validator.empty() &&
         wcscmp(resume_.url.c_str(), url) == 0 && wcscmp(resume_.path.c_str(), file_path) == 0;
}

bool HttpDownloader::DownloadInMode(const wchar_t* url, const wchar_t* file_path, HWND progress_bar, int32_t mode) {
  bool ok = TransferFile(url, file_path, progress_bar, 0, 0, nullptr, mode, nullptr, nullptr, nullptr, nullptr);
  for (int retry = 0; !ok && retry < kResumeTries; ++retry) {
    // Once more in this mode only after a network fault that brought new bytes to go on
    // from, or an answer that asked to start again from zero.
    const int32_t stage = GetStage();
    if (stage == kStageOutOfMemory || stage == kStageStopped) break;
    if (!(try_bytes_ != 0 && CanResume(url, file_path)) && !restart_asked_) break;
    // The stage stays Failed meanwhile: the status line says that the download is resumed.
    PublishNextTry(kResumeWaitsMs[retry]);
    const bool stopped = win::SleepUnless(kResumeWaitsMs[retry], stop_check_);
    PublishNextTry(0);
    if (stopped) break;
    ok = TransferFile(url, file_path, progress_bar, 0, 0, nullptr, mode, nullptr, nullptr, nullptr, nullptr);
  }
  return ok;
}

bool HttpDownloader::Fail(int32_t stage, FailureCause cause) noexcept {
  const DWORD error = ::GetLastError();
  cause_ = cause != FailureCause::kNone ? cause : CauseOfStatus(status_);
  SetStage(stage);
  DebugTrace(L"nMode: %d failed: %s (nStage: %d nStatus: %d nError: %d, %d bytes, %d ms)", static_cast<int>(GetMode()),
             FailureCauseName(cause_), static_cast<int>(stage), static_cast<int>(status_), static_cast<int>(error),
             static_cast<int>(try_bytes_), static_cast<int>(::GetTickCount() - attempt_start_));
  TraceAttempt(FailureCauseName(cause_));
  return false;
}

void HttpDownloader::TraceAttempt(const wchar_t* outcome) const noexcept {
  static constexpr const wchar_t* kModeNames[] = {L"none", L"direct", L"default proxy", L"IE settings", L"named proxy"};
  const int32_t mode = GetMode();
  const wchar_t* name = mode >= 0 && mode <= kModeNamedProxy ? kModeNames[mode] : L"unknown";
  DebugTrace(L"Attempt: GET %s, mode %s, proxy %s: status %d, %d bytes in %d ms: %s", attempt_url_.c_str(), name,
             mode == kModeDirect ? L"(none)" : AttemptProxy(), static_cast<int>(status_),
             static_cast<int>(try_bytes_), static_cast<int>(::GetTickCount() - attempt_start_), outcome);
}

bool HttpDownloader::HasRoom(const Attempt& attempt) noexcept {
  const TransferProgress& progress = *attempt.progress;
  const uint64_t total = progress.totalSize;
  const uint64_t setup = package_checks_ && total > kPackageHeaderSize ? total - kPackageHeaderSize : 0;
  space_needed_ = (total - progress.bytesReceived) + setup + kSpaceMarginBytes;
  space_free_ = FreeSpaceBeside(attempt.file_path);
  return space_free_ >= space_needed_;
}

bool HttpDownloader::TransferFile(const wchar_t* url, const wchar_t* file_path, HWND progress_bar,
                                  uint32_t range_from, uint32_t range_to, const int32_t* stop_flag,
                                  int32_t mode, const wchar_t* user_name, const wchar_t* password,
                                  int32_t* percent_out, TransferProgress* progress) {
  // Only the attempts that keep their own record, with no range of the caller's, take part
  // in resuming: they start from the file on disk when they can, and keep its account.
  Attempt attempt;
  attempt.resumable = progress == nullptr && range_to == 0;
  TransferProgress own_progress = {0, 0, 0};
  attempt.progress = progress != nullptr ? progress : &own_progress;
  attempt.file_path = file_path;
  try_bytes_ = 0;
  restart_asked_ = false;
  cause_ = FailureCause::kNone;
  status_ = 0;
  attempt_start_ = ::GetTickCount();
  attempt_url_ = WideString::Copy(url != nullptr ? url : L"");
  ForgetAttemptProxy();

  mode_.store(mode, std::memory_order_relaxed);
  SetStage(kStagePreparing);
  if (range_to < range_from || url == nullptr || file_path == nullptr) return Fail(kStageFailed);
  if (range_to != 0 && range_to - range_from + 1 != 0) {
    attempt.header = WideString::Format(L"Range: bytes=%u-%u", range_from, range_to);
  }
  attempt.resuming = attempt.resumable && CanResume(url, file_path);
  if (attempt.resuming) {
    // The rest of the file, but only if it is still the file whose start is on disk.
    attempt.header = WideString::Format(L"Range: bytes=%u-\r\nIf-Range: %s", resume_.on_disk, resume_.validator.c_str());
  }
  if (!OpenRequest(url, mode, &attempt)) return false;

  DWORD status = 0;
  const bool answered = Exchange(user_name, password, &attempt, &status);
  status_ = status;
  if (!answered) {
    // The bytes on disk lie past the file's end now: what comes next starts from zero.
    if (attempt.resuming && status == kHttpRangeNotSatisfiable) {
      resume_ = ResumePoint();
      restart_asked_ = true;
    }
    return Fail(kStageFailed);
  }
  SetStage(kStageReceiving);
  if (!AcceptResponse(url, file_path, status, progress_bar, &attempt)) return false;
  return ReadBody(progress_bar, stop_flag, percent_out, &attempt);
}

bool HttpDownloader::OpenRequest(const wchar_t* url, int32_t mode, Attempt* attempt) {
  wchar_t normalized[kUrlCapacity];
  NormalizeUrl(url, normalized);
  attempt->session = OpenSession(kUserAgent, mode, normalized);
  // (Mode 3 without a proxy in the user's settings has no way out: as no connection.)
  if (!attempt->session) return Fail(kStageFailed);
  SetStage(kStageSessionOpened);
  if (connect_timeout_ != 0) {
    ::WinHttpSetTimeouts(attempt->session.get(), resolve_timeout_, connect_timeout_, send_timeout_, receive_timeout_);
    // Without it a server that takes the request and never answers holds the attempt for
    // good under Wine; Windows bounds that wait by the receive time-out already.
    DWORD response_timeout = static_cast<DWORD>(receive_timeout_);
    ::WinHttpSetOption(attempt->session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                       sizeof(response_timeout));
  }
  attempt->url = WideString::Copy(normalized);
  // What fails from here on is this machine's doing, not the network's.
  return OpenHop(attempt) || Fail(kStageFailed, FailureCause::kOther);
}

bool HttpDownloader::OpenHop(Attempt* attempt) {
  attempt->request.reset();
  attempt->connection.reset();
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwSchemeLength = static_cast<DWORD>(-1);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(attempt->url.c_str(), 0, 0, &components)) return false;
  SetStage(kStageUrlParsed);
  wchar_t host[kUrlCapacity];
  CopyHostName(components, host);
  attempt->connection.reset(::WinHttpConnect(attempt->session.get(), host, components.nPort, 0));
  if (!attempt->connection) return false;
  SetStage(kStageConnected);

  const wchar_t* accept_types[] = {L"text/*", L"application/*", L"image/*", nullptr};
  // An https URL is asked for over TLS on its port; the installer's own URLs are http.
  const DWORD flags = WINHTTP_FLAG_REFRESH | (components.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  attempt->request.reset(::WinHttpOpenRequest(attempt->connection.get(), L"GET", components.lpszUrlPath, L"HTTP/1.1",
                                              WINHTTP_NO_REFERER, accept_types, flags));
  if (!attempt->request) return false;
  SetStage(kStageRequestOpened);
  // The download host never gets the logged-on user's credentials, however the platform
  // classifies it; and the platform follows no redirect by itself (a request raised for its
  // proxy would carry the raise to wherever it is sent). A request that cannot be told both
  // is not sent.
  DWORD autologon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
  DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
  HINTERNET request = attempt->request.get();
  if (!Calls().set_option(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &autologon, sizeof(autologon)) ||
      !Calls().set_option(request, WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects, sizeof(no_redirects))) {
    return false;
  }
  const WideString& header = attempt->header;
  return header.empty() || ::WinHttpAddRequestHeaders(request, header.c_str(), static_cast<DWORD>(header.size()),
                                                     WINHTTP_ADDREQ_FLAG_ADD);
}

bool HttpDownloader::Exchange(const wchar_t* user_name, const wchar_t* password, Attempt* attempt, DWORD* status) {
  for (int hop = 0;; ++hop) {
    ::SetLastError(ERROR_SUCCESS);  // what the exchange leaves is its own error, or none
    // Each request (each hop a new one, at the HIGH policy) lets its proxy have the user's logon
    // only on its own 407, and only where that proxy carries the hop's host.
    const bool proxy_logon = ProxyMayHaveTheLogon(attempt->url.c_str());
    if (RunRequestLoop(attempt->request.get(), user_name, password, proxy_logon, status)) return true;
    if (!IsRedirect(*status)) return false;
    const WideString location = QueryHeaderText(attempt->request.get(), WINHTTP_QUERY_LOCATION);
    WideString next = RedirectTarget(location.c_str(), attempt->url.c_str());
    const wchar_t* shown = next.empty() ? L"(refused: not an http URL)"
                           : hop == kMaxRedirects ? L"(refused: too many)"
                                                  : next.c_str();
    DebugTrace(L"nStatus: %d sRedirect: %s", static_cast<int>(*status), shown);
    if (next.empty() || hop == kMaxRedirects) return false;
    attempt->url = std::move(next);
    if (!OpenHop(attempt)) return false;
  }
}

bool HttpDownloader::AcceptResponse(const wchar_t* url, const wchar_t* file_path, DWORD status, HWND progress_bar,
                                    Attempt* attempt) {
  HINTERNET request = attempt->request.get();
  const TransferProgress* progress = attempt->progress;
  // A page of the network's own (a sign-in page, as a rule) instead of the package: told at
  // once, nothing of it read.
  if (package_checks_ && status == HTTP_STATUS_OK && IsWebPage(request)) {
    return Fail(kStageFailed, FailureCause::kSignInPage);
  }
  if (attempt->resuming && status == HTTP_STATUS_PARTIAL_CONTENT) {
    if (!ContinueFile(file_path, progress_bar, attempt)) return false;
  } else if (status == HTTP_STATUS_PARTIAL_CONTENT && attempt->header.empty()) {
    // A part of something that was never asked for.
    return Fail(kStageFailed);
  } else if (progress->totalSize == 0 && progress->resumeFlag == 0) {
    // The file from its first byte (a 200 to a resuming request: it changed, or the server
    // serves no ranges).
    if (!StartFile(url, file_path, attempt)) return false;
  }
  // A continued transfer of the caller's own would need the existing file opened for it:
  // refuse rather than write to no file at all.
  if (!attempt->file.valid()) return Fail(kStageFailed);
  // Before a byte of the body is read: the package and its setup must fit.
  if (package_checks_ && !HasRoom(*attempt)) return Fail(kStageFailed, FailureCause::kDiskFull);
  return true;
}

bool HttpDownloader::ContinueFile(const wchar_t* file_path, HWND progress_bar, Attempt* attempt) {
  HINTERNET request = attempt->request.get();
  // Exactly the rest of the file we have the start of, or nothing: else start again.
  uint32_t first = 0, last = 0, total = 0;
  const WideString range = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_RANGE);
  const WideString length = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
  bool fits = ParseContentRange(range.c_str(), &first, &last, &total) && first == resume_.on_disk &&
              total == resume_.total && last == total - 1 &&
              (length.empty() || ParseContentLength(length.c_str()) == total - first);
  if (fits) {
    attempt->file.reset(::CreateFileW(file_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    LARGE_INTEGER at = {};
    at.QuadPart = first;
    // Whatever lies past the bytes counted (a write that failed part-way) goes.
    fits = attempt->file.valid() && ::GetFileSizeEx(attempt->file.get(), &size) && size.QuadPart >= at.QuadPart &&
           ::SetFilePointerEx(attempt->file.get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(attempt->file.get());
  }
  if (!fits) {
    attempt->file.reset();
    resume_ = ResumePoint();
    restart_asked_ = true;
    return Fail(kStageFailed);
  }
  attempt->progress->totalSize = total;
  attempt->progress->bytesReceived = first;
  UpdateProgressBar(progress_bar, first, total);
  PublishProgress(first, total);
  return true;
}

bool HttpDownloader::StartFile(const wchar_t* url, const wchar_t* file_path, Attempt* attempt) {
  HINTERNET request = attempt->request.get();
  const WideString length_text = QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
  const uint32_t length = ParseContentLength(length_text.c_str());
  if (length == 0) return Fail(kStageFailed);
  attempt->progress->totalSize = length;
  PublishProgress(0, length);
  ::DeleteFileW(file_path);
  attempt->file.reset(::CreateFileW(file_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!attempt->file.valid()) return Fail(kStageFailed);
  if (attempt->resumable) {
    resume_ = ResumePoint();
    resume_.url = WideString::Copy(url);
    resume_.path = WideString::Copy(file_path);
    resume_.validator = ResumeValidator(request);
    resume_.total = length;
  }
  return true;
}

bool HttpDownloader::WaitForData(HINTERNET request, DWORD* available) {
  // Up to five asks, 200 ms apart while the answer is a failure or nothing yet. A time-out is a
  // stalled connection: asking again would only wait as long again.
  bool answered = false;
  for (int ask = 1; ask <= kAvailabilityTries; ++ask) {
    *available = 0;
    answered = Calls().query_data_available(request, available) != FALSE;
    if (answered && *available != 0) break;
    if (!answered && IsTimeout(::GetLastError())) break;
    if (ask < kAvailabilityTries) win::SleepFor(kAvailabilityWaitMs);
  }
  // More than the largest file the engine takes is no count of a sound connection: after a
  // reset Wine reports any amount, and a read of it runs past the platform's own buffer.
  return answered && *available <= kMaxDownloadBytes;
}

bool HttpDownloader::WriteChunk(const uint8_t* data, DWORD size, Attempt* attempt) {
  TransferProgress* progress = attempt->progress;
  // What does not begin as a package does is a page of the network's: nothing of it is kept.
  if (package_checks_ && progress->bytesReceived < sizeof(kPackageMagic) &&
      !AgreesWithPackageMagic(data, size, progress->bytesReceived)) {
    return Fail(kStageFailed, FailureCause::kSignInPage);
  }
  // A write that fails would leave a broken file counted as received.
  if (!WriteWhole(attempt->file.get(), data, size)) {
    const DWORD error = ::GetLastError();
    // Not a network fault: trying again here would only fail the same way.
    if (attempt->resumable) resume_ = ResumePoint();
    if (error != ERROR_DISK_FULL && error != ERROR_HANDLE_DISK_FULL) return Fail(kStageFailed);
    static_cast<void>(HasRoom(*attempt));  // what is needed and free now, for the user
    ::SetLastError(error);
    return Fail(kStageFailed, FailureCause::kDiskFull);
  }
  progress->bytesReceived += size;
  PublishProgress(progress->bytesReceived, progress->totalSize);
  try_bytes_ += size;
  if (attempt->resumable) resume_.on_disk = progress->bytesReceived;
  return true;
}

void HttpDownloader::ShowProgress(HWND progress_bar, int32_t* percent_out, const TransferProgress& progress,
                                  int32_t* shown_position) {
  if (percent_out != nullptr && progress.totalSize != 0) {
    *percent_out = static_cast<int32_t>(static_cast<double>(progress.bytesReceived) * 100.0 /
                                        static_cast<double>(progress.totalSize));
  }
  // The bar moves only when its position changes: a hundred cross-thread messages per
  // download instead of one per chunk.
  const int32_t position = ProgressPosition(progress.bytesReceived, progress.totalSize);
  if (progress_bar != nullptr && position != *shown_position) {
    UpdateProgressBar(progress_bar, progress.bytesReceived, progress.totalSize);
    *shown_position = position;
  }
}

bool HttpDownloader::Stalled(StallWindow* window, uint32_t bytes, const TransferProgress& progress) const {
  window->bytes += bytes;
  const ULONGLONG now = ::GetTickCount64();
  if (now - window->start < stall_window_ms_) return false;
  if (window->bytes < kStallBytes && progress.bytesReceived < progress.totalSize) {
    DebugTrace(L"zerbo stalled: %d bytes", static_cast<int>(window->bytes));
    return true;
  }
  window->start = now;
  window->bytes = 0;
  return false;
}

bool HttpDownloader::ReadBody(HWND progress_bar, const int32_t* stop_flag, int32_t* percent_out, Attempt* attempt) {
  HINTERNET request = attempt->request.get();
  TransferProgress* progress = attempt->progress;
  int32_t shown_position = -2;
  StallWindow stall_window{::GetTickCount64(), 0};
  while (progress->bytesReceived < progress->totalSize) {
    DWORD available = 0;
    if (!WaitForData(request, &available)) return Fail(kStageFailed);
    if (available == 0) break;
    // Never more than the file still lacks, whatever the platform says is waiting.
    const uint32_t room = progress->totalSize - progress->bytesReceived;
    const DWORD wanted = available < room ? (available < kMaxChunkBytes ? available : kMaxChunkBytes)
                                          : (room < kMaxChunkBytes ? room : kMaxChunkBytes);
    win::UniqueHeapMemory chunk(g_chunk_allocator.load()(wanted));
    if (chunk.get() == nullptr) return Fail(kStageOutOfMemory);
    DWORD read = 0;
    if (!::WinHttpReadData(request, chunk.get(), wanted, &read)) return Fail(kStageFailed);
    SetStage(kStageChunkWritten);
    if (StopAsked(stop_flag)) return Fail(kStageStopped);
    if (append_to_file_ == 1) ::SetFilePointer(attempt->file.get(), 0, nullptr, FILE_END);
    const DWORD n = read < room ? read : room;
    if (!WriteChunk(static_cast<const uint8_t*>(chunk.get()), n, attempt)) return false;
    ShowProgress(progress_bar, percent_out, *progress, &shown_position);
    if (Stalled(&stall_window, n, *progress)) return Fail(kStageFailed);
  }
  attempt->file.reset();
  if (progress->bytesReceived == progress->totalSize) {
    SetStage(kStageComplete);
    DebugTrace(L"nMode: %d complete: %d bytes, %d ms", static_cast<int>(GetMode()), static_cast<int>(try_bytes_),
               static_cast<int>(::GetTickCount() - attempt_start_));
    TraceAttempt(L"complete");
    return true;
  }
  return Fail(kStageFailed);
}
