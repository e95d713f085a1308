#include "win/environment.h"

#include <userenv.h>

#include <cwchar>

#include "win/wide_string.h"

namespace {

// What becomes of a variable that the table names. Any other passes only from the machine's
// variables (what Windows gives a program without a user's settings), with the machine's value.
enum class Rule {
  kUsersOwn,  // names the user or a folder of the user's: passes from the user's own, never the machine's
  kNever,     // makes a process load code that it names: passes from nowhere, the machine's included
};
struct VariableRule {
  const wchar_t* name;
  bool prefix;  // every name that starts so
  Rule rule;
};
constexpr VariableRule kVariableRules[] = {
    // Who the user is and where the user's own folders are: a setup writes its shortcuts and
    // settings there. These may name folders that the user's programs can write: what the
    // installer starts must neither load nor run anything from them.
    {L"USERPROFILE", false, Rule::kUsersOwn},
    {L"USERNAME", false, Rule::kUsersOwn},
    {L"USERDOMAIN", false, Rule::kUsersOwn},
    {L"USERDNSDOMAIN", false, Rule::kUsersOwn},
    {L"LOGONSERVER", false, Rule::kUsersOwn},
    {L"APPDATA", false, Rule::kUsersOwn},
    {L"LOCALAPPDATA", false, Rule::kUsersOwn},
    {L"HOMEDRIVE", false, Rule::kUsersOwn},
    {L"HOMEPATH", false, Rule::kUsersOwn},
    {L"HOMESHARE", false, Rule::kUsersOwn},
    {L"SESSIONNAME", false, Rule::kUsersOwn},
    {L"CLIENTNAME", false, Rule::kUsersOwn},
    {L"OneDrive", true, Rule::kUsersOwn},  // OneDrive, OneDriveConsumer, OneDriveCommercial
    // Wine's name for the user: its GetUserNameW reads this, and without it the certificate
    // stores that WinVerifyTrust opens cannot be had. Nothing of Windows reads it.
    {L"WINEUSERNAME", false, Rule::kUsersOwn},
    // .NET Framework: the profiler DLL that every managed process loads (COR_PROFILER,
    // COR_PROFILER_PATH, _32, _64), and the switch that turns it on.
    {L"COR_ENABLE_PROFILING", false, Rule::kNever},
    {L"COR_PROFILER", true, Rule::kNever},
    // .NET Core and later: the same profiler for the new runtime, its startup hooks and
    // additional dependencies, and the runtime's settings, under both of their prefixes.
    {L"CORECLR_", true, Rule::kNever},
    {L"DOTNET_", true, Rule::kNever},
    {L"COMPLUS_", true, Rule::kNever},
    // The debug helper loads the symbol server DLL that a symbol path names.
    {L"_NT_SYMBOL_PATH", false, Rule::kNever},
    {L"_NT_ALT_SYMBOL_PATH", false, Rule::kNever},
    // Agents and options handed to every Java runtime that starts.
    {L"JAVA_TOOL_OPTIONS", false, Rule::kNever},
    {L"_JAVA_OPTIONS", false, Rule::kNever},
    {L"JDK_JAVA_OPTIONS", false, Rule::kNever},
    // Script hosts a setup may call, and the modules and preloads they take from a path.
    {L"PSModulePath", false, Rule::kNever},
    {L"NODE_OPTIONS", false, Rule::kNever},
    {L"NODE_PATH", false, Rule::kNever},
    {L"PERL5OPT", false, Rule::kNever},
    {L"PERL5LIB", false, Rule::kNever},
    {L"PERLLIB", false, Rule::kNever},
    {L"PYTHONPATH", false, Rule::kNever},
    {L"PYTHONHOME", false, Rule::kNever},
    {L"PYTHONSTARTUP", false, Rule::kNever},
    {L"RUBYOPT", false, Rule::kNever},
    {L"RUBYLIB", false, Rule::kNever},
    // The TLS library's configuration, which can name engines and providers to load.
    {L"OPENSSL_CONF", false, Rule::kNever},
    {L"OPENSSL_MODULES", false, Rule::kNever},
    {L"OPENSSL_ENGINES", false, Rule::kNever},
    // Compatibility layers chosen by the user, RunAsInvoker among them.
    {L"__COMPAT_LAYER", false, Rule::kNever},
};

// The length of the name of `entry` ("NAME=value"; a name may start with '=', as "=C:" does).
size_t NameLength(const wchar_t* entry) {
  const wchar_t* equals = entry[0] != L'\0' ? wcschr(entry + 1, L'=') : nullptr;
  return equals != nullptr ? static_cast<size_t>(equals - entry) : wcslen(entry);
}

int CompareNames(const wchar_t* a, size_t a_length, const wchar_t* b, size_t b_length) {
  return ::CompareStringOrdinal(a, static_cast<int>(a_length), b, static_cast<int>(b_length), TRUE);
}

bool SameName(const wchar_t* entry, const wchar_t* name) {
  return CompareNames(entry, NameLength(entry), name, wcslen(name)) == CSTR_EQUAL;
}

// The table's row for the variable of `entry`, or null.
const VariableRule* RowOf(const wchar_t* entry) {
  const size_t length = NameLength(entry);
  for (const VariableRule& row : kVariableRules) {
    const size_t row_length = wcslen(row.name);
    const size_t compared = row.prefix && length > row_length ? row_length : length;
    if (CompareNames(entry, compared, row.name, row_length) == CSTR_EQUAL) return &row;
  }
  return nullptr;
}

// Whether the variable of `entry` passes from the user's own variables (`users`) or from the
// machine's.
bool Passes(const wchar_t* entry, bool users) {
  const VariableRule* row = RowOf(entry);
  if (row == nullptr) return !users;
  return users && row->rule == Rule::kUsersOwn;
}

size_t CountEntries(const wchar_t* block, size_t* characters) {
  size_t count = 0;
  for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
    ++count;
    *characters += wcslen(entry) + 1;
  }
  return count;
}

