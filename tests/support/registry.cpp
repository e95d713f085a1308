#include "tests/support/registry.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "win/unique_handle.h"

namespace test {

void ScopedKey::Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) const {
  win::UniqueRegKey key;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, key.put(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), name, 0, type,
                                            static_cast<const BYTE*>(data), bytes));
}

void ScopedKey::Delete(const wchar_t* name) const {
  win::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key.get(), name);
  }
}

bool ScopedKey::Exists() const {
  win::UniqueRegKey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool ScopedKey::ReadString(const wchar_t* name, std::wstring* text) const {
  win::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  wchar_t data[2048] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(data) - sizeof(wchar_t);
  if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  *text = data;
  return true;
}

DWORD ScopedKey::ValueCount() const {
  win::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
  DWORD values = 0;
  ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
  return values;
}

namespace {
// Where the system keeps the files to delete at the next restart: pairs of source and target,
// an empty target meaning deletion.
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
constexpr wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

}  // namespace

std::vector<std::wstring> PendingDeletions() {
  std::vector<std::wstring> deletions;
  DWORD type = 0;
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ, &type, nullptr,
                     &bytes) != ERROR_SUCCESS) {
    return deletions;
  }
  std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, L'\0');
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ, &type, data.data(),
                     &bytes) != ERROR_SUCCESS) {
    return deletions;
  }
  // Empty targets are empty strings between the sources: walk by the size, not to the first
  // empty string.
  std::vector<std::wstring> strings;
  const wchar_t* end = data.data() + bytes / sizeof(wchar_t);
  for (const wchar_t* p = data.data(); p < end; p += wcslen(p) + 1) strings.emplace_back(p);
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    if (!strings[i].empty() && strings[i + 1].empty()) deletions.push_back(strings[i]);
  }
  return deletions;
}

void ClearPendingDeletions() {
  win::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key.get(), kPendingRenames);
  }
}


std::wstring RunOnceValue(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD bytes = sizeof(value) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnce, name, RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return value;
}

void DeleteRunOnceValue(const wchar_t* name) {
  win::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key.get(), name);
  }
}

void SetMachineVariable(const wchar_t* name, const wchar_t* value) {
  win::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                      KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) {
    return;
  }
  if (value == nullptr) ::RegDeleteValueW(key.get(), name);
  const DWORD bytes = value != nullptr ? static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)) : 0;
  if (value != nullptr) ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes);
}

}  // namespace test
