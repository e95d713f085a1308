#include "app/zuno_online_setup_app.h"

#include <windows.h>
#include <commctrl.h>

#include "app/installer_ends.h"
#include "app/log_header.h"
#include "app/messages.h"
#include "app/run_log.h"
#include "app/zuno_online_setup_dlg.h"
#include "existing/restart_copy.h"
#include "resources/resource.h"
#include "win/environment.h"
#include "win/trace.h"
#include "win/unique_handle.h"

// The windows' Common Controls 6 come from the program's own activation context.
// Its boxes carry the product's title, as the dialog does, whatever the file is called.
CZunoOnlineSetupApp::CZunoOnlineSetupApp() noexcept : Application(IDR_COMMON_CONTROLS_MANIFEST, kInstallerTitle) {}

bool CZunoOnlineSetupApp::InitInstance() {
  // Of the user's own variables, only those that name the user and the user's folders stay,
  // for this elevated program and all it starts; the machine's keep the machine's values.
  CleanProcessEnvironment();
  // A copy that a restart entry started has done its job by now (even if another copy runs).
  RemoveRestartCopyAtRestart();

  // Without a log the run goes on all the same.
  static_cast<void>(StartRunLog());
  TraceRunHeader();
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
    DebugTrace(L"Another copy of the installer is running (%s exists): this one ends", kInstanceMutexName);
    SetRunLogUncounted();
    SetExitCode(ExitCodeOf(InstallResult::kAnotherCopyRunning));
    return;
  }

  CZunoOnlineSetupDlg dialog(nullptr);
  SetMainWindow(&dialog);
  const INT_PTR ran = dialog.DoModal();
  const DWORD error = ::GetLastError();
  SetMainWindow(nullptr);
  // No desktop, no display: nothing was done, and a deployment tool must not read "started".
  if (ran == -1) {
    DebugTrace(L"DialogBox error: %d", static_cast<int>(error));
    SetExitCode(ExitCodeOf(InstallResult::kNoWindow));
  }
}
