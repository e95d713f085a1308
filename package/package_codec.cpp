#include "package/package_codec.h"

#include <cstring>

#include "package/md5.h"

using Op = ScrambleOperation;

const ScrambleOperation ScrambleOperationTable[16] = {
    Op::Add,        Op::Xor, Op::Not, Op::RotateLeft,  // i mod 4 = 0
    Op::Xor,        Op::RotateLeft, Op::Not, Op::Add,  // i mod 4 = 1
    Op::RotateLeft, Op::Not, Op::Add, Op::Xor,         // i mod 4 = 2
    Op::Not,        Op::Add, Op::Xor, Op::RotateLeft,  // i mod 4 = 3
};

namespace {

inline uint8_t RotateLeft8(uint8_t b, unsigned n) noexcept {
  n &= 7;
  return n == 0 ? b : static_cast<uint8_t>((b << n) | (b >> (8 - n)));
}

inline uint8_t KeyByte(uint32_t key, uint32_t i) noexcept {
  return static_cast<uint8_t>(key >> (8 * (i & 3)));
}

inline ScrambleOperation OperationAt(uint32_t i) noexcept {
  return ScrambleOperationTable[(i & 3) * 4 + ((i >> 2) & 3)];
}

// The pattern repeats every 16 bytes, so the whole transform is 16 byte-to-byte maps.
// Building them costs 4096 steps; applying them is one lookup per byte.
struct ByteMaps {
  uint8_t map[16][256];
};

void BuildUnscrambleMaps(uint32_t key, ByteMaps* maps) noexcept {
  for (uint32_t i = 0; i < 16; ++i) {
    const uint8_t k = KeyByte(key, i);
    for (unsigned b = 0; b < 256; ++b) {
      uint8_t v = static_cast<uint8_t>(b);
      switch (OperationAt(i)) {
        case Op::Add: v = static_cast<uint8_t>(v + k); break;
        case Op::Xor: v = static_cast<uint8_t>(v ^ k); break;
        case Op::Not: v = static_cast<uint8_t>(~v); break;
        case Op::RotateLeft: v = RotateLeft8(v, k); break;
      }
      maps->map[i][b] = v;
    }
  }
}

void BuildScrambleMaps(uint32_t key, ByteMaps* maps) noexcept {
  ByteMaps forward;
  BuildUnscrambleMaps(key, &forward);
  for (int i = 0; i < 16; ++i) {
    for (int b = 0; b < 256; ++b) maps->map[i][forward.map[i][b]] = static_cast<uint8_t>(b);
  }
}

// The unscramble of whole 16-byte periods, four bytes at a time. Xor and Not are one XOR
// with a mask; Add is a byte-wise addition done within the word; the four RotateLeft
// positions (2, 5, 12, 15) are looked up in a table each. About three times the speed of
// one lookup per byte, which matters beside the digest on the decoder's one pass.
class FastUnscramble {
 public:
  explicit FastUnscramble(uint32_t key) noexcept {
    BuildUnscrambleMaps(key, &maps_);
    for (int w = 0; w < 4; ++w) xor_mask_[w] = add_mask_[w] = 0;
    int rotations = 0;
    for (uint32_t p = 0; p < 16; ++p) {
      const uint32_t k = KeyByte(key, p);
      const int shift = 8 * (p & 3);
      switch (OperationAt(p)) {
        case Op::Add: add_mask_[p >> 2] |= k << shift; break;
        case Op::Xor: xor_mask_[p >> 2] |= k << shift; break;
        case Op::Not: xor_mask_[p >> 2] |= 0xFFu << shift; break;
        case Op::RotateLeft: rotate_at_[rotations++] = p; break;
      }
    }
  }