// Whether `block` has a variable of the name of `entry`.
bool Defines(const wchar_t* block, const wchar_t* entry) {
  const size_t length = NameLength(entry);
  for (const wchar_t* other = block; other != nullptr && *other != L'\0'; other += wcslen(other) + 1) {
    if (CompareNames(other, NameLength(other), entry, length) == CSTR_EQUAL) return true;
  }
  return false;
}

// The entries a block is made of, gathered from several sources, then sorted and written.
class EntryList {
 public:
  EntryList(const wchar_t** entries, wchar_t* text) : entries_(entries), text_(text) {}

  void Add(const wchar_t* entry) { entries_[count_++] = entry; }
  // "name=value", kept in the list's own text.
  void Add(const wchar_t* name, const wchar_t* value) {
    const int length = _snwprintf(text_, wcslen(name) + wcslen(value) + 2, L"%s=%s", name, value);
    Add(text_);
    text_ += length + 1;
  }
  bool Replaced(const wchar_t* entry, const EnvironmentValue* replaced, size_t replaced_count) const {
    for (size_t i = 0; i < replaced_count; ++i) {
      if (SameName(entry, replaced[i].name)) return true;
    }
    return false;
  }
  // Sorted by name, case-insensitively, as Windows keeps an environment; into `out`.
  void WriteSorted(wchar_t* out) {
    for (size_t i = 1; i < count_; ++i) {
      const wchar_t* entry = entries_[i];
      size_t j = i;
      for (; j > 0 && CompareNames(entry, NameLength(entry), entries_[j - 1], NameLength(entries_[j - 1])) ==
                          CSTR_LESS_THAN;
           --j) {
        entries_[j] = entries_[j - 1];
      }
      entries_[j] = entry;
    }
    for (size_t i = 0; i < count_; ++i) {
      const size_t length = wcslen(entries_[i]) + 1;
      wmemcpy(out, entries_[i], length);
      out += length;
    }
    *out = L'\0';
  }

 private:
  const wchar_t** entries_;
  wchar_t* text_;
  size_t count_ = 0;
};

// The machine's variables (no user's settings), or null; DestroyEnvironmentBlock.
void* MachineEnvironment() {
  void* block = nullptr;
  return ::CreateEnvironmentBlock(&block, nullptr, FALSE) ? block : nullptr;
}

}  // namespace

