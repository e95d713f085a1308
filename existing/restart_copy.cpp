#include "existing/restart_copy.h"

#include <windows.h>
#include <shlobj.h>
#include <winternl.h>

#include <cwchar>

#include "win/protected_folder.h"
#include "win/trace.h"
#include "win/unique_handle.h"

extern "C" NTSTATUS NTAPI NtAreMappedFilesTheSame(PVOID mapped_as_image, PVOID mapped_as_file);

namespace {

using win::kPathCapacity;
constexpr size_t kFolderNameLength = 1 + 32 + 4;  // the prefix, 32 hexadecimal digits, ".tmp"

void UnmapView(void* view) noexcept { ::UnmapViewOfFile(view); }
using UniqueView = win::UniqueHandle<win::HandleTraits<void*, nullptr, UnmapView>>;

// The running program's own path; false when it does not fit.
bool OwnPath(wchar_t (&path)[kPathCapacity]) {
  const DWORD length = ::GetModuleFileNameW(nullptr, path, kPathCapacity);
  return length != 0 && length < kPathCapacity;
}

// Writes `size` bytes of `data` to `path`, a file that must not exist yet.
bool WriteNewFile(const wchar_t* path, const void* data, DWORD size) {
  win::UniqueFile file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  DWORD written = 0;
  if (!::WriteFile(file.get(), data, size, &written, nullptr) || written != size) {
    file.reset();
    ::DeleteFileW(path);
    return false;
  }
  return true;
}

}  // namespace

WideString MakeRestartCopy() noexcept {
  wchar_t own[kPathCapacity];
  if (!OwnPath(own)) return WideString();
  // Held against change while it is read, and read through a mapping that the platform confirms
  // to be of the file mapped as this program's image.
  const win::UniqueFile file(
      ::CreateFileW(own, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file.valid() || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x10000000) {
    return WideString();
  }
  const win::UniqueKernelHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  if (!view || NtAreMappedFilesTheSame(::GetModuleHandleW(nullptr), view.get()) < 0) {
    DebugTrace(L"szRestartCopy refused: %s", own);
    return WideString();
  }

  const WideString root = RestartCopyRoot();
  ProtectedFolder folder;
  const wchar_t* name = wcsrchr(own, L'\\');
  if (name == nullptr || root.empty() || !CreateProtectedFolder(root.c_str(), ExistingFolder::kOpen).valid() ||
      !folder.Create(root.c_str(), ProtectedFolder::kRestartCopyPrefix)) {
    return WideString();
  }
  WideString copy = WideString::Format(L"%s%s", folder.path(), name);
  if (copy.empty() || !WriteNewFile(copy.c_str(), view.get(), static_cast<DWORD>(size.QuadPart))) {
    folder.Release();
    ::RemoveDirectoryW(folder.path());
    return WideString();
  }
  DebugTrace(L"szRestartCopy: %s", copy.c_str());
  return copy;
}

WideString RestartCopyRoot() noexcept {
  wchar_t* program_files = nullptr;
  if (FAILED(::SHGetKnownFolderPath(FOLDERID_ProgramFiles, KF_FLAG_DONT_VERIFY, nullptr, &program_files))) {
    return WideString();
  }
  WideString root = WideString::Format(L"%s\\ZunoOnlineSetup", program_files);
  ::CoTaskMemFree(program_files);
  return root;
}

bool IsRestartCopyPath(const wchar_t* path) noexcept {
  const WideString root = RestartCopyRoot();
  if (path == nullptr || root.empty() || _wcsnicmp(path, root.c_str(), root.size()) != 0 || path[root.size()] != L'\\') {
    return false;
  }
  const wchar_t* folder = path + root.size() + 1;
  const wchar_t* separator = wcschr(folder, L'\\');
  if (separator == nullptr || wcschr(separator + 1, L'\\') != nullptr ||
      static_cast<size_t>(separator - folder) != kFolderNameLength || folder[0] != ProtectedFolder::kRestartCopyPrefix ||
      _wcsnicmp(separator - 4, L".tmp", 4) != 0) {
    return false;
  }
  for (const wchar_t* digit = folder + 1; digit < separator - 4; ++digit) {
    if (!iswxdigit(*digit)) return false;
  }
  return true;
}

void RemoveRestartCopy(const wchar_t* copy) noexcept {
  if (!IsRestartCopyPath(copy)) return;
  const WideString folder = WideString::Copy(copy, static_cast<size_t>(wcsrchr(copy, L'\\') - copy));
  DeleteNowOrAtRestart(copy, false);
  DeleteNowOrAtRestart(folder.c_str(), true);
}

void RemoveRestartCopyAtRestart() noexcept {
  wchar_t own[kPathCapacity];
  if (!OwnPath(own) || !IsRestartCopyPath(own)) return;
  wchar_t folder[kPathCapacity];
  wcscpy(folder, own);
  *wcsrchr(folder, L'\\') = L'\0';
  // Only a folder that no unelevated program could have made or changed is deleted by name.
  if (!CreateProtectedFolder(folder, ExistingFolder::kOpen).valid()) return;
  ::MoveFileExW(own, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  ::MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  *wcsrchr(folder, L'\\') = L'\0';
  ::MoveFileExW(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);  // the root, if no other copy waits there
  DebugTrace(L"szRestartCopy removed at restart: %s", own);
}
