// How each end of the installer is told: one table from every result (the start's ends and the
// worker's, each download cause among them) to its message, its box and icon, what the bar and
// the taskbar do, and the exit code. The dialog tells the start's ends; DialogReport tells the
// worker's.
#pragma once

#include <windows.h>

#include "workflow/worker_report.h"

// The exit code of `result` (for kDownloadFailed, of its `cause`); the run's log ends on its
// words.
[[nodiscard]] DWORD ExitCodeOf(InstallResult result, FailureCause cause = FailureCause::kNone) noexcept;

// Tells an end of the start (the dialog's thread, before any worker exists) in the
// application's box, when it has a message (`name`, the installed product's, for its %s).
// Returns its exit code.
DWORD TellStartEnd(InstallResult result, const wchar_t* name = nullptr) noexcept;

// What the worker reports, told on its thread: the status line (through the status thread's
// pause), the bar, the taskbar button, the boxes and the log; the end goes to the dialog.
class DialogReport final : public WorkerReport {
 public:
  // How the process ends once everything is told: `end_process` (tests record it), by default
  // a kWorkerEndedMessage to `dialog`, or, without one, the log's end and the process's here.
  using EndProcess = void (*)(HWND dialog, DWORD exit_code);
  explicit DialogReport(HWND dialog = nullptr, EndProcess end_process = nullptr) noexcept;

  // The dialog the status line, the bar and the taskbar button belong to.
  void SetDialog(HWND dialog) noexcept { dialog_ = dialog; }

  void PauseStatus() override;
  void ResumeStatus() override;
  void ShowStatus(WorkerStatus status) override;
  [[nodiscard]] SetupLanguage Language() override;
  void End(InstallResult result, const EndFigures& figures) override;

 private:
  HWND dialog_;
  EndProcess end_process_;
};
