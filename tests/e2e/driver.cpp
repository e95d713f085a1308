// Drives the installer as a user would, and reports what a user and a debugger see.
//
//   driver [options] -- PROGRAM [ARGS...]
//     --answer BUTTON       press BUTTON (ok, cancel, yes, no) in every message box (default ok)
//     --stop-when TEXT      when the status line first contains TEXT, click the cancel button
//     --stop-answer BUTTON  the answer to the stop question (yes or no; default no)
//     --stop-at-progress N  the same, when the progress bar first reaches N
//     --close-when TEXT     the same, with the window's close command
//     --escape-when TEXT    the same, with the Escape key (no question expected)
//     --answer-delay MS     wait this long before answering a box (for a screenshot of it)
//     --timeout SECONDS     give up after this long (default 120)
//
// It starts PROGRAM under the debug API and prints, one per line, in UTF-8:
//   TRACE <text>                 each debugger output line
//   DIALOG <title>|<button>      the dialog's title and cancel button (control 1005), once shown
//   STATUS <text>                the status line (control 1007) whenever it changes
//   LINE <text>                  the progress line (control 1008) whenever it changes
//   PROGRESS <n>                 the progress bar (control 1003) whenever it changes (-2: the
//                                dialog thread did not answer within a second)
//   BOX <icon>|<caption>|<text>  each message box, before it is answered (icon: error,
//                                question, exclamation, information or none)
//   ANSWER <button>              the button pressed
//   WINDOWS <n>                  the number of visible top-level windows PROGRAM showed
//   EXIT <code>                  PROGRAM's exit code; the driver exits with it too
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <cstdio>
#include <algorithm>
#include <initializer_list>
#include <atomic>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "tests/support/pixels.h"

namespace {

SRWLOCK g_print_lock = SRWLOCK_INIT;

// One whole line per call; the debugger thread and the window thread both print.
void Print(const std::wstring& line) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), text.data(), bytes, nullptr, nullptr);
  text += '\n';
  DWORD written = 0;
  ::AcquireSRWLockExclusive(&g_print_lock);
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::ReleaseSRWLockExclusive(&g_print_lock);
}

std::wstring Escape(std::wstring text) {
  for (size_t i = 0; (i = text.find(L'\n', i)) != std::wstring::npos;) text.replace(i, 1, L"\\n");
  return text;
}

int ButtonId(const std::wstring& name) {
  if (name == L"cancel") return IDCANCEL;
  if (name == L"yes") return IDYES;
  if (name == L"no") return IDNO;
  return IDOK;
}

struct Options {
  std::wstring answer = L"ok";
  std::wstring stop_when, close_when, escape_when;
  std::wstring stop_answer = L"no";
  DWORD timeout_ms = 120000;
  int stop_at_progress = -1;
  DWORD answer_delay_ms = 0;
  std::wstring command_line;
};

struct Windows {
  DWORD pid = 0;
  HWND dialog = nullptr;
  std::vector<HWND> boxes;
  std::vector<HWND> visible;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
  auto* found = reinterpret_cast<Windows*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid != found->pid || !::IsWindowVisible(hwnd)) return TRUE;
  found->visible.push_back(hwnd);
  wchar_t class_name[32] = {};
  ::GetClassNameW(hwnd, class_name, 32);
  if (wcscmp(class_name, L"#32770") != 0) return TRUE;
  // The dialog has the status line; a message box has not, but has its buttons. (A dialog
  // being torn down as the process ends may show for a moment with neither.)
  if (::GetDlgItem(hwnd, 1007) != nullptr) {
    found->dialog = hwnd;
  } else {
    for (int button : {IDOK, IDCANCEL, IDYES, IDNO}) {
      if (::GetDlgItem(hwnd, button) != nullptr) {
        found->boxes.push_back(hwnd);
        break;
      }
    }
  }
  return TRUE;
}