  // Positions counted from buffer[0], which must start a period.
  void Apply(uint8_t* buffer, size_t length) const noexcept {
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
      uint8_t* p = buffer + i;
      for (int w = 0; w < 4; ++w) {
        uint32_t word;
        std::memcpy(&word, p + 4 * w, 4);
        word ^= xor_mask_[w];
        word = ((word & 0x7F7F7F7F) + (add_mask_[w] & 0x7F7F7F7F)) ^ ((word ^ add_mask_[w]) & 0x80808080);
        std::memcpy(p + 4 * w, &word, 4);
      }
      for (uint32_t r : rotate_at_) p[r] = maps_.map[r][p[r]];
    }
    for (; i < length; ++i) buffer[i] = maps_.map[i & 15][buffer[i]];
  }

 private:
  ByteMaps maps_;
  uint32_t xor_mask_[4];
  uint32_t add_mask_[4];
  uint32_t rotate_at_[4];
};

uint32_t Load32(const uint8_t* p) noexcept {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void Store32(uint8_t* p, uint32_t v) noexcept {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void UnscramblePayload(uint32_t length, uint32_t key, uint8_t* buffer) noexcept {
  if (buffer == nullptr || length == 0) return;
  FastUnscramble(key).Apply(buffer, length);
}

void ScramblePayload(uint32_t length, uint32_t key, uint8_t* buffer) noexcept {
  if (buffer == nullptr || length == 0) return;
  ByteMaps maps;
  BuildScrambleMaps(key, &maps);
  for (uint32_t i = 0; i < length; ++i) buffer[i] = maps.map[i & 15][buffer[i]];
}

PackageStatus UnpackPackageBuffer(size_t length, uint8_t* buffer) noexcept {
  if (buffer == nullptr || length <= kPackageHeaderSize) return kPackageInvalidInput;
  if (Load32(buffer) != kPackageMagic) return kPackageBadHeader;
  const size_t n = length - kPackageHeaderSize;
  if (Load32(buffer + 24) != n) return kPackageBadHeader;

  // Unscramble and digest piece by piece, so that each piece is hashed while it is still in
  // the cache. The digest is that of the whole payload, as one update would give.
  const FastUnscramble fast(Load32(buffer + 4));
  Md5 md5;
  uint8_t* payload = buffer + kPackageHeaderSize;
  constexpr size_t kPiece = 16384;  // a multiple of 16: every piece starts the pattern afresh
  for (size_t done = 0; done < n; done += kPiece) {
    const size_t piece = n - done < kPiece ? n - done : kPiece;
    fast.Apply(payload + done, piece);
    md5.Update(payload + done, piece);
  }
  uint8_t digest[Md5::kDigestSize];
  md5.Final(digest);
  if (std::memcmp(digest, buffer + 8, Md5::kDigestSize) != 0) return kPackageDigestMismatch;
  return kPackageSuccess;
}

PackageStatus DecodePackageBuffer(size_t length, uint8_t* buffer, PayloadSink* sink) noexcept {
  if (sink == nullptr) return kPackageInvalidInput;
  const PackageStatus status = UnpackPackageBuffer(length, buffer);
  if (status != kPackageSuccess) return status;

  if (!sink->Create()) return kPackageWriteError;
  const uint8_t* payload = buffer + kPackageHeaderSize;
  size_t remaining = length - kPackageHeaderSize;
  while (remaining != 0) {
    const uint32_t chunk = remaining < kPackageIoChunkSize ? static_cast<uint32_t>(remaining)
                                                           : kPackageIoChunkSize;
    if (!sink->Write(payload, chunk)) return kPackageWriteError;
    payload += chunk;
    remaining -= chunk;
  }
  return kPackageSuccess;
}

bool BuildPackage(const uint8_t* payload, uint32_t length, uint32_t key, uint8_t* out) noexcept {
  if (payload == nullptr || out == nullptr || length == 0 ||
      length > kMaxPackageFileSize - kPackageHeaderSize) {
    return false;
  }
  Md5 md5;
  md5.Update(payload, length);
  Store32(out, kPackageMagic);
  Store32(out + 4, key);
  md5.Final(out + 8);
  Store32(out + 24, length);
  std::memcpy(out + kPackageHeaderSize, payload, length);
  ScramblePayload(length, key, out + kPackageHeaderSize);
  return true;
}
