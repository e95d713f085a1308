// The single-instance guard, with real installer processes under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/zuno_online_setup_app.h"
#include "tests/support/build_files.h"
#include "win/unique_handle.h"

namespace {

std::wstring SetupExe() { return test::InstallerExe(); }

struct Process {
  win::UniqueKernelHandle handle;
  DWORD id = 0;
};

Process Start(const std::wstring& exe) {
  std::wstring command_line = L"\"" + exe + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  Process process;
  if (::CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info)) {
    ::CloseHandle(info.hThread);
    process.handle.reset(info.hProcess);
    process.id = info.dwProcessId;
  }
  return process;
}

struct WindowSearch {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK MatchVisibleWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(hwnd, &owner);
  if (owner == search->process_id && ::IsWindowVisible(hwnd)) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND VisibleWindowOf(DWORD process_id) {
  WindowSearch search = {process_id, nullptr};
  ::EnumWindows(MatchVisibleWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Waits for the process to show its dialog; null after the timeout or when it ended first.
HWND WaitForWindow(const Process& process, DWORD timeout_ms = 20000) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
    if (HWND hwnd = VisibleWindowOf(process.id)) return hwnd;
    if (::WaitForSingleObject(process.handle.get(), 50) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

// Waits for the process to end, watching all the while that it never shows a window.
// Answers true when it ended without one.
bool EndsWithoutWindow(const Process& process, DWORD timeout_ms = 20000) {
  for (DWORD waited = 0; waited < timeout_ms; waited += 20) {
    if (VisibleWindowOf(process.id) != nullptr) return false;
    if (::WaitForSingleObject(process.handle.get(), 20) == WAIT_OBJECT_0) return true;
  }
  return false;
}

void Close(const Process& process, HWND dialog) {
  // WM_CLOSE from outside ends the dialog through its standard cancel handling.
  ::PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.handle.get(), 20000));
}

class InstanceGuard : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(SetupExe().empty()) << "ZUNO_SETUP_EXE is not set"; }
};

TEST_F(InstanceGuard, SecondCopyEndsAtOnceWithoutWindowWhileTheFirstRuns) {
  Process first = Start(SetupExe());
  ASSERT_TRUE(first.handle);
  HWND dialog = WaitForWindow(first);
  ASSERT_NE(nullptr, dialog) << "the first copy never showed its dialog";

  Process second = Start(SetupExe());
  ASSERT_TRUE(second.handle);
  EXPECT_TRUE(EndsWithoutWindow(second));

  // The first copy was neither told nor disturbed.
  EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(first.handle.get(), 0));
  Close(first, dialog);
}

TEST_F(InstanceGuard, ACopyStartedAfterTheFirstEndedRuns) {
  Process first = Start(SetupExe());
  HWND dialog = WaitForWindow(first);
  ASSERT_NE(nullptr, dialog);
  Close(first, dialog);

  Process next = Start(SetupExe());
  HWND next_dialog = WaitForWindow(next);
  ASSERT_NE(nullptr, next_dialog) << "the name should vanish with the first copy";
  Close(next, next_dialog);
}

TEST_F(InstanceGuard, ACopyStartedAfterTheFirstWasKilledRuns) {
  Process first = Start(SetupExe());
  ASSERT_NE(nullptr, WaitForWindow(first));
  ASSERT_TRUE(::TerminateProcess(first.handle.get(), 9));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(first.handle.get(), 20000));

  Process next = Start(SetupExe());
  HWND next_dialog = WaitForWindow(next);
  ASSERT_NE(nullptr, next_dialog);
  Close(next, next_dialog);
}

TEST_F(InstanceGuard, AnyOtherProgramHoldingTheNameKeepsTheInstallerFromStarting) {
  win::UniqueKernelHandle held(::CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  ASSERT_TRUE(held);
  ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), ::GetLastError());

  Process blocked = Start(SetupExe());
  ASSERT_TRUE(blocked.handle);
  EXPECT_TRUE(EndsWithoutWindow(blocked));

  // Once the holder lets go, the installer starts again.
  held.reset();
  Process free_again = Start(SetupExe());
  HWND dialog = WaitForWindow(free_again);
  ASSERT_NE(nullptr, dialog);
  Close(free_again, dialog);
}

}  // namespace
