#include "package/package_file.h"

#include "win/trace.h"
#include "win/unique_handle.h"

namespace {

const PackageFileApi kPlatformApi = {
    ::CreateFileW, ::GetFileSize,           ::ReadFile,           ::WriteFile,
    ::CloseHandle, win::AllocateFromProcessHeap, win::FreeProcessHeap,
};

const PackageFileApi* g_api = &kPlatformApi;

// A file handle and a buffer, released through the decoder's API on every way out.
struct ApiFileTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type handle) noexcept { g_api->close_handle(handle); }
};
struct ApiBufferTraits {
  using Type = void*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type memory) noexcept { g_api->release(memory); }
};
using ApiFile = win::UniqueHandle<ApiFileTraits>;
using ApiBuffer = win::UniqueHandle<ApiBufferTraits>;

// The output file: created with CREATE_ALWAYS only once the payload is known to be good.
class OutputFileSink : public PayloadSink {
 public:
  explicit OutputFileSink(const wchar_t* path) : path_(path) {}

  bool Create() noexcept override {
    file_.reset(g_api->create_file(path_, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_.valid();
  }

  bool Write(const uint8_t* data, uint32_t length) noexcept override {
    DWORD written = 0;
    return g_api->write_file(file_.get(), data, length, &written, nullptr) && written == length;
  }

 private:
  const wchar_t* path_;
  ApiFile file_;
};

}  // namespace

const PackageFileApi& PlatformPackageFileApi() { return kPlatformApi; }

void SetPackageFileApiForTesting(const PackageFileApi* api) { g_api = api ? api : &kPlatformApi; }

PackageStatus DecodePackageBuffer(size_t length, uint8_t* buffer, const wchar_t* output_path) {
  if (output_path == nullptr) return kPackageInvalidInput;
  OutputFileSink sink(output_path);
  return DecodePackageBuffer(length, buffer, &sink);
}

PackageStatus DecodePackageFile(const wchar_t* package_path, const wchar_t* output_path) {
  if (package_path == nullptr || output_path == nullptr) return kPackageInvalidInput;
  DebugTrace(L"zerbo 0 .1");

  ApiFile package(g_api->create_file(package_path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!package.valid()) return kPackageInvalidInput;
  DebugTrace(L"zerbo 0 .2");

  DWORD high = 0;
  const DWORD size = g_api->get_file_size(package.get(), &high);
  // INVALID_FILE_SIZE with an error is a failed call; a real size of 0xFFFFFFFF is too large
  // anyway, so both end here.
  if (high != 0 || size == 0 || size > kMaxPackageFileSize) return kPackageBadSize;
  DebugTrace(L"zerbo 0 .3");

  // 100 bytes beyond the file, never used.
  ApiBuffer buffer_block(g_api->allocate(static_cast<size_t>(size) + 100));
  if (!buffer_block) return kPackageNoMemory;
  auto* buffer = static_cast<uint8_t*>(buffer_block.get());
  DebugTrace(L"zerbo 0 .4");

  for (DWORD done = 0; done < size;) {
    const DWORD ask = size - done < kPackageIoChunkSize ? size - done : kPackageIoChunkSize;
    DWORD got = 0;
    if (!g_api->read_file(package.get(), buffer + done, ask, &got, nullptr) || got != ask) {
      return kPackageReadError;
    }
    done += got;
  }
  DebugTrace(L"zerbo 0 .6");
  package.reset();

  const PackageStatus result = DecodePackageBuffer(size, buffer, output_path);
  DebugTrace(L"zerbo 0 .7");
  return result;
}
