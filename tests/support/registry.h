// Registry fixtures. These test programs are 32-bit like the installer, so HKLM keys opened
// here without a view flag are the ones the installer sees (the 32-bit view under WoW64).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test {

// Removes HKLM `key` (and its values) now and again when the scope ends.
class ScopedKey {
 public:
  explicit ScopedKey(std::wstring key) : key_(std::move(key)) { Remove(); }
  ~ScopedKey() { Remove(); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  void Remove() const { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_.c_str()); }

  void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) const;
  void SetString(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) const {
    Set(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void Delete(const wchar_t* name) const;
  [[nodiscard]] bool Exists() const;
  // The value's text when it is a REG_SZ; otherwise null.
  [[nodiscard]] bool ReadString(const wchar_t* name, std::wstring* text) const;
  [[nodiscard]] DWORD ValueCount() const;

 private:
  std::wstring key_;
};

// The files the system is to delete at the next restart, in their order, as recorded
// (with the "\\??\\" prefix of native paths).
[[nodiscard]] std::vector<std::wstring> PendingDeletions();
void ClearPendingDeletions();

// HKLM "Software\Microsoft\Windows\CurrentVersion\RunOnce" value `name`, or empty.
[[nodiscard]] std::wstring RunOnceValue(const wchar_t* name);
void DeleteRunOnceValue(const wchar_t* name);

// Sets (null: deletes) a variable of the machine's own (HKLM "...\Session Manager\Environment"),
// which the programs the installer starts get, unlike the user's.
void SetMachineVariable(const wchar_t* name, const wchar_t* value);

}  // namespace test
