// Times one download three times over and prints the best of each, in milliseconds:
//   http_bench HOST PORT PATH TARGET [RUNS]
// - "engine": HttpDownloader, direct mode, moving a real progress bar that a window thread of
//   its own owns, as the installer's dialog does;
// - "bare":   the least synchronous WinHTTP loop: one session, one request, reads into one
//   64 KiB buffer, writes to the file.
#include <windows.h>
#include <commctrl.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "download/http_downloader.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool BareDownload(const wchar_t* host, INTERNET_PORT port, const wchar_t* path, const wchar_t* target) {
  HINTERNET session = ::WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = session ? ::WinHttpConnect(session, host, port, 0) : nullptr;
  HINTERNET request = connection ? ::WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr, 0) : nullptr;
  bool ok = request && ::WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) &&
            ::WinHttpReceiveResponse(request, nullptr);
  HANDLE file = ::CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  static char buffer[65536];
  while (ok && file != INVALID_HANDLE_VALUE) {
    DWORD read = 0;
    if (!::WinHttpReadData(request, buffer, sizeof(buffer), &read)) ok = false;
    if (read == 0) break;
    DWORD written = 0;
    if (!::WriteFile(file, buffer, read, &written, nullptr) || written != read) ok = false;
  }
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  for (HINTERNET handle : {request, connection, session}) {
    if (handle) ::WinHttpCloseHandle(handle);
  }
  return ok && file != INVALID_HANDLE_VALUE;
}

// A window thread that owns the progress bar and pumps its messages.
struct ProgressWindow {
  HWND bar = nullptr;
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD thread_id = 0;

  static DWORD WINAPI Run(void* parameter) {
    auto* self = static_cast<ProgressWindow*>(parameter);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    self->bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP, 0, 0, 300, 20, nullptr, nullptr, nullptr, nullptr);
    ::SetEvent(self->ready);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
    ::DestroyWindow(self->bar);
    return 0;
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fputs("usage: http_bench HOST PORT PATH TARGET [RUNS]\n", stderr);
    return 64;
  }
  const wchar_t* host = argv[1];
  const auto port = static_cast<INTERNET_PORT>(_wtoi(argv[2]));
  const wchar_t* path = argv[3];
  const wchar_t* target = argv[4];
  const int runs = argc > 5 ? _wtoi(argv[5]) : 3;
  const std::wstring url = std::wstring(L"http://") + host + L":" + argv[2] + path;

  ProgressWindow window;
  HANDLE thread = ::CreateThread(nullptr, 0, ProgressWindow::Run, &window, 0, &window.thread_id);
  ::WaitForSingleObject(window.ready, INFINITE);

  double engine = 1e30, bare = 1e30;
  for (int i = 0; i < runs; ++i) {
    HttpDownloader downloader;
    double start = Now();
    if (!downloader.Download(url.c_str(), target, window.bar, kDirectOnly, nullptr)) {
      std::fputs("the engine's download failed\n", stderr);
      return 1;
    }
    engine = std::min(engine, Now() - start);
    start = Now();
    if (!BareDownload(host, port, path, target)) {
      std::fputs("the bare download failed\n", stderr);
      return 1;
    }
    bare = std::min(bare, Now() - start);
  }
  ::PostThreadMessageW(window.thread_id, WM_QUIT, 0, 0);
  ::WaitForSingleObject(thread, INFINITE);
  std::printf("%.0f %.0f\n", engine, bare);
  return 0;
}