// Icon handles are not comparable across processes, so the box's icon is told by what the
// screen shows: the icon control's pixels against each standard icon drawn on the same
// background.
std::wstring IconOf(HWND box) {
  // Windows gives the box's icon control the id 0x14, Wine 1088.
  HWND icon = ::GetDlgItem(box, 0x14);
  if (icon == nullptr) icon = ::GetDlgItem(box, 1088);
  if (icon == nullptr || !::IsWindowVisible(icon)) return L"none";
  RECT area = {};
  ::GetWindowRect(icon, &area);
  const int width = ::GetSystemMetrics(SM_CXICON);
  const int height = ::GetSystemMetrics(SM_CYICON);
  ::RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ::Sleep(100);
  const std::vector<DWORD> shown = test::PixelsOf(width, height, [&](HDC memory) {
    HDC screen = ::GetDC(nullptr);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::ReleaseDC(nullptr, screen);
  });
  const DWORD background = shown.front();
  const struct {
    LPCWSTR id;
    const wchar_t* name;
  } icons[] = {{IDI_HAND, L"error"}, {IDI_QUESTION, L"question"}, {IDI_EXCLAMATION, L"exclamation"},
               {IDI_ASTERISK, L"information"}};
  std::wstring best = L"other";
  size_t best_difference = shown.size() / 10;  // at most a tenth of the pixels may differ
  for (const auto& known : icons) {
    const std::vector<DWORD> drawn = test::PixelsOf(width, height, [&](HDC memory) {
      const COLORREF fill = RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);
      HBRUSH brush = ::CreateSolidBrush(fill);
      RECT all = {0, 0, width, height};
      ::FillRect(memory, &all, brush);
      ::DeleteObject(brush);
      ::DrawIconEx(memory, 0, 0, ::LoadIconW(nullptr, known.id), width, height, 0, nullptr, DI_NORMAL);
    });
    size_t difference = 0;
    for (size_t i = 0; i < shown.size(); ++i) difference += (shown[i] & 0xFFFFFF) != (drawn[i] & 0xFFFFFF);
    if (difference < best_difference) {
      best_difference = difference;
      best = known.name;
    }
  }
  return best;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t text[4096] = {};
  ::GetWindowTextW(hwnd, text, 4096);
  return text;
}

// The text of a window of the debuggee, unless the window went away or its thread did not
// answer (as when the process is ending): then false, and no reading at all.
bool ReadTextOf(HWND hwnd, std::wstring* text) {
  wchar_t buffer[4096] = {};
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 1000,
                             &length) ||
      !::IsWindow(hwnd)) {
    return false;
  }
  *text = buffer;
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--") break;
    if (i + 1 >= argc) return false;
    const std::wstring value = argv[++i];
    if (arg == L"--answer") options->answer = value;
    else if (arg == L"--stop-when") options->stop_when = value;
    else if (arg == L"--stop-answer") options->stop_answer = value;
    else if (arg == L"--close-when") options->close_when = value;
    else if (arg == L"--escape-when") options->escape_when = value;
    else if (arg == L"--timeout") options->timeout_ms = 1000 * static_cast<DWORD>(_wtoi(value.c_str()));
    else if (arg == L"--stop-at-progress") options->stop_at_progress = _wtoi(value.c_str());
    else if (arg == L"--answer-delay") options->answer_delay_ms = static_cast<DWORD>(_wtoi(value.c_str()));
    else return false;
  }
  if (i + 1 >= argc) return false;
  for (++i; i < argc; ++i) {
    if (!options->command_line.empty()) options->command_line += L' ';
    const std::wstring arg = argv[i];
    options->command_line += arg.find_first_of(L" \t") == std::wstring::npos && !arg.empty() ? arg : L"\"" + arg + L"\"";
  }
  return true;
}

// The debugger's side runs on a thread of its own: while the debuggee reports an event, all
// its threads stand still, so a window query must never hold up the answer to that event.
struct Debuggee {
  std::wstring command_line;
  HANDLE started = nullptr;  // set once `process` is filled in (or the start failed)
  PROCESS_INFORMATION process = {};
  DWORD start_error = 0;
  std::atomic<bool> exited{false};
  std::atomic<DWORD> exit_code{0};
};

