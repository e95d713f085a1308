#include "app/zuno_online_setup_dlg.h"

#include "app/messages.h"
#include "win/application.h"
#include "workflow/startup_checks.h"

const win::MessageEntry<CZunoOnlineSetupDlg> CZunoOnlineSetupDlg::kMessageMap[1] = {
    {WM_ERASEBKGND, 0, 0, &CZunoOnlineSetupDlg::OnEraseBkgnd},
};

BOOL CZunoOnlineSetupDlg::OnInitDialog() noexcept {
  Dialog::OnInitDialog();

  int32_t language = kLanguageVietnamese;
  if (ReadUiLanguage(&language)) UiLanguage.store(language);

  ::SetDlgItemTextW(hwnd(), IDC_STATUS_TEXT, L"");
  ::SetDlgItemTextW(hwnd(), IDC_CANCEL_BUTTON, GetMessageText(0).c_str());
  ::SetWindowTextW(hwnd(), L"Zuno Office Installation");

  if (!IsAdminGroupMember()) {
    win::AppMessageBox(GetMessageText(23).c_str(), MB_OK | MB_ICONEXCLAMATION);
    OnCancel();
    return TRUE;
  }
  return TRUE;
}

INT_PTR CZunoOnlineSetupDlg::OnEraseBkgnd(WPARAM wparam, LPARAM) {
  HDC dc = reinterpret_cast<HDC>(wparam);
  RECT client;
  ::GetClientRect(hwnd(), &client);
  ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  ::SetWindowLongPtrW(hwnd(), DWLP_MSGRESULT, TRUE);
  return TRUE;
}
