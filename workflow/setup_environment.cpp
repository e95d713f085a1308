#include "workflow/setup_environment.h"

#include <cwchar>

#include "win/wide_string.h"

namespace {

// The variables that make a process load code they name. `prefix`: every name that starts so.
struct BlockedVariable {
  const wchar_t* name;
  bool prefix;
};
constexpr BlockedVariable kCodeLoadingVariables[] = {
    // .NET Framework: the profiler DLL that every managed process loads (COR_PROFILER,
    // COR_PROFILER_PATH, _32, _64), and the switch that turns it on.
    {L"COR_ENABLE_PROFILING", false},
    {L"COR_PROFILER", true},
    // .NET Core and later: the same profiler for the new runtime, its startup hooks and
    // additional dependencies, and the runtime's settings, under both of their prefixes.
    {L"CORECLR_", true},
    {L"DOTNET_", true},
    {L"COMPLUS_", true},
    // The debug helper loads the symbol server DLL that a symbol path names.
    {L"_NT_SYMBOL_PATH", false},
    {L"_NT_ALT_SYMBOL_PATH", false},
    // Agents and options handed to every Java runtime that starts.
    {L"JAVA_TOOL_OPTIONS", false},
    {L"_JAVA_OPTIONS", false},
    {L"JDK_JAVA_OPTIONS", false},
    // Compatibility layers chosen by the user, RunAsInvoker among them.
    {L"__COMPAT_LAYER", false},
};

bool SameName(const wchar_t* a, size_t a_length, const wchar_t* b, size_t b_length) {
  return ::CompareStringOrdinal(a, static_cast<int>(a_length), b, static_cast<int>(b_length), TRUE) == CSTR_EQUAL;
}

bool NameBefore(const wchar_t* a, size_t a_length, const wchar_t* b) {
  return ::CompareStringOrdinal(a, static_cast<int>(a_length), b, -1, TRUE) == CSTR_LESS_THAN;
}

// The length of the name of `entry` ("NAME=value"; a name may start with '=', as "=C:" does).
size_t NameLength(const wchar_t* entry) {
  const wchar_t* equals = entry[0] != L'\0' ? wcschr(entry + 1, L'=') : nullptr;
  return equals != nullptr ? static_cast<size_t>(equals - entry) : wcslen(entry);
}

// Appends "name=value" and its terminator at `out`; returns the position after it.
wchar_t* Put(wchar_t* out, const wchar_t* name, size_t name_length, const wchar_t* value) {
  wmemcpy(out, name, name_length);
  out += name_length;
  *out++ = L'=';
  const size_t value_length = wcslen(value);
  wmemcpy(out, value, value_length);
  out += value_length;
  *out++ = L'\0';
  return out;
}

}  // namespace

bool IsCodeLoadingVariable(const wchar_t* name, size_t length) noexcept {
  for (const BlockedVariable& blocked : kCodeLoadingVariables) {
    const size_t blocked_length = wcslen(blocked.name);
    const size_t compared = blocked.prefix && length > blocked_length ? blocked_length : length;
    if (SameName(name, compared, blocked.name, blocked_length)) return true;
  }
  return false;
}

win::UniqueLocalMemory BuildEnvironmentBlock(const wchar_t* parent, const EnvironmentValue* replaced,
                                             size_t replaced_count) noexcept {
  size_t capacity = 1;
  for (const wchar_t* entry = parent; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
    capacity += wcslen(entry) + 1;
  }
  for (size_t i = 0; i < replaced_count; ++i) {
    capacity += wcslen(replaced[i].name) + wcslen(replaced[i].value) + 2;
  }
  win::UniqueLocalMemory block(::LocalAlloc(LMEM_FIXED, (capacity + 1) * sizeof(wchar_t)));
  if (!block) return block;
  wchar_t* out = static_cast<wchar_t*>(block.get());
  size_t next = 0;  // the first of `replaced` not yet written
  for (const wchar_t* entry = parent; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
    const size_t name_length = NameLength(entry);
    for (; next < replaced_count && !NameBefore(entry, name_length, replaced[next].name); ++next) {
      out = Put(out, replaced[next].name, wcslen(replaced[next].name), replaced[next].value);
    }
    bool keep = !IsCodeLoadingVariable(entry, name_length);
    for (size_t i = 0; keep && i < replaced_count; ++i) {
      keep = !SameName(entry, name_length, replaced[i].name, wcslen(replaced[i].name));
    }
    if (keep) {
      const size_t length = wcslen(entry);
      wmemcpy(out, entry, length + 1);
      out += length + 1;
    }
  }
  for (; next < replaced_count; ++next) out = Put(out, replaced[next].name, wcslen(replaced[next].name), replaced[next].value);
  *out = L'\0';
  return block;
}

win::UniqueLocalMemory SetupEnvironment(const wchar_t* temp) noexcept {
  wchar_t windows[MAX_PATH];
  wchar_t system[MAX_PATH];
  const UINT windows_length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const UINT system_length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (windows_length == 0 || windows_length >= MAX_PATH || system_length == 0 || system_length >= MAX_PATH) {
    return win::UniqueLocalMemory();
  }
  // The folders of a fresh machine's PATH: the user's additions may be folders that any of
  // the user's programs can write, searched for programs and, last, for DLLs.
  const WideString path = WideString::Format(L"%s;%s;%s\\Wbem", system, windows, system);
  const EnvironmentValue replaced[] = {{L"PATH", path.c_str()}, {L"TEMP", temp}, {L"TMP", temp}};
  wchar_t* own = ::GetEnvironmentStringsW();
  if (own == nullptr || path.empty()) return win::UniqueLocalMemory();
  win::UniqueLocalMemory block = BuildEnvironmentBlock(own, replaced, sizeof(replaced) / sizeof(replaced[0]));
  ::FreeEnvironmentStringsW(own);
  return block;
}
