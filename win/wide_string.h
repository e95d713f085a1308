// An owned, immutable UTF-16 string. Plain heap memory and no exceptions: a copy that
// cannot get memory comes out empty, which every caller already treats as "nothing".
#pragma once

#include <cstdarg>
#include <cstddef>

namespace win {
// The capacity of the fixed buffers for paths, URLs and status texts, in wide characters,
// terminator included.
constexpr size_t kPathCapacity = 1024;
}  // namespace win

class WideString {
 public:
  WideString() noexcept = default;
  WideString(const WideString&) = delete;
  WideString& operator=(const WideString&) = delete;
  WideString(WideString&& other) noexcept;
  WideString& operator=(WideString&& other) noexcept;
  ~WideString();

  // A copy of `text` (null gives the empty string).
  [[nodiscard]] static WideString Copy(const wchar_t* text) noexcept;
  [[nodiscard]] static WideString Copy(const wchar_t* text, size_t length) noexcept;

  // printf-style, whole: the result has the full length of the output, however long.
  // In `format`, %s takes a wide string and %d a signed 32-bit integer.
  [[nodiscard]] static WideString Format(const wchar_t* format, ...) noexcept;
  [[nodiscard]] static WideString FormatV(const wchar_t* format, va_list args) noexcept;

  [[nodiscard]] const wchar_t* c_str() const noexcept { return data_ ? data_ : L""; }
  [[nodiscard]] size_t size() const noexcept { return size_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }

 private:
  wchar_t* data_ = nullptr;
  size_t size_ = 0;
};

// Formats into `buffer` of `capacity` wide characters, terminator included. Longer output is
// cut at capacity - 1 characters; the buffer is always terminated when capacity > 0.
// Returns the number of characters written, without the terminator.
size_t FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) noexcept;
