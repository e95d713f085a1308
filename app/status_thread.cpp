#include "app/status_thread.h"

#include <cwchar>
#include <utility>

#include "app/dialog_messages.h"
#include "app/messages.h"
#include "app/progress_line.h"
#include "download/active_downloader.h"
#include "resources/resource.h"
#include "win/application.h"
#include "win/clock.h"
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
    case kModeDefaultProxy: return kMessageViaDefaultProxy;
    case kModeIeProxy: return kMessageViaIeProxy;
    default: return kNoMessage;
  }
}

int32_t StageMessage(int32_t stage) {
  switch (stage) {
    case kStageInitial: return kMessageStageInitial;
    case kStagePreparing: return kMessageStagePreparing;
    case kStageSessionOpened: return kMessageStageSessionOpened;
    case kStageUrlParsed: return kMessageStageUrlParsed;
    case kStageConnected: return kMessageStageConnected;
    case kStageRequestOpened: return kMessageStageRequestOpened;
    case kStageRequestSent: return kMessageStageRequestSent;
    case kStageReceiving:
    case kStageChunkWritten: return kMessageStageReceiving;
    case kStageOutOfMemory: return kMessageStageOutOfMemory;
    case kStageComplete: return kMessageDownloadComplete;
    case kStageFailed: return kMessageStageFailed;
    default: return kNoMessage;  // 500 and anything else: no text
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

void ShowFailureOnTaskbar(HWND dialog) noexcept {
  ::SendMessageW(dialog, kTaskbarProgressMessage, kTaskbarFailed, kTaskbarWhole);
}

namespace {

// The progress line and the taskbar button, written only when they change.
class ProgressDisplay {
 public:
  explicit ProgressDisplay(HWND dialog) : dialog_(dialog), line_(::GetDlgItem(dialog, IDC_PROGRESS_TEXT)) {}

  void Show(const HttpDownloader& downloader) {
    const TransferReading reading = {downloader.GetStage(), downloader.GetBytesReceived(), downloader.GetTotalSize(),
                                     downloader.GetNextTryTick()};
    WideString text = progress_.Update(reading, ::GetTickCount());
    if (line_ != nullptr && wcscmp(text.c_str(), shown_.c_str()) != 0) {
      ::SetWindowTextW(line_, text.c_str());
      ::SendMessageW(dialog_, kProgressLineMessage, 0, 0);
      shown_ = std::move(text);
    }
    WPARAM state = kTaskbarNone;
    LPARAM done = 0;
    if (reading.next_try_tick != 0) {
      state = kTaskbarWaiting;
    } else if (reading.total != 0 && reading.received <= reading.total) {
      state = kTaskbarNormal;
      done = static_cast<LPARAM>(static_cast<uint64_t>(reading.received) * kTaskbarWhole / reading.total);
    }
    if (state != taskbar_state_ || done != taskbar_done_) {
      ::SendMessageW(dialog_, kTaskbarProgressMessage, state, done);
      taskbar_state_ = state;
      taskbar_done_ = done;
    }
  }

 private:
  HWND dialog_;
  HWND line_;
  ProgressLine progress_;
  WideString shown_;
  WPARAM taskbar_state_ = kTaskbarNone;
  LPARAM taskbar_done_ = 0;
};

}  // namespace

unsigned __stdcall StatusThreadProc(void*) {
  const win::ProgramContextScope context;  // the dialog's controls are touched from here too
  HWND dialog = win::MainWindowHandle();
  HWND status = dialog != nullptr ? ::GetDlgItem(dialog, IDC_STATUS_TEXT) : nullptr;
  ProgressDisplay progress(dialog);
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
        progress.Show(*downloader);
      });
    }
    win::SleepFor(kTickMs);
  }
  return 0;
}
