#include "app/progress_line.h"

#include "app/messages.h"
#include "download/http_downloader.h"

namespace {

constexpr uint32_t kKilobyte = 1024;
constexpr uint32_t kMegabyte = 1024 * kKilobyte;
constexpr uint32_t kGigabyte = 1024 * kMegabyte;
constexpr wchar_t kJoin[] = L" \x00B7 ";

// The speed is taken over this much of the latest samples, once they span a second; the time
// left is shown once the transfer has gone on for three.
constexpr DWORD kSpeedWindowMs = 5000;
constexpr DWORD kSpeedAfterMs = 1000;
constexpr DWORD kTimeLeftAfterMs = 3000;

uint32_t CeilDiv(uint64_t value, uint64_t by) { return static_cast<uint32_t>((value + by - 1) / by); }

}  // namespace

WideString FormatSize(uint32_t bytes) {
  if (bytes < kKilobyte) return WideString::Format(GetMessageText(kTextBytes).c_str(), static_cast<int32_t>(bytes));
  const uint32_t unit = bytes >= kGigabyte ? kGigabyte : bytes >= kMegabyte ? kMegabyte : kKilobyte;
  const wchar_t* name = unit == kGigabyte ? L"GB" : unit == kMegabyte ? L"MB" : L"KB";
  const uint64_t tenths = static_cast<uint64_t>(bytes) * 10 / unit;
  const WideString separator = GetMessageText(kTextDecimalSeparator);
  return WideString::Format(L"%d%s%d %s", static_cast<int32_t>(tenths / 10), separator.c_str(),
                            static_cast<int32_t>(tenths % 10), name);
}

WideString FormatSpeed(uint32_t bytes_per_second) {
  return WideString::Format(GetMessageText(kTextSpeed).c_str(), FormatSize(bytes_per_second).c_str());
}

WideString FormatTimeLeft(uint32_t seconds) {
  WideString amount;
  if (seconds < 60) {
    amount = WideString::Format(GetMessageText(kTextSeconds).c_str(), static_cast<int32_t>(seconds));
  } else if (seconds < 3600) {
    amount = WideString::Format(GetMessageText(kTextMinutes).c_str(), static_cast<int32_t>(seconds / 60));
  } else {
    amount = WideString::Format(GetMessageText(kTextHoursMinutes).c_str(), static_cast<int32_t>(seconds / 3600),
                                static_cast<int32_t>(seconds % 3600 / 60));
  }
  return WideString::Format(GetMessageText(kTextTimeLeft).c_str(), amount.c_str());
}

WideString FormatRetryIn(uint32_t seconds) {
  return WideString::Format(GetMessageText(kTextTryingAgain).c_str(), static_cast<int32_t>(seconds));
}

uint32_t RoundTimeLeft(uint32_t seconds) {
  const uint32_t step = seconds < 20 ? 1 : seconds < 60 ? 5 : seconds < 3600 ? 60 : 300;
  return CeilDiv(seconds, step) * step;
}

void ProgressLine::Reset() noexcept {
  first_ = 0;
  count_ = 0;
  total_ = 0;
  shown_left_ = 0;
}

void ProgressLine::Add(DWORD now_ms, uint32_t bytes) noexcept {
  if (count_ == 0) since_ = now_ms;
  if (count_ == kSamples) {
    first_ = (first_ + 1) % kSamples;
    --count_;
  }
  samples_[(first_ + count_) % kSamples] = {now_ms, bytes};
  ++count_;
  // Only the last few seconds count for the speed.
  while (count_ > 1 && now_ms - Oldest().at > kSpeedWindowMs) {
    first_ = (first_ + 1) % kSamples;
    --count_;
  }
}

const ProgressLine::Sample& ProgressLine::Oldest() const noexcept { return samples_[first_]; }

const ProgressLine::Sample& ProgressLine::Newest() const noexcept {
  return samples_[(first_ + count_ - 1) % kSamples];
}

uint32_t ProgressLine::SteadyTimeLeft(uint32_t seconds) noexcept {
  const uint32_t rounded = RoundTimeLeft(seconds);
  // Down at once; up only when the estimate has clearly grown (the link slowed down), so a
  // rate that wavers does not make the figure jump back and forth.
  if (shown_left_ == 0 || rounded < shown_left_ || rounded > shown_left_ + shown_left_ / 5 + 5) {
    shown_left_ = rounded;
  }
  return shown_left_;
}

WideString ProgressLine::Update(const TransferReading& reading, DWORD now_ms) {
  if (reading.next_try_tick != 0) {
    Reset();
    const int32_t wait_ms = static_cast<int32_t>(reading.next_try_tick - now_ms);
    if (wait_ms <= 0) return WideString();
    return FormatRetryIn(CeilDiv(static_cast<uint32_t>(wait_ms), 1000));
  }
  const bool receiving = reading.stage == kStageReceiving || reading.stage == kStageChunkWritten;
  if (!receiving || reading.total == 0) {
    Reset();
    return WideString();
  }
  // The two values are read one after the other: a new file's total may come with the last
  // file's count.
  const uint32_t received = reading.received < reading.total ? reading.received : reading.total;
  if (count_ != 0 && (reading.total != total_ || received < Newest().bytes)) Reset();
  total_ = reading.total;
  Add(now_ms, received);

  WideString line = WideString::Format(GetMessageText(kTextSizeOfSize).c_str(), FormatSize(received).c_str(),
                                       FormatSize(reading.total).c_str());
  const DWORD span = Newest().at - Oldest().at;
  if (span < kSpeedAfterMs) return line;
  const uint32_t speed = static_cast<uint32_t>(static_cast<uint64_t>(Newest().bytes - Oldest().bytes) * 1000 / span);
  line = WideString::Format(L"%s%s%s", line.c_str(), kJoin, FormatSpeed(speed).c_str());
  const uint32_t left = reading.total - received;
  if (now_ms - since_ < kTimeLeftAfterMs || speed == 0 || left == 0) return line;
  const uint32_t seconds = SteadyTimeLeft(CeilDiv(left, speed));
  return WideString::Format(L"%s%s%s", line.c_str(), kJoin, FormatTimeLeft(seconds).c_str());
}
