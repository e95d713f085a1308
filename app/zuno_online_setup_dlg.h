// The installer's only window: banner, status line, progress bar and cancel button.
#pragma once

#include "resources/resource.h"
#include "win/dialog.h"

class CZunoOnlineSetupDlg : public win::DialogImpl<CZunoOnlineSetupDlg> {
 public:
  explicit CZunoOnlineSetupDlg(HWND parent = nullptr) noexcept
      : DialogImpl(IDD_ZUNOONLINESETUP_DIALOG, parent) {}

  static const win::MessageEntry<CZunoOnlineSetupDlg> kMessageMap[1];

 protected:
  BOOL OnInitDialog() noexcept override;

 private:
  INT_PTR OnEraseBkgnd(WPARAM wparam, LPARAM lparam);
};
