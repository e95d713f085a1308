// The MD5 message digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

class Md5 {
 public:
  static constexpr size_t kDigestSize = 16;

  Md5() noexcept { Reset(); }
  void Reset() noexcept;
  // Adds `length` bytes; may be called any number of times.
  void Update(const uint8_t* data, size_t length) noexcept;
  // Writes the 16 digest bytes in their standard order. The object must be Reset before reuse.
  void Final(uint8_t digest[kDigestSize]) noexcept;

 private:
  void ProcessBlocks(const uint8_t* data, size_t blocks) noexcept;

  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes so far
  uint8_t pending_[64];
  size_t pending_size_ = 0;
};
