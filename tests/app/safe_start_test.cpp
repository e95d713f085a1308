// Where Windows keeps the program's folder in the DLL search: the run from a protected copy.
#include "app/safe_start.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <vector>

#include "existing/restart_copy.h"
#include "tests/support/temp_dir.h"
#include "win/dll_search.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* line) {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(line, &count);
  std::vector<std::wstring> arguments(argv, argv + count);
  ::LocalFree(argv);
  return arguments;
}

// The copy's start as asked for (program, command line, directory, whether it could be changed).
std::vector<std::wstring> g_run;
bool RecordingRun(const wchar_t* program, const wchar_t* line, const wchar_t* directory, DWORD* exit_code) {
  const win::UniqueFile writer(::CreateFileW(program, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
  g_run = {program, line, directory, writer.valid() ? L"writable" : L"held"};
  *exit_code = 1618;  // the copy's own end: another copy runs
  return true;
}
BOOL WINAPI Fails(DWORD) { return FALSE; }

// Missing or failing, SetDefaultDllDirectories leaves the search open: the same program runs
// from a held copy in a restart copy's folder, with the same arguments, and its code is ours.
TEST(UnsafeDllSearch, TheProgramRunsAgainFromAProtectedCopyWithItsCommandLine) {
  const ProgramRun previous = SetProgramRunForTesting(RecordingRun);
  using Function = win::SetDefaultDllDirectoriesFunction;
  for (const Function function : {Function{}, Fails}) {
    g_run.clear();
    const SafeStart start = StartWhereDllSearchIsSafe(win::RestrictDllSearchToSystem(function));
    ASSERT_EQ(4u, g_run.size());
    EXPECT_EQ(1618u, start.go_on ? 0u : start.exit_code);
    EXPECT_TRUE(IsRestartCopyPath(g_run[0].c_str())) << testing::PrintToString(g_run[0]);
    EXPECT_EQ(g_run[0].substr(0, g_run[0].rfind(L'\\')), g_run[2]);
    EXPECT_EQ(L"held", g_run[3]);
    std::vector<std::wstring> expected = Split(::GetCommandLineW());
    expected[0] = g_run[0];
    EXPECT_EQ(expected, Split(g_run[1].c_str())) << testing::PrintToString(g_run[1]);
    EXPECT_FALSE(test::FileExists(g_run[2]));  // gone once it has run
  }
  SetProgramRunForTesting(previous);
  ::RemoveDirectoryW(RestartCopyRoot().c_str());
}

}  // namespace
