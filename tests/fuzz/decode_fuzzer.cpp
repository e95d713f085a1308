// libFuzzer target: any bytes as a package, decoded into memory.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "package/package_codec.h"

namespace {

class CountingSink : public PayloadSink {
 public:
  bool Create() noexcept override { return true; }
  bool Write(const uint8_t* data, uint32_t length) noexcept override {
    if (length == 0 || length > kPackageIoChunkSize) __builtin_trap();
    checksum += data[0] + data[length - 1];
    total += length;
    return true;
  }
  size_t total = 0;
  unsigned checksum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The decoder works in place, on a buffer of its own.
  std::vector<uint8_t> buffer(data, data + size);
  CountingSink sink;
  const PackageStatus status = DecodePackageBuffer(buffer.size(), buffer.data(), &sink);
  if (status == kPackageSuccess && sink.total != size - kPackageHeaderSize) __builtin_trap();
  if (status != kPackageSuccess && sink.total != 0) __builtin_trap();
  return 0;
}
