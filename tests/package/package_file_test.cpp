// DecodePackageFile on real files under Wine, with the platform calls counted where the
// number and size of calls matter, or made to fail where Wine cannot fail them.
#include "package/package_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "win/trace.h"

namespace {

std::vector<std::wstring> g_traces;
void CollectTrace(const wchar_t* line) { g_traces.push_back(line); }

// Counts and optionally breaks the platform calls.
struct CallLog {
  std::vector<DWORD> reads;
  std::vector<DWORD> writes;
  int opens = 0;
  int closes = 0;
  int allocations = 0;
  int releases = 0;
  bool fail_allocation = false;
  int short_read_at = 0;   // 1-based read call that delivers one byte less
  int short_write_at = 0;  // 1-based write call that writes one byte less
};
CallLog* g_log = nullptr;

HANDLE WINAPI LoggedCreate(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE templ) {
  HANDLE h = ::CreateFileW(path, access, share, security, disposition, flags, templ);
  if (h != INVALID_HANDLE_VALUE) ++g_log->opens;
  return h;
}
BOOL WINAPI LoggedRead(HANDLE file, LPVOID buffer, DWORD ask, LPDWORD got, LPOVERLAPPED o) {
  g_log->reads.push_back(ask);
  const BOOL ok = ::ReadFile(file, buffer, ask, got, o);
  if (ok && static_cast<int>(g_log->reads.size()) == g_log->short_read_at) --*got;
  return ok;
}
BOOL WINAPI LoggedWrite(HANDLE file, LPCVOID data, DWORD length, LPDWORD written, LPOVERLAPPED o) {
  g_log->writes.push_back(length);
  const bool cut = static_cast<int>(g_log->writes.size()) == g_log->short_write_at;
  return ::WriteFile(file, data, cut ? length - 1 : length, written, o);
}
BOOL WINAPI LoggedClose(HANDLE handle) {
  ++g_log->closes;
  return ::CloseHandle(handle);
}
void* LoggedAllocate(size_t size) {
  if (g_log->fail_allocation) return nullptr;
  ++g_log->allocations;
  return PlatformPackageFileApi().allocate(size);
}
void LoggedRelease(void* memory) {
  ++g_log->releases;
  PlatformPackageFileApi().release(memory);
}

const PackageFileApi kLoggedApi = {LoggedCreate, ::GetFileSize, LoggedRead, LoggedWrite,
                                   LoggedClose,  LoggedAllocate, LoggedRelease};

std::vector<uint8_t> Payload(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> data(n);
  for (auto& b : data) {
    seed = seed * 1103515245 + 12345;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return data;
}

std::vector<uint8_t> Package(const std::vector<uint8_t>& payload, uint32_t key = 0x1234ABCD) {
  std::vector<uint8_t> package(kPackageHeaderSize + payload.size());
  EXPECT_TRUE(BuildPackage(payload.data(), static_cast<uint32_t>(payload.size()), key, package.data()));
  return package;
}

class DecodePackageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_traces.clear();
    previous_sink_ = SetTraceSinkForTesting(CollectTrace);
    g_log = &log_;
    SetPackageFileApiForTesting(&kLoggedApi);
    package_ = dir_.Path(L"Setup.dat");
    output_ = dir_.Path(L"DeSetup.dat");
  }
  void TearDown() override {
    SetPackageFileApiForTesting(nullptr);
    SetTraceSinkForTesting(previous_sink_);
    g_log = nullptr;
    // Every handle and buffer the decoder took was given back.
    EXPECT_EQ(log_.opens, log_.closes);
    EXPECT_EQ(log_.allocations, log_.releases);
  }

  PackageStatus Decode() { return DecodePackageFile(package_.c_str(), output_.c_str()); }

  test::TempDir dir_;
  std::wstring package_;
  std::wstring output_;
  CallLog log_;
  TraceSink previous_sink_ = nullptr;
};

const std::vector<std::wstring> kAllTraces = {L"zerbo 0 .1", L"zerbo 0 .2", L"zerbo 0 .3",
                                              L"zerbo 0 .4", L"zerbo 0 .6", L"zerbo 0 .7"};

TEST_F(DecodePackageFileTest, SuccessWritesThePayloadAndTracesInOrder) {
  const std::vector<uint8_t> plain = Payload(1000);
  test::WriteFileBytes(package_, Package(plain));
  EXPECT_EQ(kPackageSuccess, Decode());
  EXPECT_EQ(plain, test::ReadFileBytes(output_));
  EXPECT_EQ(kAllTraces, g_traces);
}

TEST_F(DecodePackageFileTest, MissingPackageOrPathsAreInvalidInput) {
  EXPECT_EQ(kPackageInvalidInput, Decode());
  EXPECT_EQ(std::vector<std::wstring>{L"zerbo 0 .1"}, g_traces);
  EXPECT_FALSE(test::FileExists(output_));

  g_traces.clear();
  EXPECT_EQ(kPackageInvalidInput, DecodePackageFile(nullptr, output_.c_str()));
  EXPECT_EQ(kPackageInvalidInput, DecodePackageFile(package_.c_str(), nullptr));
  EXPECT_TRUE(g_traces.empty());
}

