// Where Windows keeps the program's folder in the DLL search: the run from a protected copy.
#include "app/safe_start.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "existing/restart_copy.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"
#include "win/application.h"
#include "win/dll_search.h"
#include "workflow/setup_signature.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* line) {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(line, &count);
  std::vector<std::wstring> arguments(argv, argv + count);
  ::LocalFree(argv);
  return arguments;
}

// The copy's start as asked for (program, command line, directory), and whether the copy
// could be changed meanwhile.
std::vector<std::wstring> g_run;
bool g_run_starts = true, g_writable = true;
bool RecordingRun(const wchar_t* program, const wchar_t* line, const wchar_t* directory, DWORD* exit_code) {
  g_run = {program, line, directory};
  g_writable = win::UniqueFile(::CreateFileW(program, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr)).valid();
  *exit_code = 1618;  // the copy's own end: another copy runs
  return g_run_starts;
}
std::wstring g_box;
int RecordingBox(HWND, const wchar_t* text, const wchar_t*, UINT type) {
  g_box = type == (MB_OK | MB_ICONERROR) ? text : L"(another box)";
  return IDOK;
}
BOOL WINAPI Fails(DWORD) { return FALSE; }
BOOL WINAPI Succeeds(DWORD) { return TRUE; }
bool Remote(HANDLE) { return true; }

struct Seams {
  Seams() { language.Set(L"fGiaodien", REG_DWORD, &kEnglish, sizeof(kEnglish)); }
  ~Seams() {
    SetProgramRunForTesting(run);
    win::SetMessageBoxForTesting(box);
    SetRemoteVolumeTestForTesting(nullptr);
    ::RemoveDirectoryW(RestartCopyRoot().c_str());
  }
  static constexpr DWORD kEnglish = 1;
  const ProgramRun run = SetProgramRunForTesting(RecordingRun);
  const win::MessageBoxFunction box = win::SetMessageBoxForTesting(RecordingBox);
  test::ScopedKey language{L"SOFTWARE\\Zuno"};
};

// Missing or failing, SetDefaultDllDirectories leaves the search open: the same program runs
// from a held copy in a restart copy's folder, with the same arguments, and its code is ours.
TEST(UnsafeDllSearch, TheProgramRunsAgainFromAProtectedCopyWithItsCommandLine) {
  const Seams seams;
  using Function = win::SetDefaultDllDirectoriesFunction;
  for (const Function function : {Function{}, Fails, Succeeds}) {
    g_run.clear();
    const SafeStart start = StartWhereDllSearchIsSafe(win::RestrictDllSearchToSystem(function));
    if (function == Succeeds) {
      EXPECT_TRUE(start.go_on && g_run.empty());
      continue;
    }
    ASSERT_EQ(3u, g_run.size());
    EXPECT_FALSE(start.go_on);
    EXPECT_EQ(1618u, start.exit_code);
    EXPECT_TRUE(IsRestartCopyPath(g_run[0].c_str())) << testing::PrintToString(g_run[0]);
    EXPECT_FALSE(g_writable);
    EXPECT_EQ(g_run[0].substr(0, g_run[0].rfind(L'\\')), g_run[2]);
    std::vector<std::wstring> expected = Split(::GetCommandLineW());
    expected[0] = g_run[0];
    EXPECT_EQ(expected, Split(g_run[1].c_str())) << testing::PrintToString(g_run[1]);
    EXPECT_FALSE(test::FileExists(g_run[2]));  // gone once it has run
    EXPECT_EQ(L"", g_box);
  }
}

// No copy (from a share, this unsigned program fails the pin), or none that starts: message 44
// in the registry's language, and exit code 1150.
TEST(UnsafeDllSearch, WithoutACopyThatRunsMessage44Ends) {
  const Seams seams;
  SetRestartCopyCheck(IsSignedByProductSigner);
  for (const bool remote : {true, false}) {
    g_run.clear();
    g_box.clear();
    g_run_starts = remote;
    SetRemoteVolumeTestForTesting(remote ? Remote : nullptr);
    const SafeStart start = StartWhereDllSearchIsSafe(false);
    EXPECT_FALSE(start.go_on);
    EXPECT_EQ(1150u, start.exit_code);
    EXPECT_EQ(remote ? 0u : 3u, g_run.size());
    EXPECT_EQ(L"This copy of Windows lacks an update that the installer needs. Install the latest updates through "
              L"Windows Update, restart the computer, then run the installer again.", g_box);
  }
  SetRestartCopyCheck(nullptr);
  g_run_starts = true;
}

}  // namespace
