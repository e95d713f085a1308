// A directory of the test's own under the temporary directory, removed with its files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::wstring& path() const { return path_; }
  [[nodiscard]] std::wstring Path(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
[[nodiscard]] std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
// The lines of a text file, each without its "\n"; a last line without one is left out.
[[nodiscard]] std::vector<std::string> ReadLines(const std::wstring& path);
[[nodiscard]] bool FileExists(const std::wstring& path);
// Removes a directory tree.
void RemoveTree(const std::wstring& path);

}  // namespace test
