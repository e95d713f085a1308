// The application object: one per process, created before the entry point runs. It owns
// the start-up order, the main-window reference and the application's standard message box.
#pragma once

#include <windows.h>

#include <atomic>

#include "win/activation_context.h"

namespace win {

class Window;

class Application {
 public:
  // `context_manifest`: the RT_MANIFEST resource of the program's own activation context
  // (win/activation_context.h), 0 for none. `title`: the caption of the application's boxes,
  // whatever the program file is called; null takes the file's name.
  explicit Application(WORD context_manifest = 0, const wchar_t* title = nullptr) noexcept;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  virtual ~Application();

  // The one application object of the process, or null before it exists.
  [[nodiscard]] static Application* Current() noexcept;

  // Makes the program's activation context and runs InitInstance under it; a false result
  // means there is nothing more to run.
  // Returns the process exit code, as SetExitCode last set it (0 when never).
  int Run(HINSTANCE instance) noexcept;

  // The code the process ends with when Run returns.
  void SetExitCode(DWORD code) noexcept { exit_code_.store(code); }
  [[nodiscard]] DWORD ExitCode() const noexcept { return exit_code_.load(); }

  // The title given, or the program file's name without its extension, e.g. "ZunoOnlineSetup".
  [[nodiscard]] const wchar_t* Title() const noexcept { return title_; }

  // The window through which other threads find the dialog and its controls.
  [[nodiscard]] Window* MainWindow() const noexcept { return main_window_.load(); }
  void SetMainWindow(Window* window) noexcept { main_window_.store(window); }

  [[nodiscard]] HINSTANCE Instance() const noexcept { return instance_; }

 protected:
  // Called once on the main thread at start-up.
  virtual bool InitInstance() = 0;

 private:
  void LoadTitle() noexcept;

  const WORD context_manifest_;
  const wchar_t* const given_title_;
  HINSTANCE instance_ = nullptr;
  std::atomic<Window*> main_window_{nullptr};
  std::atomic<DWORD> exit_code_{0};
  wchar_t title_[MAX_PATH] = {};
};

// The main window's handle: the dialog, as the threads find it; null while there is none.
[[nodiscard]] HWND MainWindowHandle() noexcept;

// The box the platform shows: same contract as MessageBoxW.
using MessageBoxFunction = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption,
                                   UINT type);

// Every message box of the program goes through here, so that tests can answer them all.
// When nobody can answer (SomeoneCanAnswer), no box is shown: the caption and text go to the
// trace (the run's log), and the safe answer comes back: Cancel, No, or OK for an OK box.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) noexcept;

// The application's standard message box. The caption is the application title. On the
// main window's thread the box is owned by the main window's last active pop-up; on any
// other thread it has no owner. When `type` names no icon, OK and OK/Cancel boxes get the
// exclamation icon and Yes/No and Yes/No/Cancel boxes the question icon.
// Returns the button pressed.
int AppMessageBox(const wchar_t* text, UINT type) noexcept;

// Whether anyone can answer a box: not in session 0 (a service's, or a deployment tool's run
// as SYSTEM), nor on a window station no one sees (without WSF_VISIBLE).
[[nodiscard]] bool SomeoneCanAnswer() noexcept;
using AnswerCheck = bool (*)();
// Replaces that check (null restores the platform's). Returns the previous one.
AnswerCheck SetAnswerCheckForTesting(AnswerCheck check) noexcept;

// Replaces the platform's box behind ShowMessageBox, for tests that answer the question
// themselves. Null restores MessageBoxW. Returns the previous function.
MessageBoxFunction SetMessageBoxForTesting(MessageBoxFunction function) noexcept;

}  // namespace win
