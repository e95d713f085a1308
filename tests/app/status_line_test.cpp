#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/status_thread.h"
#include "app/transparent_static.h"
#include "download/http_downloader.h"
#include "tests/support/language_scope.h"
#include "tests/support/pixels.h"
#include "tests/support/wait.h"
#include "win/subclassed_window.h"

namespace {

std::wstring Line(int32_t mode, int32_t stage, int32_t dots) { return StatusLineText(mode, stage, dots).c_str(); }

// ---- The status thread's line ----------------------------------------------------------------

TEST(StatusLineText, ModePrefixStageTextAndDots) {
  test::LanguageScope english(kLanguageEnglish);
  EXPECT_EQ(Line(kModeDirect, kStageConnected, 1), L"Connecting to server.");
  EXPECT_EQ(Line(kModeDefaultProxy, kStageReceiving, 2), L"Download via default proxy: Downloading installer..");
  EXPECT_EQ(Line(kModeIeProxy, kStageChunkWritten, 3), L"Download via IE proxy configuration: Downloading installer...");
  EXPECT_EQ(Line(kModeIeProxy, kStageFailed, 1),
            L"Download via IE proxy configuration: Errors occur when downloading, the installer is trying to "
            L"resume the download.");
  EXPECT_EQ(Line(kModeDirect, kStageRequestSent, 2), L"Sending request to server..");
  EXPECT_EQ(Line(kModeDirect, kStageComplete, 3), L"Download completed. Preparing for installation...");
  // A stopped transfer has no text of its own, and the named proxy mode no prefix.
  EXPECT_EQ(Line(kModeDirect, kStageStopped, 2), L"..");
  EXPECT_EQ(Line(kModeNamedProxy, kStageInitial, 1), L"Initializing resource.");
}

TEST(StatusLineText, VietnamesePrefixKeepsItsTwoBlanks) {
  test::LanguageScope vietnamese(kLanguageVietnamese);
  EXPECT_EQ(Line(kModeDefaultProxy, kStagePreparing, 1),
            L"T\x1EA3i qua proxy m\x1EB7" L"c \x111\x1ECBnh:  \x110\x61ng kh\x1EDFi t\x1EA1o k\x1EBFt n\x1ED1i.");
}

// ---- The cooperative pause -------------------------------------------------------------------

struct Writer {
  std::atomic<bool> stop{false};
  std::atomic<bool> in_write{false};
  std::atomic<int> writes{0};
  std::atomic<int> tries{0};  // passes of the loop, paused or not
  DWORD write_ms = 0;
};

DWORD WINAPI WriteLoop(void* parameter) {
  auto* writer = static_cast<Writer*>(parameter);
  while (!writer->stop) {
    StatusPause.WriteUnlessPaused([&] {
      writer->in_write = true;
      if (writer->write_ms) ::Sleep(writer->write_ms);
      ++writer->writes;
      writer->in_write = false;
    });
    ++writer->tries;
    ::Sleep(1);
  }
  return 0;
}

// A writer like the status thread, on a thread of its own that ends with the test.
class WriterThread {
 public:
  explicit WriterThread(DWORD write_ms) {
    writer_.write_ms = write_ms;
    thread_ = ::CreateThread(nullptr, 0, WriteLoop, &writer_, 0, nullptr);
  }
  WriterThread(const WriterThread&) = delete;
  WriterThread& operator=(const WriterThread&) = delete;
  ~WriterThread() {
    writer_.stop = true;
    StatusPause.Resume();
    if (thread_ == nullptr) return;
    EXPECT_EQ(::WaitForSingleObject(thread_, 10000), WAIT_OBJECT_0) << "the writer did not end";
    ::CloseHandle(thread_);
  }
  [[nodiscard]] bool started() const { return thread_ != nullptr; }
  Writer& writer() { return writer_; }

