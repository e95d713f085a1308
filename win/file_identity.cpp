#include "win/file_identity.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

// What tells one file from another: the 128-bit id, else the volume serial and 64-bit index.
struct FileId {
  uint64_t volume = 0;
  uint8_t id[16] = {};
};
constexpr FILE_INFO_BY_HANDLE_CLASS kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);  // Windows 8 on

bool LongFileId(HANDLE file, FileId* out) {
  struct {
    ULONGLONG volume;
    BYTE id[16];
  } info = {};
  if (!::GetFileInformationByHandleEx(file, kFileIdInfo, &info, sizeof(info))) return false;
  out->volume = info.volume;
  memcpy(out->id, info.id, sizeof(out->id));
  return true;
}

bool ShortFileId(HANDLE file, FileId* out) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  out->volume = info.dwVolumeSerialNumber;
  memcpy(out->id, &info.nFileIndexLow, sizeof(DWORD));
  memcpy(out->id + sizeof(DWORD), &info.nFileIndexHigh, sizeof(DWORD));
  return true;
}

bool IsHandle(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }

}  // namespace

bool SameFile(HANDLE a, HANDLE b) noexcept {
  if (!IsHandle(a) || !IsHandle(b)) return false;
  // Both ids the same way: the long one where both have it (ReFS needs all 128 bits).
  FileId first, second;
  bool same_way = LongFileId(a, &first) && LongFileId(b, &second);
  if (!same_way) {
    first = second = FileId();
    same_way = ShortFileId(a, &first) && ShortFileId(b, &second);
  }
  return same_way && first.volume == second.volume && memcmp(first.id, second.id, sizeof(first.id)) == 0;
}

win::UniqueFile OpenToCompare(const wchar_t* path, bool directory) noexcept {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const DWORD flags = directory ? FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL;
  return win::UniqueFile(::CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
}

bool RunsFile(HANDLE process, HANDLE file, HANDLE directory) noexcept {
  wchar_t image[MAX_PATH * 4];
  DWORD length = MAX_PATH * 4;
  if (!::QueryFullProcessImageNameW(process, 0, image, &length)) return false;
  const win::UniqueFile started = OpenToCompare(image, false);
  wchar_t* name = wcsrchr(image, L'\\');
  if (name == nullptr) return false;
  *name = L'\0';
  const win::UniqueFile folder = OpenToCompare(image, true);
  return SameFile(started.get(), file) && SameFile(folder.get(), directory);
}
