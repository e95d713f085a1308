// Linked into the scenarios' fast build: ZUNO_TEST_SEAM stands for the machines Wine cannot
// be. "nobody": a session where no one can answer a box (session 0, or a window station no one
// sees); "no-dialog": one where no window can be made.
#include <windows.h>

#include <cwchar>

#include "win/application.h"
#include "win/dialog.h"

namespace {

bool NobodyToAnswer() { return false; }

INT_PTR WINAPI NoDialog(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM) {
  ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return -1;
}

bool Install() {
  wchar_t seam[32] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"ZUNO_TEST_SEAM", seam, 32);
  if (length == 0 || length >= 32) return false;
  if (wcscmp(seam, L"nobody") == 0) win::SetAnswerCheckForTesting(NobodyToAnswer);
  if (wcscmp(seam, L"no-dialog") == 0) win::SetDialogRunForTesting(NoDialog);
  return true;
}

const bool kInstalled = Install();

}  // namespace
