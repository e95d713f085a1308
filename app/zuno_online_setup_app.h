// The installer's application object.
#pragma once

#include "win/application.h"

// The name of the machine-wide guard against a second copy. Only its existence counts.
inline constexpr wchar_t kInstanceMutexName[] = L"Global\\ZunoSetupOnlineMutex";

class CZunoOnlineSetupApp : public win::Application {
 public:
  CZunoOnlineSetupApp() noexcept;

 protected:
  // Runs the installation with the run's log around it. Always answers false: the process
  // ends when the dialog has ended.
  bool InitInstance() override;

 private:
  // Registers the common controls, refuses to run beside another copy, then runs the main
  // dialog modally.
  void Install();
};
