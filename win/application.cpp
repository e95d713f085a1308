#include "win/application.h"

#include <cwchar>

#include "win/trace.h"
#include "win/window.h"

namespace win {
namespace {

Application* g_application = nullptr;
std::atomic<MessageBoxFunction> g_message_box{nullptr};

bool PlatformSomeoneCanAnswer() {
  DWORD session = 0;
  if (::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0) return false;
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

std::atomic<AnswerCheck> g_answer_check{PlatformSomeoneCanAnswer};

// What a box no one can answer says: never the step that goes further.
int SafeAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
      return IDCANCEL;
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return IDNO;
    default:
      return IDOK;
  }
}

int PlatformMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  return ::MessageBoxW(owner, text, caption, type);
}

UINT WithDefaultIcon(UINT type) noexcept {
  if ((type & MB_ICONMASK) != 0) return type;
  switch (type & MB_TYPEMASK) {
    case MB_OK:
    case MB_OKCANCEL:
      return type | MB_ICONEXCLAMATION;
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return type | MB_ICONQUESTION;
    default:
      return type;
  }
}

}  // namespace

Application::Application(WORD context_manifest, const wchar_t* title) noexcept
    : context_manifest_(context_manifest), given_title_(title) {
  if (title != nullptr) wcsncpy(title_, title, MAX_PATH - 1);
  g_application = this;
}

Application::~Application() {
  if (g_application == this) g_application = nullptr;
}

Application* Application::Current() noexcept { return g_application; }

int Application::Run(HINSTANCE instance) noexcept {
  instance_ = instance;
  LoadTitle();
  // Before the first window; without a context the windows get the system's default controls.
  if (context_manifest_ != 0) (void)MakeProgramContext(instance, context_manifest_);
  const ProgramContextScope context;
  InitInstance();
  // Whatever InitInstance answers, there is no message loop of our own to enter.
  return static_cast<int>(exit_code_.load());
}

void Application::LoadTitle() noexcept {
  if (given_title_ != nullptr) {
    wcsncpy(title_, given_title_, MAX_PATH - 1);
    return;
  }
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  wcsncpy(title_, name, MAX_PATH - 1);
  if (wchar_t* dot = wcsrchr(title_, L'.')) *dot = L'\0';
}

HWND MainWindowHandle() noexcept {
  const Application* app = Application::Current();
  const Window* main = app != nullptr ? app->MainWindow() : nullptr;
  return main != nullptr ? main->hwnd() : nullptr;
}

int AppMessageBox(const wchar_t* text, UINT type) noexcept {
  HWND owner = MainWindowHandle();
  if (owner != nullptr && ::GetWindowThreadProcessId(owner, nullptr) == ::GetCurrentThreadId()) {
    owner = ::GetLastActivePopup(owner);
  } else {
    owner = nullptr;
  }
  const Application* app = Application::Current();
  const wchar_t* caption = app != nullptr ? app->Title() : L"";
  return ShowMessageBox(owner, text, caption, WithDefaultIcon(type));
}

bool SomeoneCanAnswer() noexcept { return g_answer_check.load()(); }

AnswerCheck SetAnswerCheckForTesting(AnswerCheck check) noexcept {
  return g_answer_check.exchange(check != nullptr ? check : PlatformSomeoneCanAnswer);
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) noexcept {
  if (!SomeoneCanAnswer()) {
    const int answer = SafeAnswer(type);
    DebugTrace(L"sUnansweredBox: %s: %s (answer %d)", caption, text, answer);
    return answer;
  }
  MessageBoxFunction show = g_message_box.load();
  if (show == nullptr) show = PlatformMessageBox;
  return show(owner, text, caption, type);
}

MessageBoxFunction SetMessageBoxForTesting(MessageBoxFunction function) noexcept {
  return g_message_box.exchange(function);
}

}  // namespace win
