#include "app/run_log.h"

#include <shlobj.h>

#include <atomic>
#include <cwchar>
#include <utility>

#include "app/messages.h"
#include "resources/version.h"
#include "win/protected_folder.h"
#include "win/trace.h"
#include "win/unique_handle.h"

namespace {

using win::kPathCapacity;
// The most folders on the way to the log folder, its drive's root included.
constexpr int kMaxDepth = 32;
// Old logs removed in one run at most (a folder that someone filled up goes down in steps).
constexpr int kMaxRemovals = 64;
constexpr wchar_t kLogPattern[] = L"ZunoSetup-*.log";
constexpr WORD kArchitectureArm64 = 12;  // PROCESSOR_ARCHITECTURE_ARM64

// The log of this run. The file is written under the lock, one whole line at a time, by
// whichever thread traces.
struct RunLog {
  SRWLOCK lock = SRWLOCK_INIT;
  win::UniqueFile file;    // guarded by lock
  win::UniqueFile folder;  // held against a rename while the run lasts
  wchar_t path[kPathCapacity] = {};
  std::atomic<const wchar_t*> result{nullptr};  // the words of the run's end, once decided
  bool counted = true;  // false: the run did nothing worth keeping among the kLogsKept
};
RunLog g_log;

// Characters that could split a line or reorder what a reader sees of it: the C0 and C1
// controls (U+0085 ends a line too), the line and paragraph separators, and the bidirectional
// marks, embeddings, overrides and isolates. Text from the network or the registry (a proxy's
// name from a script, a product's name) may hold any of them.
bool BreaksTheLine(wchar_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// A time stamp, the thread, the text with every character that BreaksTheLine made a blank, and
// CRLF, in UTF-8.
void WriteLine(const wchar_t* text) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t line[kTraceCapacity + 64];
  int length = _snwprintf(line, 64, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear, now.wMonth, now.wDay,
                          now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, ::GetCurrentThreadId());
  if (length < 0) length = 0;
  for (const wchar_t* c = text; *c != L'\0' && length < kTraceCapacity + 61; ++c) {
    line[length++] = BreaksTheLine(*c) ? L' ' : *c;
  }
  line[length++] = L'\r';
  line[length++] = L'\n';
  char utf8[3 * (kTraceCapacity + 64)];
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line, length, utf8, sizeof(utf8), nullptr, nullptr);
  if (bytes <= 0) return;
  ::AcquireSRWLockExclusive(&g_log.lock);
  DWORD written = 0;
  if (g_log.file.valid()) ::WriteFile(g_log.file.get(), utf8, static_cast<DWORD>(bytes), &written, nullptr);
  ::ReleaseSRWLockExclusive(&g_log.lock);
}

