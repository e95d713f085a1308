// The demo setup program that the end-to-end runs carry in their packages: a small window
// that says how it was started. It also records its command line in "<own path>.log" so
// that tests can read it (and, where ZUNO_DEMO_LOG names the record the runs read, its
// environment in "<that>.env"), and closes itself after ZUNO_DEMO_SECONDS seconds when set.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::wstring g_text;

LRESULT CALLBACK DemoProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(hwnd, &paint);
      RECT client;
      ::GetClientRect(hwnd, &client);
      ::InflateRect(&client, -12, -12);
      ::DrawTextW(dc, g_text.c_str(), -1, &client, DT_WORDBREAK);
      ::EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_TIMER:
    case WM_CLOSE:
      ::DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

void Write(const std::wstring& path, const std::wstring& text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
  ::CloseHandle(file);
}

// The environment block as one text, a variable a line.
std::wstring Environment() {
  std::wstring text;
  wchar_t* block = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
    text += entry;
    text += L'\n';
  }
  ::FreeEnvironmentStringsW(block);
  return text;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const std::wstring command_line = ::GetCommandLineW();
  wchar_t own[MAX_PATH];
  ::GetModuleFileNameW(nullptr, own, MAX_PATH);
  Write(std::wstring(own) + L".log", command_line);
  // Also where the end-to-end runs look, whatever directory this copy runs from.
  if (const wchar_t* log = _wgetenv(L"ZUNO_DEMO_LOG")) {
    const std::wstring environment = Environment();
    std::string utf8(environment.size() * 3, '\0');
    utf8.resize(::WideCharToMultiByte(CP_UTF8, 0, environment.data(), static_cast<int>(environment.size()), utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, nullptr));
    HANDLE file = ::CreateFileW((std::wstring(log) + L".env").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) ::WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    Write(log, command_line);
  }
  g_text = L"Zuno Office Guard setup (demo)\n\nStarted with:\n" + command_line;

  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DemoProc;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = L"ZunoDemoSetup";
  ::RegisterClassW(&window_class);
  HWND hwnd = ::CreateWindowW(L"ZunoDemoSetup", L"Zuno Office Guard Setup", WS_OVERLAPPEDWINDOW, 120, 120, 560, 240,
                              nullptr, nullptr, instance, nullptr);
  ::ShowWindow(hwnd, show);
  if (const wchar_t* seconds = _wgetenv(L"ZUNO_DEMO_SECONDS")) ::SetTimer(hwnd, 1, 1000 * _wtoi(seconds), nullptr);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
