#include "package/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string Digest(const std::vector<uint8_t>& data) {
  Md5 md5;
  md5.Update(data.data(), data.size());
  uint8_t digest[Md5::kDigestSize];
  md5.Final(digest);
  return Hex(digest, sizeof(digest));
}

std::string Digest(const std::string& text) {
  return Digest(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data(n);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  return data;
}

TEST(Md5Test, Rfc1321TestSuite) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Digest(""));
  EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Digest("a"));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Digest("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Digest("message digest"));
  EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Digest("abcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
            Digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
  EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
            Digest("1234567890123456789012345678901234567890"
                   "1234567890123456789012345678901234567890"));
}

TEST(Md5Test, AnySplitIntoUpdatesGivesTheOneShotDigest) {
  const std::vector<uint8_t> data = RandomBytes(300, 7);
  const std::string whole = Digest(data);
  for (size_t first : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 200u, 300u}) {
    for (size_t second : {0u, 1u, 9u, 64u, 100u}) {
      if (first + second > data.size()) continue;
      Md5 md5;
      md5.Update(data.data(), first);
      md5.Update(data.data() + first, second);
      md5.Update(data.data() + first + second, data.size() - first - second);
      uint8_t digest[Md5::kDigestSize];
      md5.Final(digest);
      EXPECT_EQ(whole, Hex(digest, sizeof(digest))) << first << "+" << second;
    }
  }
}

#ifndef _WIN32
// The system's md5sum as the reference, on lengths around the 64-byte block and the 56-byte
// padding boundaries, and a few large ones.
std::string SystemMd5(const std::vector<uint8_t>& data) {
  char path[] = "/tmp/zuno-md5-XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  std::FILE* file = fdopen(fd, "wb");
  std::fwrite(data.data(), 1, data.size(), file);
  std::fclose(file);
  const std::string command = std::string("md5sum ") + path;
  std::FILE* pipe = popen(command.c_str(), "r");
  char line[128] = {};
  const bool got = std::fgets(line, sizeof(line), pipe) != nullptr;
  pclose(pipe);
  std::remove(path);
  return got ? std::string(line, 32) : std::string();
}

TEST(Md5Test, AgreesWithMd5sumAroundBlockBoundaries) {
  std::vector<size_t> lengths;
  for (size_t base : {0u, 64u, 128u, 4096u, 65536u}) {
    for (int delta = -9; delta <= 9; ++delta) {
      if (static_cast<int>(base) + delta >= 0) lengths.push_back(base + delta);
    }
  }
  for (size_t n : {55u, 56u, 57u, 119u, 120u, 121u, 1000003u}) lengths.push_back(n);
  uint32_t seed = 1;
  for (size_t n : lengths) {
    const std::vector<uint8_t> data = RandomBytes(n, seed++);
    EXPECT_EQ(SystemMd5(data), Digest(data)) << "length " << n;
  }
}
#endif

}  // namespace
