// The installer's only window: banner, status line, progress bar and cancel button.
#pragma once

#include <atomic>

#include "app/accessibility.h"
#include "app/installer_ends.h"
#include "app/taskbar_button.h"
#include "app/transparent_static.h"
#include "resources/resource.h"
#include "win/dialog.h"
#include "win/unique_handle.h"

// How the dialog starts its threads: _beginthreadex's contract. Tests make it fail.
using ThreadStarter = uintptr_t (*)(void* security, unsigned stack, unsigned(__stdcall* start)(void*),
                                    void* argument, unsigned flags, unsigned* id);
void SetThreadStarterForTesting(ThreadStarter starter);

class CZunoOnlineSetupDlg : public win::DialogImpl<CZunoOnlineSetupDlg> {
 public:
  explicit CZunoOnlineSetupDlg(HWND parent = nullptr) noexcept;

  static const win::MessageEntry<CZunoOnlineSetupDlg> kMessageMap[15];

 protected:
  void DoDataExchange() noexcept override;
  BOOL OnInitDialog() noexcept override;
  // Escape, Enter and a close from outside stop without a question, through the same
  // decision as the cancel button.
  void OnOK() noexcept override { Stop(); }
  void OnCancel() noexcept override { Stop(); }
  bool ProcessMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) noexcept override;

 private:
  INT_PTR OnPaint(WPARAM, LPARAM);
  INT_PTR OnQueryDragIcon(WPARAM, LPARAM);
  INT_PTR OnCancelButton(WPARAM, LPARAM);
  INT_PTR OnSysCommand(WPARAM command, LPARAM);
  INT_PTR OnEraseBkgnd(WPARAM dc, LPARAM);
  INT_PTR OnCtlColorStatic(WPARAM dc, LPARAM control);
  INT_PTR OnWorkerEnded(WPARAM exit_code, LPARAM);
  INT_PTR OnTimer(WPARAM timer, LPARAM);

  // Before the window shows: the banner for the dialog's scale, the taskbar button's message.
  void PrepareDisplay() noexcept;
  void DrawBannerForScale() noexcept;
  INT_PTR OnDpiChanged(WPARAM dpi, LPARAM suggested);
  INT_PTR OnScaleChanged(WPARAM, LPARAM);
  INT_PTR OnTaskbarProgress(WPARAM state, LPARAM done);
  INT_PTR OnProgressLine(WPARAM, LPARAM);
  // A change of the system's colours, theme or settings: in high contrast the dialog follows.
  INT_PTR OnSysColorChange(WPARAM, LPARAM);
  INT_PTR OnLookChanged(WPARAM, LPARAM);

  // Asks message 7 unless the end is decided already; true when the answer was Yes.
  bool AskToStop(UINT icon);
  // Takes the stop's side of the decision; when it wins, the dialog goes and the worker is
  // given a moment to remove its download and end.
  void Stop();
  // Ends the process with `exit_code` once the status thread and the worker have ended.
  void EndWithThreads(DWORD exit_code);
  // Whether the program's own path and the temporary folder resolve.
  [[nodiscard]] bool PathsResolve() noexcept;
  // Starts the status thread and the worker; false, having ended what did start, when either
  // could not be started.
  [[nodiscard]] bool StartThreads() noexcept;
  // Ends the dialog after an early exit of the initialisation: tells `result` (unless it was
  // `told` already), and the process ends with its exit code.
  BOOL ExitEarly(InstallResult result, bool told = false);

  HICON m_hIcon;
  HICON m_hSmallIcon;
  CTransparentStatic2 m_status;
  win::UniqueGdiObject m_banner;  // the picture the banner control shows, once drawn
  TaskbarButton m_taskbar;
  DialogAnnotations m_annotations;
  DialogReport m_report;  // what the worker reports, told on the dialog
  // Only the dialog holds them; closed with it, once both threads have ended.
  win::UniqueKernelHandle m_hWorkerThread;
  win::UniqueKernelHandle m_hStatusThread;
  bool stopping_ = false;
};
