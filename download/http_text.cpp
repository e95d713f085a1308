#include "download/http_text.h"

#include <cwchar>
#include <initializer_list>

namespace {

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Digits only into `value`; false for none, anything else, or more than fits in 32 bits.
bool ParseDigits(const wchar_t*& text, uint32_t* value) {
  uint64_t number = 0;
  const wchar_t* start = text;
  while (*text >= L'0' && *text <= L'9') {
    number = number * 10 + static_cast<uint64_t>(*text - L'0');
    if (number > 0xFFFFFFFFull) return false;
    ++text;
  }
  *value = static_cast<uint32_t>(number);
  return text != start;
}

}  // namespace

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix != L'\0'; ++text, ++prefix) {
    if (AsciiLower(*text) != AsciiLower(*prefix)) return false;
  }
  return true;
}

void NormalizeUrl(const wchar_t* url, wchar_t* out) {
  out[0] = L'\0';
  size_t length = 0;
  if (!StartsWithNoCase(url, L"http://") && !StartsWithNoCase(url, L"https://")) {
    wcscpy(out, L"http://");
    length = 7;
  }
  size_t taken = 0;
  while (taken < kMaxUrlTaken && url[taken] != L'\0') out[length++] = url[taken++];
  out[length] = L'\0';
}

int32_t ProgressPosition(uint32_t received, uint32_t total) {
  const auto r = static_cast<int32_t>(received);
  const auto t = static_cast<int32_t>(total);
  if (t == 0) return -1;
  if (t < 100 || r < 0) {
    // What the signed formula below cannot take (sizes of 2 GiB and more, where the total's
    // hundredth may be 0 or negative; tiny totals): exactly, in 64 bits.
    const uint64_t wide = static_cast<uint64_t>(received) * 100 / total;
    return wide > 100 ? 100 : static_cast<int32_t>(wide);
  }
  // Received × 100 would leave 32 bits for large sizes: divide the total first there.
  const int32_t position = (t > 100000 || r > 100000) ? r / (t / 100) : r * 100 / t;
  return position > 100 ? 100 : position;
}

uint32_t ChooseAuthScheme(uint32_t supported) {
  for (uint32_t scheme : {kAuthNegotiate, kAuthNtlm, kAuthPassport, kAuthDigest}) {
    if ((supported & scheme) != 0) return scheme;
  }
  return kAuthBasic;
}

uint32_t ParseContentLength(const wchar_t* text) {
  uint32_t value = 0;
  if (text == nullptr || !ParseDigits(text, &value) || *text != L'\0') return 0;
  return value <= kMaxDownloadBytes ? value : 0;
}

bool ParseContentRange(const wchar_t* text, uint32_t* first, uint32_t* last, uint32_t* total) {
  if (text == nullptr || !StartsWithNoCase(text, L"bytes ")) return false;
  text += 6;
  if (!ParseDigits(text, first) || *text++ != L'-' || !ParseDigits(text, last) || *text++ != L'/' ||
      !ParseDigits(text, total) || *text != L'\0') {
    return false;
  }
  return *first <= *last && *last < *total;
}