TEST_F(DecodePackageFileTest, SizeLimits) {
  test::WriteFileBytes(package_, {});
  EXPECT_EQ(kPackageBadSize, Decode());
  EXPECT_EQ((std::vector<std::wstring>{L"zerbo 0 .1", L"zerbo 0 .2"}), g_traces);

  test::WriteFileBytes(package_, std::vector<uint8_t>(28, 0));
  EXPECT_EQ(kPackageInvalidInput, Decode());

  // Exactly 104857600 bytes passes the size check and decodes; one more byte is too large.
  std::vector<uint8_t> largest = Package(Payload(kMaxPackageFileSize - kPackageHeaderSize));
  ASSERT_EQ(kMaxPackageFileSize, largest.size());
  test::WriteFileBytes(package_, largest);
  EXPECT_EQ(kPackageSuccess, Decode());
  largest.push_back(0);
  test::WriteFileBytes(package_, largest);
  EXPECT_EQ(kPackageBadSize, Decode());
}

TEST_F(DecodePackageFileTest, DamagedPayloadLeavesAnExistingOutputUntouched) {
  std::vector<uint8_t> package = Package(Payload(5000));
  package[kPackageHeaderSize + 4321] ^= 0x10;
  test::WriteFileBytes(package_, package);
  const std::vector<uint8_t> earlier = {'o', 'l', 'd'};
  test::WriteFileBytes(output_, earlier);
  EXPECT_EQ(kPackageDigestMismatch, Decode());
  EXPECT_EQ(earlier, test::ReadFileBytes(output_));
  EXPECT_EQ(kAllTraces, g_traces);
}

TEST_F(DecodePackageFileTest, ReadsAndWritesMoveAtMost40960BytesACall) {
  // A package of exactly 40960 bytes is read in one call, 40961 in two.
  test::WriteFileBytes(package_, Package(Payload(40960 - kPackageHeaderSize)));
  EXPECT_EQ(kPackageSuccess, Decode());
  EXPECT_EQ(std::vector<DWORD>{40960}, log_.reads);

  log_.reads.clear();
  log_.writes.clear();
  test::WriteFileBytes(package_, Package(Payload(40961 - kPackageHeaderSize)));
  EXPECT_EQ(kPackageSuccess, Decode());
  EXPECT_EQ((std::vector<DWORD>{40960, 1}), log_.reads);

  // A payload of twice 40960 bytes is written in two calls.
  log_.writes.clear();
  const std::vector<uint8_t> plain = Payload(2 * 40960);
  test::WriteFileBytes(package_, Package(plain));
  EXPECT_EQ(kPackageSuccess, Decode());
  EXPECT_EQ((std::vector<DWORD>{40960, 40960}), log_.writes);
  EXPECT_EQ(plain, test::ReadFileBytes(output_));
}

TEST_F(DecodePackageFileTest, ALongerExistingOutputIsTruncated) {
  test::WriteFileBytes(output_, Payload(100000, 7));
  const std::vector<uint8_t> plain = Payload(10);
  test::WriteFileBytes(package_, Package(plain));
  EXPECT_EQ(kPackageSuccess, Decode());
  EXPECT_EQ(plain, test::ReadFileBytes(output_));
}

TEST_F(DecodePackageFileTest, NoBufferIsNoMemory) {
  test::WriteFileBytes(package_, Package(Payload(100)));
  log_.fail_allocation = true;
  EXPECT_EQ(kPackageNoMemory, Decode());
  EXPECT_EQ((std::vector<std::wstring>{L"zerbo 0 .1", L"zerbo 0 .2", L"zerbo 0 .3"}), g_traces);
}

TEST_F(DecodePackageFileTest, AShortReadIsAReadError) {
  test::WriteFileBytes(package_, Package(Payload(90000)));
  log_.short_read_at = 2;
  EXPECT_EQ(kPackageReadError, Decode());
  EXPECT_EQ(2u, log_.reads.size());
  EXPECT_FALSE(test::FileExists(output_));
}

TEST_F(DecodePackageFileTest, OutputFailuresAreWriteErrorsAndAPartialOutputStays) {
  const std::vector<uint8_t> plain = Payload(100000);
  test::WriteFileBytes(package_, Package(plain));
  log_.short_write_at = 2;
  EXPECT_EQ(kPackageWriteError, Decode());
  EXPECT_EQ(2u, log_.writes.size());
  EXPECT_EQ(40960u + 40959u, test::ReadFileBytes(output_).size());

  // An output in a directory that does not exist cannot be created.
  output_ = dir_.Path(L"missing\\DeSetup.dat");
  EXPECT_EQ(kPackageWriteError, Decode());
}

TEST_F(DecodePackageFileTest, InMemoryEntryChecksItsArguments) {
  std::vector<uint8_t> package = Package(Payload(10));
  EXPECT_EQ(kPackageInvalidInput, DecodePackageBuffer(package.size(), package.data(), static_cast<const wchar_t*>(nullptr)));
  EXPECT_EQ(kPackageInvalidInput, DecodePackageBuffer(package.size(), nullptr, output_.c_str()));
  EXPECT_EQ(kPackageSuccess, DecodePackageBuffer(package.size(), package.data(), output_.c_str()));
}

}  // namespace
