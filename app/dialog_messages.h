// The dialog's own window messages: what the other threads, and the dialog itself, post to it.
#pragma once

#include <windows.h>

enum DialogMessage : UINT {
  // From the status thread on its tick: how the taskbar button shows the download; wparam a
  // TaskbarState (status_thread.h), lparam the part done in thousandths.
  kTaskbarProgressMessage = WM_APP + 1,
  // Posted to itself after a DPI change, once the dialog manager has laid the dialog out anew.
  kScaleChangedMessage = WM_APP + 2,
  // From the worker when it is done; wparam is the exit code.
  kWorkerEndedMessage = WM_APP + 3,
  // From the status thread when it has changed the progress line: the bar's description follows.
  kProgressLineMessage = WM_APP + 4,
};
