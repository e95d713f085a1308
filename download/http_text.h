// What the download engine reads and works out without the network: the URL it asks for, the
// lengths and ranges of an answer, the scheme it answers a challenge with, the bar's position.
// Plain C++: also built natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package_codec.h"

// The URL buffers of an attempt, in characters, and the most of a URL that is taken.
constexpr size_t kUrlCapacity = 1024;
constexpr size_t kMaxUrlTaken = 1000;

// The largest file the engine takes, the largest package: a Content-Length above it ends the
// attempt.
constexpr uint32_t kMaxDownloadBytes = kMaxPackageFileSize;

// WinHTTP's authentication scheme bits.
enum AuthScheme : uint32_t {
  kAuthBasic = 0x01,
  kAuthNtlm = 0x02,
  kAuthPassport = 0x04,
  kAuthDigest = 0x08,
  kAuthNegotiate = 0x10,
};

// `url` with "http://" in front unless it starts with http:// or https:// (any case); at
// most its first kMaxUrlTaken characters are taken. `out` holds kUrlCapacity characters.
void NormalizeUrl(const wchar_t* url, wchar_t* out);

// The bar position for `received` of `total` bytes, 0 to 100; -1 when there is no total.
// Sizes of 2 GiB or more, which the engine never accepts, still give a position in range.
[[nodiscard]] int32_t ProgressPosition(uint32_t received, uint32_t total);

// One scheme out of the offered scheme bits: Negotiate, NTLM, Passport, Digest, else Basic.
[[nodiscard]] uint32_t ChooseAuthScheme(uint32_t supported_schemes);

// A Content-Length as the engine takes it: decimal digits only, 1 to kMaxDownloadBytes.
// Returns 0 for anything else.
[[nodiscard]] uint32_t ParseContentLength(const wchar_t* text);

// "bytes FIRST-LAST/TOTAL" into its three numbers; false for anything else, including a
// range that does not lie within TOTAL.
[[nodiscard]] bool ParseContentRange(const wchar_t* text, uint32_t* first, uint32_t* last, uint32_t* total);

// Whether `text` starts with the ASCII `prefix`, in any case.
[[nodiscard]] bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix);
