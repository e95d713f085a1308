#include "app/zuno_online_setup_app.h"

#include <windows.h>
#include <commctrl.h>

#include "app/exit_codes.h"
#include "app/zuno_online_setup_dlg.h"
#include "win/unique_handle.h"
#include "workflow/run_log.h"

bool CZunoOnlineSetupApp::InitInstance() {
  // Without a log the run goes on all the same.
  static_cast<void>(StartRunLog());
  Install();
  EndRunLog(ExitCode());
  return false;
}

void CZunoOnlineSetupApp::Install() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                   ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS | ICC_HOTKEY_CLASS | ICC_ANIMATE_CLASS;
  ::InitCommonControlsEx(&controls);

  // Never owned nor waited on. A name that exists but cannot be opened gives no handle and
  // counts as no other copy.
  win::UniqueKernelHandle guard(::CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  if (guard && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    SetExitCode(kExitAnotherCopyRunning);
    return;
  }

  CZunoOnlineSetupDlg dialog(nullptr);
  SetMainWindow(&dialog);
  dialog.DoModal();
  SetMainWindow(nullptr);
}
