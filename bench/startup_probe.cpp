// Times a program from its start to its first visible window, as a user sees it start:
//   startup_probe RUNS PROGRAM [ARGS...]
// Each run starts PROGRAM, polls every millisecond for a visible top-level window of that
// process, then ends the process. Prints the median and the best time in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Search {
  DWORD pid;
  bool found;
};

BOOL CALLBACK FindVisible(HWND hwnd, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && ::IsWindowVisible(hwnd)) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: startup_probe RUNS PROGRAM [ARGS...]\n", stderr);
    return 64;
  }
  const int runs = _wtoi(argv[1]);
  std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
  for (int i = 3; i < argc; ++i) command += L" " + std::wstring(argv[i]);

  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = command;
    LARGE_INTEGER begin, now;
    ::QueryPerformanceCounter(&begin);
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      std::fprintf(stderr, "cannot start the program: %lu\n", ::GetLastError());
      return 70;
    }
    Search search = {process.dwProcessId, false};
    for (;;) {
      ::EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
      ::QueryPerformanceCounter(&now);
      if (search.found || ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
      ::Sleep(1);
    }
    if (!search.found) {
      std::fputs("the program ended without showing a window\n", stderr);
      return 1;
    }
    times.push_back(1000.0 * static_cast<double>(now.QuadPart - begin.QuadPart) / static_cast<double>(frequency.QuadPart));
    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  std::sort(times.begin(), times.end());
  std::printf("%.1f %.1f\n", times[times.size() / 2], times.front());
  return 0;
}
