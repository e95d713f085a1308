#include "package/md5.h"

#include <cstring>

namespace {

inline uint32_t Load32(const uint8_t* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, 4);  // both targets are little-endian
  return v;
}

inline uint32_t Rotl(uint32_t x, int n) noexcept { return (x << n) | (x >> (32 - n)); }

// The four round functions, in the forms that need the fewest operations: F and G as
// selections, G by addition of disjoint terms, I through the complement of d.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);           \
  a = Rotl(a, s) + b

}  // namespace

void Md5::Reset() noexcept {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  length_ = 0;
  pending_size_ = 0;
}

void Md5::ProcessBlocks(const uint8_t* data, size_t blocks) noexcept {
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (; blocks != 0; --blocks, data += 64) {
    const uint32_t x0 = Load32(data + 0), x1 = Load32(data + 4), x2 = Load32(data + 8),
                   x3 = Load32(data + 12), x4 = Load32(data + 16), x5 = Load32(data + 20),
                   x6 = Load32(data + 24), x7 = Load32(data + 28), x8 = Load32(data + 32),
                   x9 = Load32(data + 36), x10 = Load32(data + 40), x11 = Load32(data + 44),
                   x12 = Load32(data + 48), x13 = Load32(data + 52), x14 = Load32(data + 56),
                   x15 = Load32(data + 60);
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    MD5_STEP(MD5_F, a, b, c, d, x0, 0xd76aa478, 7);
    MD5_STEP(MD5_F, d, a, b, c, x1, 0xe8c7b756, 12);
    MD5_STEP(MD5_F, c, d, a, b, x2, 0x242070db, 17);
    MD5_STEP(MD5_F, b, c, d, a, x3, 0xc1bdceee, 22);
    MD5_STEP(MD5_F, a, b, c, d, x4, 0xf57c0faf, 7);
    MD5_STEP(MD5_F, d, a, b, c, x5, 0x4787c62a, 12);
    MD5_STEP(MD5_F, c, d, a, b, x6, 0xa8304613, 17);
    MD5_STEP(MD5_F, b, c, d, a, x7, 0xfd469501, 22);
    MD5_STEP(MD5_F, a, b, c, d, x8, 0x698098d8, 7);
    MD5_STEP(MD5_F, d, a, b, c, x9, 0x8b44f7af, 12);
    MD5_STEP(MD5_F, c, d, a, b, x10, 0xffff5bb1, 17);
    MD5_STEP(MD5_F, b, c, d, a, x11, 0x895cd7be, 22);
    MD5_STEP(MD5_F, a, b, c, d, x12, 0x6b901122, 7);
    MD5_STEP(MD5_F, d, a, b, c, x13, 0xfd987193, 12);
    MD5_STEP(MD5_F, c, d, a, b, x14, 0xa679438e, 17);
    MD5_STEP(MD5_F, b, c, d, a, x15, 0x49b40821, 22);

    MD5_STEP(MD5_G, a, b, c, d, x1, 0xf61e2562, 5);
    MD5_STEP(MD5_G, d, a, b, c, x6, 0xc040b340, 9);
    MD5_STEP(MD5_G, c, d, a, b, x11, 0x265e5a51, 14);
    MD5_STEP(MD5_G, b, c, d, a, x0, 0xe9b6c7aa, 20);
    MD5_STEP(MD5_G, a, b, c, d, x5, 0xd62f105d, 5);
    MD5_STEP(MD5_G, d, a, b, c, x10, 0x02441453, 9);
    MD5_STEP(MD5_G, c, d, a, b, x15, 0xd8a1e681, 14);
    MD5_STEP(MD5_G, b, c, d, a, x4, 0xe7d3fbc8, 20);
    MD5_STEP(MD5_G, a, b, c, d, x9, 0x21e1cde6, 5);
    MD5_STEP(MD5_G, d, a, b, c, x14, 0xc33707d6, 9);
    MD5_STEP(MD5_G, c, d, a, b, x3, 0xf4d50d87, 14);
    MD5_STEP(MD5_G, b, c, d, a, x8, 0x455a14ed, 20);
    MD5_STEP(MD5_G, a, b, c, d, x13, 0xa9e3e905, 5);
    MD5_STEP(MD5_G, d, a, b, c, x2, 0xfcefa3f8, 9);
    MD5_STEP(MD5_G, c, d, a, b, x7, 0x676f02d9, 14);
    MD5_STEP(MD5_G, b, c, d, a, x12, 0x8d2a4c8a, 20);

    MD5_STEP(MD5_H, a, b, c, d, x5, 0xfffa3942, 4);
    MD5_STEP(MD5_H, d, a, b, c, x8, 0x8771f681, 11);
    MD5_STEP(MD5_H, c, d, a, b, x11, 0x6d9d6122, 16);
    MD5_STEP(MD5_H, b, c, d, a, x14, 0xfde5380c, 23);
    MD5_STEP(MD5_H, a, b, c, d, x1, 0xa4beea44, 4);
    MD5_STEP(MD5_H, d, a, b, c, x4, 0x4bdecfa9, 11);
    MD5_STEP(MD5_H, c, d, a, b, x7, 0xf6bb4b60, 16);
    MD5_STEP(MD5_H, b, c, d, a, x10, 0xbebfbc70, 23);
    MD5_STEP(MD5_H, a, b, c, d, x13, 0x289b7ec6, 4);
    MD5_STEP(MD5_H, d, a, b, c, x0, 0xeaa127fa, 11);
    MD5_STEP(MD5_H, c, d, a, b, x3, 0xd4ef3085, 16);
    MD5_STEP(MD5_H, b, c, d, a, x6, 0x04881d05, 23);
    MD5_STEP(MD5_H, a, b, c, d, x9, 0xd9d4d039, 4);
    MD5_STEP(MD5_H, d, a, b, c, x12, 0xe6db99e5, 11);
    MD5_STEP(MD5_H, c, d, a, b, x15, 0x1fa27cf8, 16);
    MD5_STEP(MD5_H, b, c, d, a, x2, 0xc4ac5665, 23);

    MD5_STEP(MD5_I, a, b, c, d, x0, 0xf4292244, 6);
    MD5_STEP(MD5_I, d, a, b, c, x7, 0x432aff97, 10);
    MD5_STEP(MD5_I, c, d, a, b, x14, 0xab9423a7, 15);
    MD5_STEP(MD5_I, b, c, d, a, x5, 0xfc93a039, 21);
    MD5_STEP(MD5_I, a, b, c, d, x12, 0x655b59c3, 6);
    MD5_STEP(MD5_I, d, a, b, c, x3, 0x8f0ccc92, 10);
    MD5_STEP(MD5_I, c, d, a, b, x10, 0xffeff47d, 15);
    MD5_STEP(MD5_I, b, c, d, a, x1, 0x85845dd1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x8, 0x6fa87e4f, 6);
    MD5_STEP(MD5_I, d, a, b, c, x15, 0xfe2ce6e0, 10);
    MD5_STEP(MD5_I, c, d, a, b, x6, 0xa3014314, 15);
    MD5_STEP(MD5_I, b, c, d, a, x13, 0x4e0811a1, 21);
    MD5_STEP(MD5_I, a, b, c, d, x4, 0xf7537e82, 6);
    MD5_STEP(MD5_I, d, a, b, c, x11, 0xbd3af235, 10);
    MD5_STEP(MD5_I, c, d, a, b, x2, 0x2ad7d2bb, 15);
    MD5_STEP(MD5_I, b, c, d, a, x9, 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state_[0] = a;
  state_[1] = b;
  state_[2] = c;
  state_[3] = d;
}

void Md5::Update(const uint8_t* data, size_t length) noexcept {
  length_ += length;
  if (pending_size_ != 0) {
    const size_t take = length < 64 - pending_size_ ? length : 64 - pending_size_;
    std::memcpy(pending_ + pending_size_, data, take);
    pending_size_ += take;
    data += take;
    length -= take;
    if (pending_size_ < 64) return;
    ProcessBlocks(pending_, 1);
    pending_size_ = 0;
  }
  // Whole blocks straight from the caller's memory: no copy on the long path.
  const size_t blocks = length / 64;
  ProcessBlocks(data, blocks);
  data += blocks * 64;
  length -= blocks * 64;
  if (length != 0) {
    std::memcpy(pending_, data, length);
    pending_size_ = length;
  }
}

void Md5::Final(uint8_t digest[kDigestSize]) noexcept {
  const uint64_t bits = length_ * 8;
  uint8_t tail[72] = {0x80};
  const size_t pad = (pending_size_ < 56 ? 56 : 120) - pending_size_;
  for (int i = 0; i < 8; ++i) tail[pad + i] = static_cast<uint8_t>(bits >> (8 * i));
  Update(tail, pad + 8);
  for (int i = 0; i < 4; ++i) std::memcpy(digest + 4 * i, &state_[i], 4);
}
