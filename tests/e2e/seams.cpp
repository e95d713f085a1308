// Linked into the scenarios' fast build: ZUNO_TEST_SEAM stands for the machines Wine cannot be,
// "nobody" where no one can answer a box, "no-dialog" where no window can be made.
#include <windows.h>

#include "win/application.h"
#include "win/dialog.h"

namespace {

bool NobodyToAnswer() { return false; }
INT_PTR WINAPI NoDialog(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM) {
  ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return -1;
}

const bool kInstalled = [] {
  wchar_t seam[16] = {};
  ::GetEnvironmentVariableW(L"ZUNO_TEST_SEAM", seam, 16);
  if (lstrcmpW(seam, L"nobody") == 0) win::SetAnswerCheckForTesting(NobodyToAnswer);
  if (lstrcmpW(seam, L"no-dialog") == 0) win::SetDialogRunForTesting(NoDialog);
  return true;
}();

}  // namespace
