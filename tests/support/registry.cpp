#include "tests/support/registry.h"

#include <gtest/gtest.h>

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

}  // namespace test
