// The dialog's early ways out, run in this process on the real dialog template: a token
// without Administrators and threads that cannot be started (neither can be had from Wine
// for a real process). The message boxes are answered by the test.
#include "app/zuno_online_setup_dlg.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/zuno_online_setup_app.h"
#include "resources/resource.h"
#include "tests/support/build_files.h"
#include "tests/support/pixels.h"
#include "win/application.h"
#include "workflow/startup_checks.h"

namespace {

std::vector<std::wstring> g_boxes;  // text|type
int g_thread_starts = 0;

int RecordBox(HWND, const wchar_t* text, const wchar_t*, UINT type) {
  g_boxes.push_back(std::wstring(text) + L"|" + std::to_wstring(type));
  return IDOK;
}

// A token whose group list is empty.
BOOL WINAPI NoGroups(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID buffer, DWORD size, PDWORD returned) {
  *returned = sizeof(TOKEN_GROUPS);
  if (size < sizeof(TOKEN_GROUPS)) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  static_cast<TOKEN_GROUPS*>(buffer)->GroupCount = 0;
  return TRUE;
}

uintptr_t CountedStart(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
  ++g_thread_starts;
  return 0;  // as _beginthreadex answers when no thread can be made
}

// Called by the initialisation with the live dialog: asks it for its drag icon, then fails.
LRESULT g_drag_icon = 0;
uintptr_t AskForTheDragIcon(void*, unsigned, unsigned(__stdcall*)(void*), void* dialog, unsigned, unsigned*) {
  g_drag_icon = ::SendMessageW(static_cast<CZunoOnlineSetupDlg*>(dialog)->hwnd(), WM_QUERYDRAGICON, 0, 0);
  return 0;
}

class DialogExit : public testing::Test {
 protected:
  void SetUp() override {
    g_boxes.clear();
    g_thread_starts = 0;
    previous_box_ = win::SetMessageBoxForTesting(RecordBox);
    SetThreadStarterForTesting(CountedStart);
  }
  void TearDown() override {
    win::SetMessageBoxForTesting(previous_box_);
    SetThreadStarterForTesting(nullptr);
    SetTokenReaderForTesting(nullptr);
  }
  static void RunDialog() {
    CZunoOnlineSetupDlg dialog(nullptr);
    dialog.DoModal();
  }
  // Where the dialog leaves the process's exit code.
  struct App : win::Application {
    bool InitInstance() override { return false; }
  } app_;
  win::MessageBoxFunction previous_box_ = nullptr;
};

// The argument skips the product checks, so only the admin check and the threads matter:
// this test program runs with gtest's arguments on its command line.
TEST_F(DialogExit, WithoutAdministratorsMessage23AndNothingStarted) {
  SetTokenReaderForTesting(NoGroups);
  RunDialog();
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], std::wstring(GetMessageText(23).c_str()) + L"|" + std::to_wstring(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(g_thread_starts, 0);
  EXPECT_EQ(app_.ExitCode(), 740u);
}

TEST_F(DialogExit, ThreadsThatCannotStartEndTheDialogWithMessage3) {
  RunDialog();
  EXPECT_EQ(g_thread_starts, 2);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], std::wstring(GetMessageText(3).c_str()) + L"|" + std::to_wstring(MB_OK | MB_ICONERROR));
  EXPECT_EQ(app_.ExitCode(), 1632u);
}

TEST_F(DialogExit, TheDragIconIsTheProgramIcon) {
  g_drag_icon = 0;
  SetThreadStarterForTesting(AskForTheDragIcon);
  RunDialog();
  const HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(g_drag_icon, reinterpret_cast<LRESULT>(icon));
}

// ---- A new scale ---------------------------------------------------------------------------

