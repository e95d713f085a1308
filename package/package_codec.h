// The installer package container: a 28-byte header, then the setup program scrambled byte
// by byte with the header's 4-byte key, protected by an MD5 digest of the plain bytes.
//
//   offset 0   "HCSI"
//   offset 4   key k0 k1 k2 k3
//   offset 8   MD5 of the plain payload (16 bytes)
//   offset 24  payload length, unsigned 32-bit little-endian = file size - 28
//   offset 28  the scrambled payload
//
// Plain C++: this file and its implementation use no platform headers.
#pragma once

#include <cstddef>
#include <cstdint>

enum PackageStatus : int32_t {
  kPackageSuccess = 0,
  kPackageInvalidInput = -1,  // a path missing, the package not openable, or 28 bytes or fewer
  kPackageBadHeader = 1,      // not "HCSI", or the payload length is not the file size - 28
  kPackageBadSize = 2,        // empty, 4 GiB or larger, or larger than kMaxPackageFileSize
  kPackageNoMemory = 3,       // no buffer for the whole file
  kPackageReadError = 4,      // a read failed or came short
  kPackageWriteError = 5,     // the output cannot be created, or a write failed or came short
  kPackageDigestMismatch = 6, // the unscrambled payload does not match the digest
};

constexpr uint32_t kPackageMagic = 0x49534348;  // "HCSI" read as a little-endian word
constexpr size_t kPackageHeaderSize = 28;
constexpr uint32_t kPackageIoChunkSize = 40960;      // the most one read or write call moves
constexpr uint32_t kMaxPackageFileSize = 104857600;  // 100 MiB, header included

enum class ScrambleOperation : uint8_t { Add = 0, Xor = 1, Not = 2, RotateLeft = 3 };

// Entry (i mod 4) * 4 + ((i div 4) mod 4) is the operation for payload position i.
extern const ScrambleOperation ScrambleOperationTable[16];

// Undoes the scramble of `length` bytes at `buffer` in place. `key` is the word at header
// offset 4, so k0 is its low byte. Nothing happens for a null buffer or a zero length.
void UnscramblePayload(uint32_t length, uint32_t key, uint8_t* buffer) noexcept;
// The inverse, for whoever builds packages.
void ScramblePayload(uint32_t length, uint32_t key, uint8_t* buffer) noexcept;

// Where a decoded payload goes. Create is called once, only after the digest matched;
// then Write in calls of at most kPackageIoChunkSize bytes, front to back.
class PayloadSink {
 public:
  virtual ~PayloadSink() = default;
  [[nodiscard]] virtual bool Create() noexcept = 0;
  // True only when all `length` bytes were written.
  [[nodiscard]] virtual bool Write(const uint8_t* data, uint32_t length) noexcept = 0;
};

// Checks the header, unscrambles the payload in place and verifies its digest. On success
// the payload is the `length` - 28 bytes at `buffer` + 28.
[[nodiscard]] PackageStatus UnpackPackageBuffer(size_t length, uint8_t* buffer) noexcept;

// UnpackPackageBuffer, then the payload to `sink` (a null sink is invalid input).
[[nodiscard]] PackageStatus DecodePackageBuffer(size_t length, uint8_t* buffer,
                                                PayloadSink* sink) noexcept;

// Writes a whole package of `payload` into `out`, which holds kPackageHeaderSize +
// `length` bytes. `length` must be at least 1 and the package at most kMaxPackageFileSize.
[[nodiscard]] bool BuildPackage(const uint8_t* payload, uint32_t length, uint32_t key,
                                uint8_t* out) noexcept;
