// The installer's only window: banner, status line, progress bar and cancel button.
#pragma once

#include <atomic>

#include "app/taskbar_button.h"
#include "app/transparent_static.h"
#include "resources/resource.h"
#include "win/dialog.h"

// The two threads' handles, published once both have started. Kept open until the process
// ends, so no thread can ever use a closed handle.
extern std::atomic<HANDLE> StatusThreadHandle;
extern std::atomic<HANDLE> WorkerThreadHandle;

// How the dialog starts its threads: _beginthreadex's contract. Tests make it fail.
using ThreadStarter = uintptr_t (*)(void* security, unsigned stack, unsigned(__stdcall* start)(void*),
                                    void* argument, unsigned flags, unsigned* id);
void SetThreadStarterForTesting(ThreadStarter starter);

class CZunoOnlineSetupDlg : public win::DialogImpl<CZunoOnlineSetupDlg> {
 public:
  explicit CZunoOnlineSetupDlg(HWND parent = nullptr) noexcept;

  static const win::MessageEntry<CZunoOnlineSetupDlg> kMessageMap[6];
  // What the dialog draws itself follows the screen's scale; the taskbar button, the download.
  static const win::MessageEntry<CZunoOnlineSetupDlg> kDisplayMessageMap[3];

 protected:
  void DoDataExchange() noexcept override;
  BOOL OnInitDialog() noexcept override;
  bool ProcessMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) noexcept override;

 private:
  INT_PTR OnPaint(WPARAM, LPARAM);
  INT_PTR OnQueryDragIcon(WPARAM, LPARAM);
  INT_PTR OnCancelButton(WPARAM, LPARAM);
  INT_PTR OnSysCommand(WPARAM command, LPARAM);
  INT_PTR OnEraseBkgnd(WPARAM dc, LPARAM);
  INT_PTR OnCtlColorStatic(WPARAM dc, LPARAM control);

  // Before the window shows: the banner for the dialog's scale, the taskbar button's message.
  void PrepareDisplay() noexcept;
  void DrawBannerForScale() noexcept;
  INT_PTR OnDpiChanged(WPARAM dpi, LPARAM suggested);
  INT_PTR OnScaleChanged(WPARAM, LPARAM);
  INT_PTR OnTaskbarProgress(WPARAM state, LPARAM done);

  // Asks message 7; true when the answer was Yes.
  bool AskToStop(UINT icon);
  void StopThreads();
  // Ends the dialog through its standard cancel, after an early exit of the initialisation.
  BOOL ExitEarly();

  HICON m_hIcon;
  HICON m_hSmallIcon;
  CTransparentStatic2 m_status;
  win::UniqueGdiObject m_banner;  // the picture the banner control shows, once drawn
  TaskbarButton m_taskbar;
  HANDLE m_hWorkerThread = nullptr;
  HANDLE m_hStatusThread = nullptr;
};