 private:
  Writer writer_;
  HANDLE thread_ = nullptr;
};

TEST(StatusLinePause, NothingIsWrittenBetweenPauseAndResume) {
  WriterThread thread(0);
  ASSERT_TRUE(thread.started());
  Writer& writer = thread.writer();
  ASSERT_TRUE(test::WaitUntil([&] { return writer.writes >= 3; })) << "the writer never wrote";
  StatusPause.Pause();
  const int at_pause = writer.writes;
  const int tries = writer.tries;
  // The writer has come round three more times while paused.
  ASSERT_TRUE(test::WaitUntil([&] { return writer.tries >= tries + 3; })) << "the writer stopped trying";
  EXPECT_EQ(writer.writes, at_pause);
  StatusPause.Resume();
  EXPECT_TRUE(test::WaitUntil([&] { return writer.writes >= at_pause + 3; })) << "no writes after Resume";
}

TEST(StatusLinePause, PauseWaitsForAWriteUnderWay) {
  WriterThread thread(150);
  ASSERT_TRUE(thread.started());
  Writer& writer = thread.writer();
  ASSERT_TRUE(test::WaitUntil([&] { return writer.in_write.load(); })) << "the writer never wrote";
  StatusPause.Pause();
  // The write that was going on has finished: whatever the caller writes now stays last.
  EXPECT_FALSE(writer.in_write);
  const int at_pause = writer.writes;
  const int tries = writer.tries;
  ASSERT_TRUE(test::WaitUntil([&] { return writer.tries >= tries + 3; })) << "the writer stopped trying";
  EXPECT_EQ(writer.writes, at_pause);
}

// ---- The transparent status line -------------------------------------------------------------

// The parent's background: stripes, so that a control that paints its own background (or
// leaves old text behind) shows up as wrong pixels.
COLORREF StripeAt(int x) { return (x / 3) % 2 ? RGB(200, 220, 255) : RGB(255, 255, 255); }

LRESULT CALLBACK StripedParentProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      ::GetClientRect(hwnd, &client);
      HDC dc = reinterpret_cast<HDC>(wparam);
      for (int x = 0; x < client.right; ++x) {
        HBRUSH brush = ::CreateSolidBrush(StripeAt(x));
        RECT column = {x, 0, x + 1, client.bottom};
        ::FillRect(dc, &column, brush);
        ::DeleteObject(brush);
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      // Reflected to the control, as the installer's dialog does.
      const LRESULT brush = ::SendMessageW(reinterpret_cast<HWND>(lparam), win::kReflectBase + message, wparam, lparam);
      if (brush != 0) return brush;
      break;
    }
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

// Pixels of columns [from, to) that are not the parent's stripe at that place.
int ForeignPixels(const std::vector<DWORD>& pixels, int width, int height, int left, int from, int to) {
  int foreign = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = from; x < to; ++x) {
      const COLORREF stripe = StripeAt(left + x);
      const DWORD expected = (GetRValue(stripe) << 16) | (GetGValue(stripe) << 8) | GetBValue(stripe);
      foreign += pixels[static_cast<size_t>(y) * width + x] != expected;
    }
  }
  return foreign;
}

TEST(TransparentStatic, ShowsTheParentUnderTheTextAndNoTraceOfALongerOne) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = StripedParentProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"ZunoStripedParent";
  ::RegisterClassW(&window_class);
  HWND parent = ::CreateWindowExW(0, L"ZunoStripedParent", L"", WS_POPUP | WS_VISIBLE, 10, 10, 400, 60, nullptr,
                                  nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(parent, nullptr);
  constexpr int kLeft = 10, kWidth = 360, kHeight = 20;
  HWND control = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, kLeft, 20, kWidth, kHeight, parent,
                                   nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(control, nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  CTransparentStatic2 status;
  ASSERT_TRUE(status.Attach(control));
  ::UpdateWindow(parent);

  ::SetWindowTextW(control, L"A long line of status text that reaches far to the right......");
  std::vector<DWORD> pixels = test::ClientPixels(control, kWidth, kHeight);
  // The text is drawn, and the right part of the line holds some of it.
  EXPECT_GT(ForeignPixels(pixels, kWidth, kHeight, kLeft, 0, kWidth / 2), 0);
  EXPECT_GT(ForeignPixels(pixels, kWidth, kHeight, kLeft, kWidth / 2, kWidth), 0);
  EXPECT_TRUE(status.HasBackground());

  ::SetWindowTextW(control, L"Short");
  pixels = test::ClientPixels(control, kWidth, kHeight);
  EXPECT_GT(ForeignPixels(pixels, kWidth, kHeight, kLeft, 0, kWidth / 2), 0);
  // Where the long text was, only the parent's stripes: no trace of it, no painted background.
  EXPECT_EQ(ForeignPixels(pixels, kWidth, kHeight, kLeft, kWidth / 2, kWidth), 0);

  status.Detach();
  ::DestroyWindow(parent);
}

}  // namespace
