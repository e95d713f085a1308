#include "package/package_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(n);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  return data;
}

std::vector<uint8_t> MakePackage(const std::vector<uint8_t>& payload, uint32_t key) {
  std::vector<uint8_t> package(kPackageHeaderSize + payload.size());
  EXPECT_TRUE(BuildPackage(payload.data(), static_cast<uint32_t>(payload.size()), key, package.data()));
  return package;
}

// Collects what the decoder writes, and can refuse to be created or cut a write short.
class MemorySink : public PayloadSink {
 public:
  bool Create() noexcept override {
    ++creates;
    return create_ok;
  }
  bool Write(const uint8_t* data, uint32_t length) noexcept override {
    writes.push_back(length);
    if (short_write_at == writes.size()) return false;
    bytes.insert(bytes.end(), data, data + length);
    return true;
  }

  bool create_ok = true;
  size_t short_write_at = 0;  // 1-based; 0 never
  int creates = 0;
  std::vector<uint32_t> writes;
  std::vector<uint8_t> bytes;
};

PackageStatus Decode(std::vector<uint8_t> package, MemorySink* sink) {
  return DecodePackageBuffer(package.size(), package.data(), sink);
}

// The transform written straight from its definition, byte by byte, as the reference.
uint8_t ReferenceUnscramble(uint8_t b, uint32_t i, uint32_t key) {
  const uint8_t k = static_cast<uint8_t>(key >> (8 * (i % 4)));
  switch (ScrambleOperationTable[(i % 4) * 4 + (i / 4) % 4]) {
    case ScrambleOperation::Add: return static_cast<uint8_t>(b + k);
    case ScrambleOperation::Xor: return static_cast<uint8_t>(b ^ k);
    case ScrambleOperation::Not: return static_cast<uint8_t>(~b);
    case ScrambleOperation::RotateLeft: {
      const unsigned n = k % 8;
      return n == 0 ? b : static_cast<uint8_t>((b << n) | (b >> (8 - n)));
    }
  }
  return b;
}

// ---- The scramble -----------------------------------------------------------------------

TEST(Scramble, OperationsAlongThePayloadRepeatEvery16Bytes) {
  using Op = ScrambleOperation;
  const Op expected[16] = {Op::Add, Op::Xor, Op::RotateLeft, Op::Not, Op::Xor, Op::RotateLeft,
                           Op::Not, Op::Add, Op::Not, Op::Not, Op::Add, Op::Xor,
                           Op::RotateLeft, Op::Add, Op::Xor, Op::RotateLeft};
  for (uint32_t i = 0; i < 64; ++i) {
    EXPECT_EQ(expected[i % 16], ScrambleOperationTable[(i % 4) * 4 + (i / 4) % 4]) << i;
  }
}

TEST(Scramble, ZeroKeyComplementsExactlyPositions3689OfEvery16) {
  std::vector<uint8_t> data(64, 0x5A);
  UnscramblePayload(static_cast<uint32_t>(data.size()), 0, data.data());
  for (size_t i = 0; i < data.size(); ++i) {
    const size_t p = i % 16;
    const bool complemented = p == 3 || p == 6 || p == 8 || p == 9;
    EXPECT_EQ(complemented ? 0xA5 : 0x5A, data[i]) << "position " << i;
  }
}

TEST(Scramble, RotateUsesTheKeyByteModulo8) {
  // Position 2 rotates by k2; position 5 by k1.
  struct Case {
    uint8_t k;
    uint8_t expected;
  };
  for (const Case& c : {Case{8, 0x81}, Case{16, 0x81}, Case{9, 0x03}, Case{3, 0x0C}}) {
    uint8_t data[3] = {0, 0, 0x81};
    UnscramblePayload(3, static_cast<uint32_t>(c.k) << 16, data);
    EXPECT_EQ(c.expected, data[2]) << "k2 = " << int(c.k);
  }
  uint8_t data[6] = {0, 0, 0, 0, 0, 0x81};
  UnscramblePayload(6, 9u << 8, data);
  EXPECT_EQ(0x03, data[5]);
}

TEST(Scramble, MatchesTheByteByByteDefinitionAndScrambleIsItsInverse) {
  for (uint32_t key : {0x00000000u, 0xFFFFFFFFu, 0x04030201u, 0x9A7F0810u, 0xDEADBEEFu}) {
    for (size_t n : {1u, 15u, 16u, 17u, 100u, 4099u}) {
      const std::vector<uint8_t> plain = RandomBytes(n, key ^ static_cast<uint32_t>(n));
      std::vector<uint8_t> data = plain;
      UnscramblePayload(static_cast<uint32_t>(n), key, data.data());
      for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(ReferenceUnscramble(plain[i], i, key), data[i]) << "key " << key << " at " << i;
      }
      ScramblePayload(static_cast<uint32_t>(n), key, data.data());
      EXPECT_EQ(plain, data);
    }
  }
  UnscramblePayload(10, 1, nullptr);  // nothing happens
}

// ---- The container ----------------------------------------------------------------------

