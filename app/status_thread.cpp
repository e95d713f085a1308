#include "app/status_thread.h"

#include "app/messages.h"
#include "download/active_downloader.h"
#include "resources/resource.h"
#include "win/clock.h"
#include "win/application.h"
#include "win/window.h"

StatusLinePause StatusPause;

void StatusLinePause::Pause() noexcept {
  ::AcquireSRWLockExclusive(&lock_);
  paused_ = true;
  ::ReleaseSRWLockExclusive(&lock_);
}

void StatusLinePause::Resume() noexcept {
  ::AcquireSRWLockExclusive(&lock_);
  paused_ = stopped_;
  ::ReleaseSRWLockExclusive(&lock_);
}

void StatusLinePause::Stop() noexcept {
  ::AcquireSRWLockExclusive(&lock_);
  paused_ = stopped_ = true;
  ::ReleaseSRWLockExclusive(&lock_);
}

bool StatusLinePause::Stopped() noexcept {
  ::AcquireSRWLockShared(&lock_);
  const bool stopped = stopped_;
  ::ReleaseSRWLockShared(&lock_);
  return stopped;
}

namespace {

int32_t PrefixMessage(int32_t mode) {
  switch (mode) {
    case kModeDefaultProxy: return 8;
    case kModeIeProxy: return 9;
    default: return -1;
  }
}

int32_t StageMessage(int32_t stage) {
  switch (stage) {
    case kStageInitial: return 10;
    case kStagePreparing: return 11;
    case kStageSessionOpened: return 12;
    case kStageUrlParsed: return 13;
    case kStageConnected: return 14;
    case kStageRequestOpened: return 15;
    case kStageRequestSent: return 16;
    case kStageReceiving:
    case kStageChunkWritten: return 17;
    case kStageOutOfMemory: return 18;
    case kStageComplete: return 2;
    case kStageFailed: return 19;
    default: return -1;  // 500 and anything else: no text
  }
}

constexpr DWORD kTickMs = 500;
constexpr DWORD kWaitForDownloaderMs = 150;

}  // namespace

WideString StatusLineText(int32_t mode, int32_t stage, int32_t dots) {
  const wchar_t* trail = dots == 1 ? L"." : dots == 2 ? L".." : L"...";
  return WideString::Format(L"%s%s%s", GetMessageText(PrefixMessage(mode)).c_str(),
                            GetMessageText(StageMessage(stage)).c_str(), trail);
}

unsigned __stdcall StatusThreadProc(void*) {
  HWND status = nullptr;
  if (const win::Application* app = win::Application::Current()) {
    if (const win::Window* main = app->MainWindow()) status = main->GetDlgItem(IDC_STATUS_TEXT);
  }
  int32_t dots = 1;

  HttpDownloader* downloader = nullptr;
  do {
    downloader = ActiveDownloader.load();
    win::SleepFor(kWaitForDownloaderMs);
    if (StatusPause.Stopped()) return 0;
  } while (downloader == nullptr);

  while (!StatusPause.Stopped()) {
    if (status != nullptr) {
      // Nothing of the downloader is read while paused: once paused for good, the worker
      // may destroy it.
      StatusPause.WriteUnlessPaused([&] {
        // The mode is read before the stage; the two need not agree.
        const int32_t mode = downloader->GetMode();
        const int32_t stage = downloader->GetStage();
        WideString line = StatusLineText(mode, stage, dots);
        ::SetWindowTextW(status, line.c_str());
        dots = dots >= 3 ? 1 : dots + 1;
      });
    }
    win::SleepFor(kTickMs);
  }
  return 0;
}