// Opens each folder on the way to `path` (not `path` itself), from its drive's root down,
// for listing and without delete sharing, so that none can be renamed while the handles are
// held. False when `path` does not start with a drive, or a folder on the way cannot be
// opened or is a reparse point.
bool HoldFoldersOnTheWay(const wchar_t* path, win::UniqueFile (&held)[kMaxDepth]) {
  const size_t length = wcslen(path);
  if (length < 4 || length >= kPathCapacity || path[1] != L':' || path[2] != L'\\') return false;
  wchar_t folder[kPathCapacity];
  int count = 0;
  for (size_t i = 2; i < length; ++i) {
    if (path[i] != L'\\') continue;
    if (count == kMaxDepth) return false;
    // The root keeps its backslash ("C:\").
    const size_t end = i == 2 ? 3 : i;
    wmemcpy(folder, path, end);
    folder[end] = L'\0';
    held[count].reset(::CreateFileW(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!held[count].valid() || !::GetFileInformationByHandle(held[count].get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return false;
    }
    ++count;
  }
  return true;
}

// Removes the oldest logs until kLogsKept are left. Their names begin with the time they were
// made, so the oldest is the first by name. One that cannot go (held open by someone, or this
// run's own under a clock set back) is passed over for the next oldest.
void RemoveOldLogs(const wchar_t* folder) {
  wchar_t pattern[kPathCapacity];
  wchar_t path[kPathCapacity];
  const int pattern_length = _snwprintf(pattern, kPathCapacity, L"%s\\%s", folder, kLogPattern);
  if (pattern_length <= 0 || static_cast<size_t>(pattern_length) >= kPathCapacity) return;
  wchar_t passed[MAX_PATH] = {};  // every name up to this one has been tried
  for (int tried = 0; tried < kMaxRemovals; ++tried) {
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    wchar_t oldest[MAX_PATH] = {};
    int count = 0;
    do {
      if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
      ++count;
      const bool untried = passed[0] == L'\0' || wcscmp(entry.cFileName, passed) > 0;
      if (untried && (oldest[0] == L'\0' || wcscmp(entry.cFileName, oldest) < 0)) wcscpy(oldest, entry.cFileName);
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    if (count <= kLogsKept || oldest[0] == L'\0') return;
    const int length = _snwprintf(path, kPathCapacity, L"%s\\%s", folder, oldest);
    if (length <= 0 || static_cast<size_t>(length) >= kPathCapacity) return;
    if (!::DeleteFileW(path)) wcscpy(passed, oldest);
  }
}

const wchar_t* ArchitectureName(WORD architecture) {
  switch (architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      return L"x86";
    case PROCESSOR_ARCHITECTURE_AMD64:
      return L"x64";
    case kArchitectureArm64:
      return L"ARM64";
    default:
      return L"another architecture";
  }
}

// The head of the log: what ran where.
void TraceHead() {
  RTL_OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  // The true version, whatever the program's manifest declares.
  using GetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const auto get_version = reinterpret_cast<GetVersionFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (get_version == nullptr || get_version(&version) != 0) version = {};
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  TIME_ZONE_INFORMATION zone = {};
  const DWORD zone_kind = ::GetTimeZoneInformation(&zone);
  const LONG bias = zone.Bias + (zone_kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
  const LONG east = -bias;
  DebugTrace(L"Zuno Office Guard online setup %s", L"" ZUNO_VERSION_STRING);
  DebugTrace(L"Windows %d.%d.%d %s, time UTC%c%02d:%02d", static_cast<int>(version.dwMajorVersion),
             static_cast<int>(version.dwMinorVersion), static_cast<int>(version.dwBuildNumber),
             ArchitectureName(system.wProcessorArchitecture), east < 0 ? L'-' : L'+', static_cast<int>((east < 0 ? -east : east) / 60),
             static_cast<int>((east < 0 ? -east : east) % 60));
  DebugTrace(L"sLogPath: %s", g_log.path);
}

}  // namespace

bool StartRunLog(const wchar_t* folder) noexcept {
  wchar_t program_data[MAX_PATH];
  wchar_t default_folder[kPathCapacity];
  if (folder == nullptr) {
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, program_data))) {
      return false;
    }
    const int length = _snwprintf(default_folder, kPathCapacity, L"%s\\%s", program_data, kLogFolderName);
    if (length <= 0 || static_cast<size_t>(length) >= kPathCapacity) return false;
    folder = default_folder;
  }
  win::UniqueFile on_the_way[kMaxDepth];
  const win::UniqueLocalMemory security = ReadableAdminDirectorySecurity();
  if (!security || !HoldFoldersOnTheWay(folder, on_the_way)) return false;
  // A folder of that name that a user made first, or that others may write into, would take
  // the log away or lend it to them: it goes aside, and a protected one is made in its place.
  wchar_t moved_to[kPathCapacity];
  if (!MoveAsideUnlessProtected(folder, moved_to, kPathCapacity)) return false;
  win::UniqueFile held = CreateProtectedFolder(folder, ExistingFolder::kOpen, nullptr, security.get());
  if (!held.valid()) return false;

  // Named by the time in UTC and the process: unique, and in the order the runs began.
  SYSTEMTIME utc;
  ::GetSystemTime(&utc);
  wchar_t path[kPathCapacity];
  const int length = _snwprintf(path, kPathCapacity, L"%s\\ZunoSetup-%04u%02u%02u-%02u%02u%02u-%03u-%08lu.log", folder,
                                utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond,
                                utc.wMilliseconds, ::GetCurrentProcessId());
  if (length <= 0 || static_cast<size_t>(length) >= kPathCapacity) return false;
  // Always a new file: a name that exists, whatever it is, is never written through.
  win::UniqueFile file(
      ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  // The byte order mark tells older Notepads that the file is UTF-8.
  DWORD written = 0;
  ::WriteFile(file.get(), "\xEF\xBB\xBF", 3, &written, nullptr);

  ::AcquireSRWLockExclusive(&g_log.lock);
  g_log.file = std::move(file);
  ::ReleaseSRWLockExclusive(&g_log.lock);
  g_log.folder = std::move(held);
  wcscpy(g_log.path, path);
  g_log.counted = true;
  SetTraceLog(WriteLine);
  TraceHead();
  if (moved_to[0] != L'\0') DebugTrace(L"szLogFolderMovedAside: %s", moved_to);
  return true;
}

const wchar_t* RunLogPath() noexcept { return g_log.path; }

void SetRunResult(const wchar_t* words) noexcept { g_log.result.store(words); }

void SetRunLogUncounted() noexcept { g_log.counted = false; }

void EndRunLog(DWORD exit_code) noexcept {
  if (g_log.path[0] == L'\0') return;
  const wchar_t* words = g_log.result.load();
  DebugTrace(L"nExitCode: %d", static_cast<int>(exit_code));
  DebugTrace(L"Result: %s (exit code %d)", words != nullptr ? words : L"the installer ended", static_cast<int>(exit_code));
  SetTraceLog(nullptr);
  ::AcquireSRWLockExclusive(&g_log.lock);
  g_log.file.reset();
  ::ReleaseSRWLockExclusive(&g_log.lock);
  // The folder is the log's path up to its last backslash.
  wchar_t folder[kPathCapacity];
  wcscpy(folder, g_log.path);
  if (wchar_t* last = wcsrchr(folder, L'\\')) *last = L'\0';
  if (g_log.counted) {
    // Only now, so that a run that counts for nothing never pushes a real run's log out.
    RemoveOldLogs(folder);
  } else {
    // One such log, the last, under a name the kept ones never take.
    const WideString kept = WideString::Format(L"%s\\%s", folder, kUncountedLogName);
    if (!kept.empty()) ::MoveFileExW(g_log.path, kept.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  g_log.folder.reset();
  g_log.path[0] = L'\0';
}

WideString FailureBoxText(const wchar_t* message) {
  DebugTrace(L"sMessage: %s", message);
  if (RunLogPath()[0] == L'\0') return WideString::Copy(message);
  const WideString note = WideString::Format(GetMessageText(kMessageLogNote).c_str(), RunLogPath());
  return WideString::Format(L"%s\n\n%s", message, note.c_str());
}
