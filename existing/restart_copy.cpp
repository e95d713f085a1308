#include "existing/restart_copy.h"

#include <windows.h>
#include <shlobj.h>
#include <winternl.h>

#include <atomic>
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

// A redirector's volume (SMB, WebDAV, NFS): the device says so. A volume that cannot be asked
// counts as remote.
bool IsOnRemoteVolume(HANDLE file) {
  constexpr ULONG kRemoteDevice = 0x10;             // FILE_REMOTE_DEVICE
  constexpr DEVICE_TYPE kNetworkFileSystem = 0x14;  // FILE_DEVICE_NETWORK_FILE_SYSTEM
  IO_STATUS_BLOCK status = {};
  FILE_FS_DEVICE_INFORMATION device = {};
  if (NtQueryVolumeInformationFile(file, &status, &device, sizeof(device), FileFsDeviceInformation) < 0) return true;
  return (device.Characteristics & kRemoteDevice) != 0 || device.DeviceType == kNetworkFileSystem;
}

std::atomic<RestartCopyCheck> g_copy_check{nullptr};
std::atomic<RemoteVolumeTest> g_remote_volume{IsOnRemoteVolume};

// The copy at `path`, opened again and held sharing only reading; from a remote volume only
// when the content check passes on that very handle. Invalid otherwise.
win::UniqueFile HoldCheckedCopy(const wchar_t* path, bool remote) {
  win::UniqueFile copy(
      ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const RestartCopyCheck check = g_copy_check.load();
  if (copy.valid() && remote && (check == nullptr || !check(copy.get(), path))) copy.reset();
  return copy;
}

}  // namespace

void SetRestartCopyCheck(RestartCopyCheck check) noexcept { g_copy_check.store(check); }

RemoteVolumeTest SetRemoteVolumeTestForTesting(RemoteVolumeTest test) noexcept {
  return g_remote_volume.exchange(test != nullptr ? test : IsOnRemoteVolume);
}

RestartCopy MakeRestartCopy() noexcept {
  wchar_t own[kPathCapacity];
  if (!OwnPath(own)) return RestartCopy();
  // Held against change while it is read, and read through a mapping that the platform confirms
  // to be of the file mapped as this program's image.
  const win::UniqueFile file(
      ::CreateFileW(own, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file.valid() || !::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x10000000) {
    return RestartCopy();
  }
  const win::UniqueKernelHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  const UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  if (!view || NtAreMappedFilesTheSame(::GetModuleHandleW(nullptr), view.get()) < 0) {
    DebugTrace(L"szRestartCopy refused: %s", own);
    return RestartCopy();
  }
  const bool remote = g_remote_volume.load()(file.get());

  const WideString root = RestartCopyRoot();
  ProtectedFolder folder;
  const wchar_t* name = wcsrchr(own, L'\\');
  if (name == nullptr || root.empty() || !CreateProtectedFolder(root.c_str(), ExistingFolder::kOpen).valid() ||
      !folder.Create(root.c_str(), ProtectedFolder::kRestartCopyPrefix)) {
    return RestartCopy();
  }
  RestartCopy copy;
  copy.path = WideString::Format(L"%s%s", folder.path(), name);
  const bool written =
      !copy.path.empty() && WriteNewFile(copy.path.c_str(), view.get(), static_cast<DWORD>(size.QuadPart));
  if (written) copy.file = HoldCheckedCopy(copy.path.c_str(), remote);
  if (!copy.file.valid()) {
    DebugTrace(L"szRestartCopy refused: %s (bRemote: %d)", copy.path.c_str(), remote ? 1 : 0);
    if (written) ::DeleteFileW(copy.path.c_str());
    folder.Release();
    ::RemoveDirectoryW(folder.path());
    return RestartCopy();
  }
  DebugTrace(L"szRestartCopy: %s", copy.path.c_str());
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