unsigned __stdcall DebugLoop(void* parameter) {
  auto* debuggee = static_cast<Debuggee*>(parameter);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (!::CreateProcessW(nullptr, debuggee->command_line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &startup, &debuggee->process)) {
    debuggee->start_error = ::GetLastError();
    ::SetEvent(debuggee->started);
    return 0;
  }
  ::SetEvent(debuggee->started);
  const HANDLE process_handle = debuggee->process.hProcess;
  for (;;) {
    DEBUG_EVENT event;
    if (!::WaitForDebugEvent(&event, INFINITE)) return 0;
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
      const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
      std::vector<char> raw(info.nDebugStringLength * (info.fUnicode ? 2 : 1) + 2, 0);
      SIZE_T got = 0;
      ::ReadProcessMemory(process_handle, info.lpDebugStringData, raw.data(), raw.size() - 2, &got);
      std::wstring line;
      if (info.fUnicode) {
        line = reinterpret_cast<const wchar_t*>(raw.data());
      } else {
        const int n = ::MultiByteToWideChar(CP_ACP, 0, raw.data(), -1, nullptr, 0);
        line.resize(n > 0 ? n - 1 : 0);
        if (n > 1) ::MultiByteToWideChar(CP_ACP, 0, raw.data(), -1, line.data(), n);
      }
      while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
      Print(L"TRACE " + line);
    } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      debuggee->exit_code = event.u.ExitProcess.dwExitCode;
    } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      if (event.u.CreateProcessInfo.hFile) ::CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      if (event.u.LoadDll.hFile) ::CloseHandle(event.u.LoadDll.hFile);
    }
    const DWORD continue_status = event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                                          event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT
                                      ? DBG_EXCEPTION_NOT_HANDLED
                                      : DBG_CONTINUE;
    ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continue_status);
    if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      debuggee->exited = true;
      return 0;
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs("usage: driver [--answer B] [--stop-when T --stop-answer B] [--close-when T] [--escape-when T] "
               "[--timeout S] -- PROGRAM [ARGS...]\n", stderr);
    return 64;
  }
  Debuggee debuggee;
  debuggee.command_line = options.command_line;
  debuggee.started = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE debugger = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DebugLoop, &debuggee, 0, nullptr));
  if (debugger == nullptr) return 70;
  ::WaitForSingleObject(debuggee.started, INFINITE);
  if (debuggee.start_error != 0) {
    Print(L"START-FAILED " + std::to_wstring(debuggee.start_error));
    return 70;
  }
  const PROCESS_INFORMATION& process = debuggee.process;

  std::wstring status;
  std::wstring progress_line;
  int progress = -1;
  bool status_seen = false;
  bool stop_done = false;
  std::set<HWND> answered;
  std::set<HWND> seen_windows;
  const DWORD start = ::GetTickCount();

  while (!debuggee.exited) {
    if (::GetTickCount() - start > options.timeout_ms) {
      Print(L"TIMEOUT");
      ::TerminateProcess(process.hProcess, 99);
      ::WaitForSingleObject(debugger, 5000);
      return 98;
    }
    ::Sleep(20);

    Windows found;
    found.pid = process.dwProcessId;
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    for (HWND hwnd : found.visible) seen_windows.insert(hwnd);
    if (found.dialog) {
      if (!status_seen) Print(L"DIALOG " + TextOf(found.dialog) + L"|" + TextOf(::GetDlgItem(found.dialog, 1005)));
      HWND status_control = ::GetDlgItem(found.dialog, 1007);
      std::wstring now;
      if (!ReadTextOf(status_control, &now)) continue;
      if (!status_seen || now != status) {
        status = now;
        status_seen = true;
        Print(L"STATUS " + Escape(now));
      }
      // Read as the window keeps it, without a message to the dialog's thread: the loop stays
      // quick enough to see the short status texts.
      const std::wstring line_now = TextOf(::GetDlgItem(found.dialog, 1008));
      if (line_now != progress_line) {
        progress_line = line_now;
        Print(L"LINE " + line_now);
      }
      // A dialog thread that does not answer within a second is reported, never waited on.
      DWORD_PTR answer = 0;
      const bool answered_in_time = ::SendMessageTimeoutW(::GetDlgItem(found.dialog, 1003), PBM_GETPOS, 0, 0,
                                                          SMTO_ABORTIFHUNG, 1000, &answer) != 0;
      const int position = answered_in_time ? static_cast<int>(answer) : -2;
      if (position != progress) {
        progress = position;
        Print(L"PROGRESS " + std::to_wstring(position));
      }
      auto matches = [&](const std::wstring& text) { return !text.empty() && now.find(text) != std::wstring::npos; };
      const bool progress_reached = options.stop_at_progress >= 0 && progress >= options.stop_at_progress;
      if (!stop_done && (matches(options.stop_when) || progress_reached)) {
        stop_done = true;
        Print(L"CLICK cancel");
        ::PostMessageW(found.dialog, WM_COMMAND, MAKEWPARAM(1005, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(found.dialog, 1005)));
      } else if (!stop_done && matches(options.close_when)) {
        stop_done = true;
        Print(L"CLICK close");
        ::PostMessageW(found.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else if (!stop_done && matches(options.escape_when)) {
        stop_done = true;
        Print(L"CLICK escape");
        ::PostMessageW(found.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      }
    }
    for (HWND box : found.boxes) {
      if (answered.count(box)) continue;
      answered.insert(box);
      const std::wstring text = TextOf(::GetDlgItem(box, 0xFFFF));
      Print(L"BOX " + IconOf(box) + L"|" + TextOf(box) + L"|" + Escape(text));
      // The stop question (Yes/No) gets the stop answer; every other box the general one.
      const bool stop_question = ::GetDlgItem(box, IDYES) != nullptr && stop_done;
      const std::wstring button = stop_question ? options.stop_answer : options.answer;
      if (options.answer_delay_ms) ::Sleep(options.answer_delay_ms);
      Print(L"ANSWER " + button);
      ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(ButtonId(button), BN_CLICKED), 0);
    }
  }
  Print(L"WINDOWS " + std::to_wstring(seen_windows.size()));
  ::WaitForSingleObject(debugger, INFINITE);
  ::CloseHandle(debugger);
  Print(L"EXIT " + std::to_wstring(debuggee.exit_code.load()));
  return static_cast<int>(debuggee.exit_code.load());
}
