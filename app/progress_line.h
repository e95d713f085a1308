// The progress line under the bar: how much of the package has come, how fast, how long is
// left, or how long until a broken transfer is tried again. Texts follow UiLanguage.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/wide_string.h"

// A size as Windows Explorer counts it (1 KB = 1,024 bytes, 1 MB = 1,048,576), cut to one
// decimal: "42.0 MB" / "42,0 MB"; below a kilobyte "512 bytes" / "512 byte".
[[nodiscard]] WideString FormatSize(uint32_t bytes);
// "5.2 MB/s" / "5,2 MB/giây".
[[nodiscard]] WideString FormatSpeed(uint32_t bytes_per_second);
// "about 11 s left" / "còn khoảng 11 giây"; minutes from a minute on, hours and minutes from
// an hour on. Takes a value from RoundTimeLeft.
[[nodiscard]] WideString FormatTimeLeft(uint32_t seconds);
// "Trying again in 4 s..." / "Thử lại sau 4 giây...".
[[nodiscard]] WideString FormatRetryIn(uint32_t seconds);
// Seconds left, rounded up to steps that grow with the time: whole seconds below 20, 5 s
// below a minute, whole minutes below an hour, then 5 minutes.
[[nodiscard]] uint32_t RoundTimeLeft(uint32_t seconds);

// What the engine has published, read once per tick.
struct TransferReading {
  int32_t stage;
  uint32_t received;
  uint32_t total;
  uint32_t next_try_tick;  // GetTickCount of the next try; 0 when none is waited for
};

// The line's memory from tick to tick: the bytes seen over the last few seconds (the speed)
// and the time left last shown (so that it does not jump back and forth). Fed by the status
// thread with a real clock (GetTickCount), never the program's sleep.
class ProgressLine {
 public:
  // The text for this tick; empty when there is nothing true to say.
  [[nodiscard]] WideString Update(const TransferReading& reading, DWORD now_ms);

 private:
  struct Sample {
    DWORD at;
    uint32_t bytes;
  };
  static constexpr int kSamples = 128;

  void Reset() noexcept;
  void Add(DWORD now_ms, uint32_t bytes) noexcept;
  [[nodiscard]] const Sample& Oldest() const noexcept;
  [[nodiscard]] const Sample& Newest() const noexcept;
  [[nodiscard]] uint32_t SteadyTimeLeft(uint32_t seconds) noexcept;

  Sample samples_[kSamples] = {};
  int first_ = 0;
  int count_ = 0;
  uint32_t total_ = 0;
  DWORD since_ = 0;        // when this run of samples began
  uint32_t shown_left_ = 0;  // seconds; 0 while none was shown
};
