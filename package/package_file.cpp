#include "package/package_file.h"

#include "package/trace.h"

namespace {

void* HeapAllocate(size_t size) { return ::HeapAlloc(::GetProcessHeap(), 0, size); }
void HeapRelease(void* memory) { ::HeapFree(::GetProcessHeap(), 0, memory); }

const PackageFileApi kPlatformApi = {
    ::CreateFileW, ::GetFileSize, ::ReadFile, ::WriteFile, ::CloseHandle, HeapAllocate, HeapRelease,
};

const PackageFileApi* g_api = &kPlatformApi;

// A file handle closed through the decoder's API on every way out.
class ApiFile {
 public:
  explicit ApiFile(HANDLE handle) : handle_(handle) {}
  ApiFile(const ApiFile&) = delete;
  ApiFile& operator=(const ApiFile&) = delete;
  ~ApiFile() { Close(); }
  [[nodiscard]] bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  [[nodiscard]] HANDLE get() const { return handle_; }
  void Close() {
    if (valid()) g_api->close_handle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

class ApiBuffer {
 public:
  explicit ApiBuffer(size_t size) : data_(static_cast<uint8_t*>(g_api->allocate(size))) {}
  ApiBuffer(const ApiBuffer&) = delete;
  ApiBuffer& operator=(const ApiBuffer&) = delete;
  ~ApiBuffer() {
    if (data_ != nullptr) g_api->release(data_);
  }
  [[nodiscard]] uint8_t* get() const { return data_; }

 private:
  uint8_t* data_;
};

// The output file: created with CREATE_ALWAYS only once the payload is known to be good.
class OutputFileSink : public PayloadSink {
 public:
  explicit OutputFileSink(const wchar_t* path) : path_(path) {}

  bool Create() noexcept override {
    file_ = g_api->create_file(path_, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }

  bool Write(const uint8_t* data, uint32_t length) noexcept override {
    DWORD written = 0;
    return g_api->write_file(file_, data, length, &written, nullptr) && written == length;
  }

  ~OutputFileSink() override {
    if (file_ != INVALID_HANDLE_VALUE) g_api->close_handle(file_);
  }

 private:
  const wchar_t* path_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
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
  ApiBuffer buffer(static_cast<size_t>(size) + 100);
  if (buffer.get() == nullptr) return kPackageNoMemory;
  DebugTrace(L"zerbo 0 .4");

  for (DWORD done = 0; done < size;) {
    const DWORD ask = size - done < kPackageIoChunkSize ? size - done : kPackageIoChunkSize;
    DWORD got = 0;
    if (!g_api->read_file(package.get(), buffer.get() + done, ask, &got, nullptr) || got != ask) {
      return kPackageReadError;
    }
    done += got;
  }
  DebugTrace(L"zerbo 0 .6");
  package.Close();

  const PackageStatus result = DecodePackageBuffer(size, buffer.get(), output_path);
  DebugTrace(L"zerbo 0 .7");
  return result;
}