TEST(Container, SizesAroundTheHeader) {
  MemorySink sink;
  EXPECT_EQ(kPackageInvalidInput, Decode(std::vector<uint8_t>(28, 0), &sink));
  EXPECT_EQ(kPackageInvalidInput, Decode({}, &sink));
  EXPECT_EQ(kPackageInvalidInput, DecodePackageBuffer(40, nullptr, &sink));
  std::vector<uint8_t> valid = MakePackage({1, 2, 3}, 5);
  EXPECT_EQ(kPackageInvalidInput, DecodePackageBuffer(valid.size(), valid.data(), nullptr));
  EXPECT_EQ(0, sink.creates);

  // 29 bytes: a header and one payload byte.
  const std::vector<uint8_t> one = MakePackage({0x42}, 0x11223344);
  ASSERT_EQ(29u, one.size());
  EXPECT_EQ(kPackageSuccess, Decode(one, &sink));
  EXPECT_EQ(std::vector<uint8_t>{0x42}, sink.bytes);
}

TEST(Container, HeaderFaultsAreBadHeaderNotDigestMismatch) {
  const std::vector<uint8_t> good = MakePackage(RandomBytes(100, 3), 0x01020304);
  struct Case {
    const char* what;
    size_t offset;
    int delta;
  };
  for (const Case& c : {Case{"length one less", 24, -1}, Case{"length one more", 24, +1},
                        Case{"magic H", 0, +1}, Case{"magic C", 1, +1}, Case{"magic S", 2, +1},
                        Case{"magic I", 3, +1}, Case{"length high byte", 27, +1}}) {
    std::vector<uint8_t> bad = good;
    bad[c.offset] = static_cast<uint8_t>(bad[c.offset] + c.delta);
    MemorySink sink;
    EXPECT_EQ(kPackageBadHeader, Decode(bad, &sink)) << c.what;
    EXPECT_EQ(0, sink.creates) << c.what;
  }
  // A package cut short or grown by one byte.
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  std::vector<uint8_t> grown = good;
  grown.push_back(0);
  MemorySink sink;
  EXPECT_EQ(kPackageBadHeader, Decode(cut, &sink));
  EXPECT_EQ(kPackageBadHeader, Decode(grown, &sink));
}

TEST(Container, AnyDamageInsidePayloadOrDigestIsCaughtBeforeOutputIsCreated) {
  const std::vector<uint8_t> good = MakePackage(RandomBytes(200, 4), 0xCAFEF00D);
  for (size_t offset : {size_t{4}, size_t{8}, size_t{23}, size_t{28}, size_t{100}, good.size() - 1}) {
    for (uint8_t flip : {0x01, 0x80}) {
      std::vector<uint8_t> bad = good;
      bad[offset] ^= flip;
      MemorySink sink;
      EXPECT_EQ(kPackageDigestMismatch, Decode(bad, &sink)) << "offset " << offset;
      EXPECT_EQ(0, sink.creates);
    }
  }
}

TEST(Container, PayloadIsWrittenIn40960ByteCalls) {
  struct Case {
    size_t payload;
    std::vector<uint32_t> writes;
  };
  for (const Case& c : {Case{40960, {40960}}, Case{40961, {40960, 1}},
                        Case{81920, {40960, 40960}}, Case{5, {5}}}) {
    const std::vector<uint8_t> plain = RandomBytes(c.payload, 9);
    MemorySink sink;
    ASSERT_EQ(kPackageSuccess, Decode(MakePackage(plain, 0x55AA55AA), &sink));
    EXPECT_EQ(c.writes, sink.writes);
    EXPECT_EQ(plain, sink.bytes);
    EXPECT_EQ(1, sink.creates);
  }
}

TEST(Container, OutputFailuresAreWriteErrors) {
  const std::vector<uint8_t> package = MakePackage(RandomBytes(90000, 5), 7);
  MemorySink refuses;
  refuses.create_ok = false;
  EXPECT_EQ(kPackageWriteError, Decode(package, &refuses));
  EXPECT_TRUE(refuses.writes.empty());

  MemorySink second_write_fails;
  second_write_fails.short_write_at = 2;
  EXPECT_EQ(kPackageWriteError, Decode(package, &second_write_fails));
  EXPECT_EQ(2u, second_write_fails.writes.size());  // no write after the failed one
}

TEST(Container, RoundTripsForRandomKeysAndSizes) {
  std::mt19937 random(2024);
  for (int round = 0; round < 40; ++round) {
    const uint32_t key = random();
    const size_t n = 1 + random() % (round < 30 ? 300 : 200000);
    const std::vector<uint8_t> plain = RandomBytes(n, random());
    MemorySink sink;
    ASSERT_EQ(kPackageSuccess, Decode(MakePackage(plain, key), &sink)) << "key " << key << " n " << n;
    ASSERT_EQ(plain, sink.bytes);
  }
}

TEST(Container, BuildRefusesWhatCannotBeAPackage) {
  uint8_t out[64];
  const uint8_t byte = 1;
  EXPECT_FALSE(BuildPackage(&byte, 0, 0, out));
  EXPECT_FALSE(BuildPackage(nullptr, 1, 0, out));
  EXPECT_FALSE(BuildPackage(&byte, kMaxPackageFileSize - kPackageHeaderSize + 1, 0, out));
}

}  // namespace
