#include "win/wide_string.h"

#include <stdio.h>
#include <wchar.h>

#include <cstdlib>
#include <cstring>
#include <utility>

// The MSVCRT routines _vsnwprintf and _vscwprintf are used on purpose: in their wide forms
// %s is a wide string. The C99 printf family that mingw substitutes by default for
// vswprintf and friends reads %s as a narrow string.

WideString::WideString(WideString&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

WideString& WideString::operator=(WideString&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

WideString::~WideString() { std::free(data_); }

WideString WideString::Copy(const wchar_t* text) noexcept {
  return text ? Copy(text, wcslen(text)) : WideString();
}

WideString WideString::Copy(const wchar_t* text, size_t length) noexcept {
  WideString result;
  if (text == nullptr || length == 0) return result;
  auto* data = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
  if (data == nullptr) return result;
  std::memcpy(data, text, length * sizeof(wchar_t));
  data[length] = L'\0';
  result.data_ = data;
  result.size_ = length;
  return result;
}

WideString WideString::Format(const wchar_t* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  WideString result = FormatV(format, args);
  va_end(args);
  return result;
}

WideString WideString::FormatV(const wchar_t* format, va_list args) noexcept {
  WideString result;
  if (format == nullptr) return result;
  va_list counting;
  va_copy(counting, args);
  const int length = _vscwprintf(format, counting);
  va_end(counting);
  if (length <= 0) return result;
  auto* data = static_cast<wchar_t*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
  if (data == nullptr) return result;
  _vsnwprintf(data, static_cast<size_t>(length) + 1, format, args);
  data[length] = L'\0';
  result.data_ = data;
  result.size_ = static_cast<size_t>(length);
  return result;
}

size_t FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) noexcept {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = L'\0';
  if (format == nullptr) return 0;
  // _vsnwprintf writes at most `count` characters and leaves the buffer unterminated (and
  // answers -1) when the output does not fit; the last slot is kept for the terminator.
  const int written = _vsnwprintf(buffer, capacity - 1, format, args);
  const size_t length = written < 0 ? capacity - 1 : static_cast<size_t>(written);
  buffer[length] = L'\0';
  return length;
}
