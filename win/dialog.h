// Modal dialogs from a resource template, with a message table per dialog class.
#pragma once

#include <windows.h>

#include <cstddef>

#include "win/window.h"

namespace win {

class Dialog : public Window {
 public:
  Dialog(UINT template_id, HWND parent) noexcept : template_id_(template_id), parent_(parent) {}

  // Shows the dialog and returns when it has been ended; -1 when it could not be created.
  INT_PTR DoModal() noexcept;
  void EndDialog(INT_PTR result) noexcept;

 protected:
  // Binds controls to their objects; called by the base OnInitDialog.
  virtual void DoDataExchange() noexcept {}
  // The base initialisation: binds the controls. Answers TRUE so that the platform puts the
  // focus on the first tab stop.
  virtual BOOL OnInitDialog() noexcept;
  // The standard handlers of IDOK and IDCANCEL: they end the dialog with that result.
  virtual void OnOK() noexcept { EndDialog(IDOK); }
  virtual void OnCancel() noexcept { EndDialog(IDCANCEL); }

  // The derived class's message table. Answers true when an entry took the message; `result`
  // is then the dialog procedure's answer.
  virtual bool ProcessMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) noexcept {
    (void)message, (void)wparam, (void)lparam, (void)result;
    return false;
  }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  UINT template_id_;
  HWND parent_;
};

// Moves a top-level window to the centre of its owner, or of the work area without one.
void CenterWindow(HWND hwnd);

// One row of a message table: the message, and for WM_COMMAND the notification code and
// control id it is limited to.
template <class T>
struct MessageEntry {
  UINT message;
  WORD code;
  WORD id;
  INT_PTR (T::*handler)(WPARAM wparam, LPARAM lparam);
};

// A dialog whose messages go through T's table, `T::kMessageMap`, first match wins.
// Messages no row takes go to the platform's dialog handling.
template <class T>
class DialogImpl : public Dialog {
 public:
  using Dialog::Dialog;

 protected:
  bool ProcessMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR* result) noexcept override {
    for (const MessageEntry<T>& entry : T::kMessageMap) {
      if (entry.message != message) continue;
      if (message == WM_COMMAND && (HIWORD(wparam) != entry.code || LOWORD(wparam) != entry.id)) {
        continue;
      }
      *result = (static_cast<T*>(this)->*entry.handler)(wparam, lparam);
      return true;
    }
    return false;
  }
};

// How a modal dialog is made and run: DialogBoxParamW's contract. Tests replace it to stand
// for a machine where no window can be made; null restores the platform's. Returns the previous.
using DialogRun = INT_PTR(WINAPI*)(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
DialogRun SetDialogRunForTesting(DialogRun run) noexcept;

}  // namespace win