win::UniqueLocalMemory BuildEnvironmentBlock(const wchar_t* own, const wchar_t* machine,
                                             const EnvironmentValue* replaced, size_t replaced_count) noexcept {
  size_t characters = 1;
  const size_t count = CountEntries(own, &characters) + CountEntries(machine, &characters) + replaced_count;
  size_t replaced_characters = 0;
  for (size_t i = 0; i < replaced_count; ++i) replaced_characters += wcslen(replaced[i].name) + wcslen(replaced[i].value) + 2;
  // The entry pointers with the replaced entries' text after them, and the block itself.
  const size_t block_characters = characters + replaced_characters;
  win::UniqueLocalMemory work(
      ::LocalAlloc(LMEM_FIXED, count * sizeof(wchar_t*) + (replaced_characters + 1) * sizeof(wchar_t)));
  win::UniqueLocalMemory block(::LocalAlloc(LMEM_FIXED, (block_characters + 1) * sizeof(wchar_t)));
  if (!work || !block) return win::UniqueLocalMemory();
  const wchar_t** entries = static_cast<const wchar_t**>(work.get());
  EntryList list(entries, reinterpret_cast<wchar_t*>(entries + count));

  for (size_t i = 0; i < replaced_count; ++i) list.Add(replaced[i].name, replaced[i].value);
  for (const wchar_t* entry = machine; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
    if (Passes(entry, false) && !list.Replaced(entry, replaced, replaced_count)) list.Add(entry);
  }
  for (const wchar_t* entry = own; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
    if (Passes(entry, true) && !list.Replaced(entry, replaced, replaced_count)) list.Add(entry);
  }
  list.WriteSorted(static_cast<wchar_t*>(block.get()));
  return block;
}

bool CleanProcessEnvironment() noexcept {
  void* machine = MachineEnvironment();
  wchar_t* own = ::GetEnvironmentStringsW();
  win::UniqueLocalMemory clean =
      machine != nullptr && own != nullptr ? BuildEnvironmentBlock(own, static_cast<wchar_t*>(machine), nullptr, 0)
                                           : win::UniqueLocalMemory();
  if (clean) {
    // What is gone goes (the current folders of the drives, "=C:", are no variables), then
    // every clean one is set.
    for (const wchar_t* entry = own; *entry != L'\0'; entry += wcslen(entry) + 1) {
      if (entry[0] == L'=' || Defines(static_cast<wchar_t*>(clean.get()), entry)) continue;
      const WideString name = WideString::Copy(entry, NameLength(entry));
      ::SetEnvironmentVariableW(name.c_str(), nullptr);
    }
    for (const wchar_t* entry = static_cast<wchar_t*>(clean.get()); *entry != L'\0'; entry += wcslen(entry) + 1) {
      const size_t length = NameLength(entry);
      if (entry[0] == L'=' || entry[length] != L'=') continue;
      const WideString name = WideString::Copy(entry, length);
      ::SetEnvironmentVariableW(name.c_str(), entry + length + 1);
    }
  }
  if (own != nullptr) ::FreeEnvironmentStringsW(own);
  if (machine != nullptr) ::DestroyEnvironmentBlock(machine);
  return static_cast<bool>(clean);
}

win::UniqueLocalMemory SetupEnvironment(const wchar_t* temp) noexcept {
  wchar_t windows[MAX_PATH];
  wchar_t system[MAX_PATH];
  const UINT windows_length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const UINT system_length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (windows_length == 0 || windows_length >= MAX_PATH || system_length == 0 || system_length >= MAX_PATH) {
    return win::UniqueLocalMemory();
  }
  // The folders of a fresh machine's PATH: others may be folders that any of the user's
  // programs can write, searched for programs and, last, for DLLs.
  const WideString path = WideString::Format(L"%s;%s;%s\\Wbem", system, windows, system);
  if (path.empty()) return win::UniqueLocalMemory();
  const EnvironmentValue replaced[] = {{L"PATH", path.c_str()}, {L"TEMP", temp}, {L"TMP", temp}};
  void* machine = MachineEnvironment();
  wchar_t* own = ::GetEnvironmentStringsW();
  win::UniqueLocalMemory block;
  if (machine != nullptr && own != nullptr) {
    block = BuildEnvironmentBlock(own, static_cast<wchar_t*>(machine), replaced, sizeof(replaced) / sizeof(replaced[0]));
  }
  if (own != nullptr) ::FreeEnvironmentStringsW(own);
  if (machine != nullptr) ::DestroyEnvironmentBlock(machine);
  return block;
}
