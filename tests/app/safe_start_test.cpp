// Where Windows keeps the program's folder in the DLL search: the run from a protected copy.
#include "app/safe_start.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/messages.h"
#include "existing/restart_copy.h"
#include "tests/support/registry.h"
#include "tests/support/temp_dir.h"
#include "win/application.h"
#include "win/dll_search.h"
#include "workflow/setup_signature.h"

namespace {

std::vector<std::wstring> Arguments(const wchar_t* line) {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(line, &count);
  std::vector<std::wstring> arguments(argv, argv + count);
  ::LocalFree(argv);
  return arguments;
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// What the start of the copy saw, taken while it "ran".
struct Run {
  int count = 0;
  std::wstring program, command_line, directory;
  bool same_bytes = false;
  DWORD write_error = 0;
};
Run g_run;
bool g_run_starts = true;

bool RecordingRun(const wchar_t* program, const wchar_t* command_line, const wchar_t* directory, DWORD* exit_code) {
  ++g_run.count;
  g_run.program = program;
  g_run.command_line = command_line;
  g_run.directory = directory;
  g_run.same_bytes = test::ReadFileBytes(program) == test::ReadFileBytes(OwnPath());
  const HANDLE writer =
      ::CreateFileW(program, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  g_run.write_error = writer == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
  if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
  *exit_code = kExitAnotherCopyRunning;  // whatever the copy ends with is the answer
  return g_run_starts;
}

struct Box {
  int count = 0;
  std::wstring text, caption;
  UINT type = 0;
};
Box g_box;

int RecordingBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
  ++g_box.count;
  g_box.text = text;
  g_box.caption = caption;
  g_box.type = type;
  return IDOK;
}

bool Remote(HANDLE) { return true; }

BOOL WINAPI Fails(DWORD) { return FALSE; }
BOOL WINAPI Succeeds(DWORD) { return TRUE; }

class UnsafeDllSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    g_run = {};
    g_box = {};
    g_run_starts = true;
    previous_run_ = SetProgramRunForTesting(RecordingRun);
    previous_box_ = win::SetMessageBoxForTesting(RecordingBox);
    language_.Set(L"fGiaodien", REG_DWORD, &kEnglish, sizeof(kEnglish));
  }
  void TearDown() override {
    SetProgramRunForTesting(previous_run_);
    win::SetMessageBoxForTesting(previous_box_);
    SetRemoteVolumeTestForTesting(nullptr);
    SetRestartCopyCheck(nullptr);
    UiLanguage.store(kLanguageVietnamese);
    ::RemoveDirectoryW(RestartCopyRoot().c_str());
  }

  static constexpr DWORD kEnglish = 1;
  ProgramRun previous_run_ = nullptr;
  win::MessageBoxFunction previous_box_ = nullptr;
  test::ScopedKey language_{L"SOFTWARE\\Zuno"};
};

// SetDefaultDllDirectories missing or failing leaves the search unrestricted; only where it
// works does the program go on where it is.
TEST_F(UnsafeDllSearch, OnlyAWorkingSetDefaultDllDirectoriesLetsTheProgramGoOnWhereItIs) {
  const struct {
    win::SetDefaultDllDirectoriesFunction function;
    bool restricted;
  } cases[] = {{nullptr, false}, {Fails, false}, {Succeeds, true}};
  for (const auto& c : cases) {
    g_run = {};
    const bool restricted = win::RestrictDllSearchToSystem(c.function);
    EXPECT_EQ(c.restricted, restricted);
    EXPECT_EQ(c.restricted, win::DllSearchIsRestricted());
    const SafeStart start = StartWhereDllSearchIsSafe(restricted);
    EXPECT_EQ(c.restricted, start.go_on);
    EXPECT_EQ(c.restricted ? 0 : 1, g_run.count);
  }
}

// The same program, from a copy in a protected folder, with the same arguments, held unchanged
// while it runs; this one ends with its code, and the copy goes.
TEST_F(UnsafeDllSearch, TheProgramRunsAgainFromAProtectedCopyWithItsCommandLine) {
  const SafeStart start = StartWhereDllSearchIsSafe(win::RestrictDllSearchToSystem(nullptr));
  EXPECT_FALSE(start.go_on);
  EXPECT_EQ(static_cast<DWORD>(kExitAnotherCopyRunning), start.exit_code);
  ASSERT_EQ(1, g_run.count);
  EXPECT_TRUE(IsRestartCopyPath(g_run.program.c_str())) << testing::PrintToString(g_run.program);
  EXPECT_TRUE(g_run.same_bytes);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_run.write_error);
  EXPECT_EQ(g_run.program.substr(0, g_run.program.rfind(L'\\')), g_run.directory);
  std::vector<std::wstring> expected = Arguments(::GetCommandLineW());
  ASSERT_FALSE(expected.empty());
  expected[0] = g_run.program;
  EXPECT_EQ(expected, Arguments(g_run.command_line.c_str())) << testing::PrintToString(g_run.command_line);
  EXPECT_EQ(L'"', g_run.command_line[0]);
  EXPECT_FALSE(test::FileExists(g_run.directory));
  EXPECT_EQ(0, g_box.count);
}

// No copy (from a share this unsigned program fails the pin), or none that starts: message 44
// in the registry's language, and the installer's own exit code.
TEST_F(UnsafeDllSearch, WithoutACopyThatRunsMessage44Ends) {
  SetRestartCopyCheck(IsSignedByProductSigner);
  const struct {
    bool remote;
    bool starts;
    int runs;
  } cases[] = {{true, true, 0}, {false, false, 1}};
  for (const auto& c : cases) {
    g_run = {};
    g_box = {};
    g_run_starts = c.starts;
    SetRemoteVolumeTestForTesting(c.remote ? Remote : nullptr);
    const SafeStart start = StartWhereDllSearchIsSafe(false);
    EXPECT_FALSE(start.go_on);
    EXPECT_EQ(1150u, start.exit_code);
    EXPECT_EQ(c.runs, g_run.count);
    ASSERT_EQ(1, g_box.count);
    EXPECT_EQ(L"This copy of Windows lacks an update that the installer needs. Install the latest updates through "
              L"Windows Update, restart the computer, then run the installer again.",
              g_box.text);
    EXPECT_EQ(kInstallerTitle, g_box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), g_box.type);
    if (c.runs == 1) {
      EXPECT_FALSE(test::FileExists(g_run.program));
    }
  }
}

}  // namespace
