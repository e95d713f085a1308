// The progress line: its sizes, speeds and times in both languages, and how it follows a
// transfer tick by tick on a clock of the test's own.
#include "app/progress_line.h"

#include <gtest/gtest.h>

#include <string>

#include "download/http_downloader.h"
#include "tests/support/language_scope.h"

namespace {

constexpr uint32_t kMiB = 1048576;

TEST(ProgressLineText, SizesSpeedsAndTimesInBothLanguages) {
  enum Kind { kSize, kSpeed, kTimeLeft, kRetry };
  struct Case {
    Kind kind;
    uint32_t value;
    const wchar_t* english;
    const wchar_t* vietnamese;  // written with escapes, apart from the catalogue's source
  };
  const Case cases[] = {
      {kSize, 0, L"0 bytes", L"0 byte"},
      {kSize, 1024, L"1.0 KB", L"1,0 KB"},
      {kSize, kMiB - 1, L"1023.9 KB", L"1023,9 KB"},  // cut, never rounded up into the next unit
      {kSize, 42 * kMiB, L"42.0 MB", L"42,0 MB"},
      {kSize, 100000000, L"95.3 MB", L"95,3 MB"},  // Explorer's megabytes, not a million bytes
      {kSize, 100 * kMiB, L"100.0 MB", L"100,0 MB"},
      {kSize, 0xFFFFFFFFu, L"3.9 GB", L"3,9 GB"},
      {kSpeed, 5500000, L"5.2 MB/s", L"5,2 MB/gi\xE2y"},
      {kTimeLeft, 11, L"about 11 s left", L"c\xF2n kho\x1EA3ng 11 gi\xE2y"},
      {kTimeLeft, 180, L"about 3 min left", L"c\xF2n kho\x1EA3ng 3 ph\xFAt"},
      {kTimeLeft, 3900, L"about 1 h 5 min left", L"c\xF2n kho\x1EA3ng 1 gi\x1EDD 5 ph\xFAt"},
      {kRetry, 4, L"Trying again in 4 s...", L"Th\x1EED l\x1EA1i sau 4 gi\xE2y..."},
  };
  for (const Case& c : cases) {
    for (int32_t language : {kLanguageEnglish, kLanguageVietnamese}) {
      test::LanguageScope scope(language);
      const WideString text = c.kind == kSize       ? FormatSize(c.value)
                              : c.kind == kSpeed    ? FormatSpeed(c.value)
                              : c.kind == kTimeLeft ? FormatTimeLeft(c.value)
                                                    : FormatRetryIn(c.value);
      EXPECT_STREQ(text.c_str(), language == kLanguageEnglish ? c.english : c.vietnamese) << c.value;
    }
  }
}

// A transfer of `total` bytes fed to the line every 500 ms; returns the line at each tick.
class Transfer {
 public:
  explicit Transfer(uint32_t total) : total_(total) {}
  std::wstring Tick(uint32_t received, int32_t stage = kStageChunkWritten, uint32_t next_try = 0) {
    now_ += 500;
    return line_.Update({stage, received, total_, next_try}, now_).c_str();
  }
  DWORD now() const { return now_; }

 private:
  ProgressLine line_;
  uint32_t total_;
  DWORD now_ = 0xFFFFF000u;  // the tick count wraps during the test
};

TEST(ProgressLine, SpeedAfterASecondTimeLeftAfterThreeAndFalling) {
  test::LanguageScope english(kLanguageEnglish);
  Transfer transfer(20 * kMiB);
  EXPECT_EQ(transfer.Tick(0), L"0 bytes of 20.0 MB");
  EXPECT_EQ(transfer.Tick(kMiB / 2), L"512.0 KB of 20.0 MB");
  uint32_t received = kMiB / 2;
  std::wstring line;
  for (int tick = 0; tick < 4; ++tick) line = transfer.Tick(received += kMiB / 2);
  EXPECT_EQ(line, L"2.5 MB of 20.0 MB \x00B7 1.0 MB/s");  // 2.5 s of data: no time left yet
  EXPECT_EQ(transfer.Tick(received += kMiB / 2), L"3.0 MB of 20.0 MB \x00B7 1.0 MB/s \x00B7 about 17 s left");
  // A short dip of the rate does not put the figure up (it would say 19 s); going on, it falls.
  EXPECT_EQ(transfer.Tick(received += kMiB / 8), L"3.1 MB of 20.0 MB \x00B7 914.2 KB/s \x00B7 about 17 s left");
  for (int tick = 0; tick < 8; ++tick) line = transfer.Tick(received += kMiB / 2);
  EXPECT_EQ(line, L"7.1 MB of 20.0 MB \x00B7 947.1 KB/s \x00B7 about 14 s left");
  // A link that has clearly slowed down does put it up.
  for (int tick = 0; tick < 12; ++tick) line = transfer.Tick(received += kMiB / 16);
  EXPECT_EQ(line, L"7.8 MB of 20.0 MB \x00B7 128.0 KB/s \x00B7 about 2 min left");
}

TEST(ProgressLine, CountdownWhileWaitingAndNothingWhenThereIsNothingToSay) {
  test::LanguageScope english(kLanguageEnglish);
  Transfer transfer(20 * kMiB);
  EXPECT_EQ(transfer.Tick(0, kStageConnected), L"");
  for (int tick = 0; tick < 8; ++tick) transfer.Tick(tick * kMiB);
  const DWORD next_try = transfer.now() + 500 + 4000;
  EXPECT_EQ(transfer.Tick(7 * kMiB, kStageFailed, next_try), L"Trying again in 4 s...");
  EXPECT_EQ(transfer.Tick(7 * kMiB, kStageFailed, next_try), L"Trying again in 4 s...");
  EXPECT_EQ(transfer.Tick(7 * kMiB, kStageFailed, next_try), L"Trying again in 3 s...");
  for (int tick = 0; tick < 5; ++tick) transfer.Tick(7 * kMiB, kStageFailed, next_try);
  EXPECT_EQ(transfer.Tick(7 * kMiB, kStageFailed, next_try), L"");  // the time has come
  // The resumed transfer starts its speed afresh: the wait is not counted as slow bytes.
  EXPECT_EQ(transfer.Tick(7 * kMiB), L"7.0 MB of 20.0 MB");
  EXPECT_EQ(transfer.Tick(8 * kMiB), L"8.0 MB of 20.0 MB");
  EXPECT_EQ(transfer.Tick(9 * kMiB), L"9.0 MB of 20.0 MB \x00B7 2.0 MB/s");
  EXPECT_EQ(transfer.Tick(0, kStageFailed), L"");
  EXPECT_EQ(transfer.Tick(0, kStageComplete), L"");
}

}  // namespace
