// The peer of the start-up benchmark: the least Win32 dialog program, a template of the
// installer's size with a progress bar, built and started the same way as the installer.
#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK BareProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
    ::EndDialog(hwnd, 0);
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  return static_cast<int>(::DialogBoxParamW(instance, MAKEINTRESOURCEW(1), nullptr, BareProc, 0));
}
