// zuno-pack: builds installer packages and decodes them, for the release pipeline and tests.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "package/package_codec.h"

namespace {

constexpr char kUsage[] =
    "usage: zuno-pack build SETUP PACKAGE [--key HEX8]\n"
    "       zuno-pack decode PACKAGE OUTPUT\n"
    "       zuno-pack --help\n"
    "\n"
    "build   wraps the program SETUP into the package PACKAGE, scrambled with the given\n"
    "        4-byte key (8 hex digits, k0 first in the file as the low byte) or a random one.\n"
    "decode  checks PACKAGE and writes the program it carries to OUTPUT.\n"
    "\n"
    "PACKAGE and OUTPUT appear under their names only when complete.\n"
    "\n"
    "exit status:\n"
    "  0   done\n"
    "  1   bad header (not a package, or its length field does not match the file)\n"
    "  2   bad size (empty, or larger than 104857600 bytes)\n"
    "  3   not enough memory\n"
    "  4   read error\n"
    "  5   write error (the output cannot be created or written, e.g. a full disk)\n"
    "  6   digest mismatch (the package is damaged)\n"
    "  7   invalid input (a file missing or unreadable, or a package of 28 bytes or fewer)\n"
    "  64  wrong usage\n";

enum ExitCode {
  kExitOk = 0,
  kExitInvalidInput = 7,
  kExitUsage = 64,
};

int ExitCodeFor(PackageStatus status) {
  return status == kPackageInvalidInput ? kExitInvalidInput : static_cast<int>(status);
}

const char* Describe(PackageStatus status) {
  switch (status) {
    case kPackageSuccess: return "decoded";
    case kPackageInvalidInput: return "not a package: 28 bytes or fewer";
    case kPackageBadHeader: return "bad header: not a package, or its length field does not match the file size";
    case kPackageBadSize: return "bad size: the file is empty or larger than 104857600 bytes";
    case kPackageNoMemory: return "not enough memory for the package";
    case kPackageReadError: return "read error";
    case kPackageWriteError: return "write error";
    case kPackageDigestMismatch: return "digest mismatch: the package is damaged";
  }
  return "unknown failure";
}

void Fail(const char* what, const std::string& path, int error) {
  std::fprintf(stderr, "zuno-pack: %s %s: %s\n", what, path.c_str(), std::strerror(error));
}

// Reads a whole file. Answers the status the decoder would give, with errno kept for messages.
PackageStatus ReadWhole(const std::string& path, size_t limit, std::vector<uint8_t>* out, int* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = errno;
    return kPackageInvalidInput;
  }
  PackageStatus status = kPackageSuccess;
  // Sized once from the file's length, then read straight into place.
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    std::rewind(file);
    if (size > 0 && static_cast<unsigned long>(size) <= limit) out->reserve(static_cast<size_t>(size) + 1);
  }
  for (;;) {
    const size_t used = out->size();
    if (used > limit) {
      status = kPackageBadSize;
      break;
    }
    const size_t room = out->capacity() > used ? out->capacity() - used : size_t{65536};
    out->resize(used + room);
    const size_t got = std::fread(out->data() + used, 1, room, file);
    out->resize(used + got);
    if (got < room) break;
  }
  if (status == kPackageSuccess && out->size() > limit) status = kPackageBadSize;
  std::fclose(file);
  return status;
}

// A file written under a temporary name and put under its final name only when complete.
class AtomicOutput {
 public:
  explicit AtomicOutput(std::string path) : path_(std::move(path)) {
#ifdef _WIN32
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(getpid());
#endif
    temp_ = path_ + ".part-" + std::to_string(pid);
  }
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput() {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) std::remove(temp_.c_str());
  }

  bool Open() {
    file_ = std::fopen(temp_.c_str(), "wb");
    if (file_ == nullptr) error_ = errno;
    return file_ != nullptr;
  }

  bool Write(const uint8_t* data, size_t length) {
    if (std::fwrite(data, 1, length, file_) == length) return true;
    error_ = errno ? errno : EIO;
    return false;
  }

  // Flushes, closes and renames. False, with the temporary removed, when any step failed.
  bool Commit() {
    const bool flushed = std::fflush(file_) == 0;
    if (!flushed) error_ = errno ? errno : EIO;
    const bool closed = std::fclose(file_) == 0;
    if (!closed && flushed) error_ = errno ? errno : EIO;
    file_ = nullptr;
    if (!flushed || !closed) return false;
#ifdef _WIN32
    if (!MoveFileExA(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      error_ = EACCES;
      return false;
    }
#else
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
      error_ = errno;
      return false;
    }
#endif
    committed_ = true;
    return true;
  }

  [[nodiscard]] int error() const { return error_; }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
  int error_ = 0;
};