// Wine never changes a window's DPI: the test lays the status line out as a new scale would
// (wider) and sends WM_DPICHANGED itself. Text set before the change must leave
// no trace once the line shows a shorter one: its background is taken again, from the dialog
// redrawn, not from the screen as it was.
int g_trace_pixels = -1;
uintptr_t ChangeTheScale(void*, unsigned, unsigned(__stdcall*)(void*), void* object, unsigned, unsigned*) {
  HWND dialog = static_cast<CZunoOnlineSetupDlg*>(object)->hwnd();
  if (g_trace_pixels >= 0) return 0;  // the second thread's start
  ::ShowWindow(dialog, SW_SHOW);
  ::UpdateWindow(dialog);
  HWND status = ::GetDlgItem(dialog, IDC_STATUS_TEXT);
  ::SetWindowTextW(status, L"A long line of status text that reaches far to the right, as far as it goes");
  RECT client = {};
  ::GetClientRect(dialog, &client);
  RECT line = {};
  ::GetWindowRect(status, &line);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&line), 2);
  const int width = client.right;
  const int height = line.bottom - line.top;
  ::SetWindowPos(status, nullptr, 0, line.top, width, height, SWP_NOZORDER);
  RECT suggested = {};
  ::GetWindowRect(dialog, &suggested);
  ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  MSG message;
  while (::PeekMessageW(&message, dialog, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  ::SetWindowTextW(status, L"Short");
  const std::vector<DWORD> pixels = test::ClientPixels(status, width, height);
  g_trace_pixels = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = width / 4; x < width; ++x) g_trace_pixels += pixels[static_cast<size_t>(y) * width + x] != 0xFFFFFF;
  }
  return 0;
}

TEST_F(DialogExit, AfterANewScaleTheStatusLineKeepsNoTraceOfEarlierText) {
  g_trace_pixels = -1;
  SetThreadStarterForTesting(ChangeTheScale);
  RunDialog();
  EXPECT_EQ(g_trace_pixels, 0);
}

// ---- Common Controls 6 from the system only ------------------------------------------------

std::string Manifest(HMODULE image, WORD id) {
  HRSRC found = ::FindResourceW(image, MAKEINTRESOURCEW(id), RT_MANIFEST);
  HGLOBAL loaded = found ? ::LoadResource(image, found) : nullptr;
  return loaded ? std::string(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(image, found)) : "";
}

// The application directory of the context active on this thread when the dialog initialises.
std::wstring g_app_directory;
uintptr_t ReadTheActiveContext(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
  SIZE_T size = 0;
  ::QueryActCtxW(QUERY_ACTCTX_FLAG_USE_ACTIVE_ACTCTX, nullptr, nullptr, ActivationContextDetailedInformation,
                 nullptr, 0, &size);
  std::vector<BYTE> buffer(size + sizeof(ACTIVATION_CONTEXT_DETAILED_INFORMATION));
  const auto* info = reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(buffer.data());
  if (::QueryActCtxW(QUERY_ACTCTX_FLAG_USE_ACTIVE_ACTCTX, nullptr, nullptr, ActivationContextDetailedInformation,
                     buffer.data(), buffer.size(), &size) && info->lpAppDirPath != nullptr) {
    g_app_directory.assign(info->lpAppDirPath, info->ulAppDirPathChars);
  }
  return 0;
}

// The built installer's process manifest names no assembly for Windows to look for beside it
// before the program runs; started as the installer starts, the dialog initialises under a
// context that would look for one in the system directory, not in the program's folder.
TEST_F(DialogExit, CommonControlsAreLookedForInTheSystemDirectoryOnly) {
  HMODULE exe = ::LoadLibraryExW(test::InstallerExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  EXPECT_NE(Manifest(exe, 1).find("requireAdministrator"), std::string::npos);
  EXPECT_EQ(Manifest(exe, 1).find("dependentAssembly"), std::string::npos);
  EXPECT_NE(Manifest(exe, IDR_COMMON_CONTROLS_MANIFEST).find("Common-Controls"), std::string::npos);
  ::FreeLibrary(exe);

  struct Installer : CZunoOnlineSetupApp {
    bool InitInstance() override { RunDialog(); return false; }
  } installer;
  SetThreadStarterForTesting(ReadTheActiveContext);
  installer.Run(::GetModuleHandleW(nullptr));
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(g_app_directory.size(), length);
  EXPECT_EQ(_wcsnicmp(g_app_directory.c_str(), system, length), 0) << testing::PrintToString(g_app_directory);
  EXPECT_EQ(g_app_directory[length], L'\\');
}

}  // namespace