class AtomicOutputSink : public PayloadSink {
 public:
  explicit AtomicOutputSink(AtomicOutput* output) : output_(output) {}
  bool Create() noexcept override { return output_->Open(); }
  bool Write(const uint8_t* data, uint32_t length) noexcept override {
    return output_->Write(data, length);
  }

 private:
  AtomicOutput* output_;
};

bool ParseKey(const char* text, uint32_t* key) {
  if (std::strlen(text) != 8) return false;
  uint32_t value = 0;
  for (int i = 0; i < 8; ++i) {
    const char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    value = value << 4 | digit;
  }
  // Written as k0 k1 k2 k3, the order of the bytes in the file.
  *key = (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
  return true;
}

int Build(const std::string& setup_path, const std::string& package_path, const char* key_text) {
  uint32_t key;
  if (key_text != nullptr) {
    if (!ParseKey(key_text, &key)) {
      std::fprintf(stderr, "zuno-pack: the key must be 8 hex digits, not \"%s\"\n", key_text);
      return kExitUsage;
    }
  } else {
    std::random_device random;
    key = random();
  }

  std::vector<uint8_t> setup;
  int error = 0;
  const size_t limit = kMaxPackageFileSize - kPackageHeaderSize;
  const PackageStatus read = ReadWhole(setup_path, limit, &setup, &error);
  if (read == kPackageBadSize) {
    std::fprintf(stderr, "zuno-pack: %s is too large for a package (at most %zu bytes)\n",
                 setup_path.c_str(), limit);
    return ExitCodeFor(read);
  }
  if (read != kPackageSuccess) {
    Fail("cannot read", setup_path, error);
    return ExitCodeFor(read);
  }
  if (setup.empty()) {
    std::fprintf(stderr, "zuno-pack: %s is empty; a package carries at least one byte\n",
                 setup_path.c_str());
    return ExitCodeFor(kPackageBadSize);
  }

  std::vector<uint8_t> package(kPackageHeaderSize + setup.size());
  if (!BuildPackage(setup.data(), static_cast<uint32_t>(setup.size()), key, package.data())) {
    std::fprintf(stderr, "zuno-pack: cannot build a package of %s\n", setup_path.c_str());
    return ExitCodeFor(kPackageBadSize);
  }
  AtomicOutput output(package_path);
  if (!output.Open() || !output.Write(package.data(), package.size()) || !output.Commit()) {
    Fail("cannot write", package_path, output.error());
    return ExitCodeFor(kPackageWriteError);
  }
  return kExitOk;
}

int Decode(const std::string& package_path, const std::string& output_path) {
  std::vector<uint8_t> package;
  int error = 0;
  const PackageStatus read = ReadWhole(package_path, kMaxPackageFileSize, &package, &error);
  if (read == kPackageInvalidInput || read == kPackageReadError) {
    Fail("cannot read", package_path, error);
    return ExitCodeFor(read);
  }
  PackageStatus status = read;
  if (status == kPackageSuccess && package.empty()) status = kPackageBadSize;
  AtomicOutput output(output_path);
  if (status == kPackageSuccess) {
    AtomicOutputSink sink(&output);
    status = DecodePackageBuffer(package.size(), package.data(), &sink);
    if (status == kPackageSuccess && !output.Commit()) status = kPackageWriteError;
  }
  if (status == kPackageWriteError) {
    Fail("cannot write", output_path, output.error());
  } else if (status != kPackageSuccess) {
    std::fprintf(stderr, "zuno-pack: %s: %s\n", package_path.c_str(), Describe(status));
  }
  return ExitCodeFor(status);
}

}  // namespace

int Run(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (args.size() == 3 && args[0] == "build") return Build(args[1], args[2], nullptr);
  if (args.size() == 5 && args[0] == "build" && args[3] == "--key") {
    return Build(args[1], args[2], args[4].c_str());
  }
  if (args.size() == 3 && args[0] == "decode") return Decode(args[1], args[2]);
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::bad_alloc&) {
    std::fputs("zuno-pack: not enough memory\n", stderr);
    return ExitCodeFor(kPackageNoMemory);
  }
}
