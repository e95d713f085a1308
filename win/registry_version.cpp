#include "win/registry_version.h"

#include <stdio.h>
#include <wchar.h>

#include "win/unique_handle.h"

namespace {

// Opens HKLM `sub_key` for reading (created, empty, when missing) and sizes the value
// `value_name`: true, with `*size` in bytes, when it is there and of `type`.
bool OpenValue(const wchar_t* sub_key, const wchar_t* value_name, DWORD type, win::UniqueRegKey* key, DWORD* size) {
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub_key, 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, key->put(),
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  DWORD stored_type = 0;
  *size = 0;
  return ::RegQueryValueExW(key->get(), value_name, nullptr, &stored_type, nullptr, size) == ERROR_SUCCESS &&
         stored_type == type;
}

}  // namespace

bool ReadRegistryDword(const wchar_t* sub_key, const wchar_t* value_name, DWORD* value) {
  win::UniqueRegKey key;
  DWORD size = 0;
  if (value == nullptr || !OpenValue(sub_key, value_name, REG_DWORD, &key, &size) || size != sizeof(DWORD)) {
    return false;
  }
  DWORD stored = 0;
  if (::RegQueryValueExW(key.get(), value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(&stored), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  *value = stored;
  return true;
}

int32_t ReadRegistryString(const wchar_t* sub_key, const wchar_t* value_name, wchar_t* buffer,
                           int32_t capacity) {
  if (buffer == nullptr || capacity <= 0) return 0;
  buffer[0] = L'\0';
  win::UniqueRegKey key;
  DWORD size = 0;
  if (!OpenValue(sub_key, value_name, REG_SZ, &key, &size)) return 0;

  const DWORD limit = static_cast<DWORD>(capacity) * sizeof(wchar_t);
  DWORD bytes = size < limit ? size : limit;
  if (::RegQueryValueExW(key.get(), value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &bytes) != ERROR_SUCCESS) {
    buffer[0] = L'\0';
    return 0;
  }
  // The registry does not promise a terminator: a value stored without one, and filling the
  // buffer, is cut by its last character rather than read past the end.
  const DWORD chars = bytes / sizeof(wchar_t);
  buffer[chars < static_cast<DWORD>(capacity) ? chars : static_cast<DWORD>(capacity) - 1] = L'\0';
  return ::lstrlenW(buffer);
}

namespace {

// Version resources are a tree of nodes: WORD length, WORD value length, WORD type, the key
// as a terminated wide string, padding to 4 bytes, the value, padding, then the children.
// A damaged tree would send the platform's parser past the data; each node is checked to
// lie within its parent before anything is queried.
bool IsWellFormedNode(const BYTE* node, size_t available, int depth) {
  if (depth > 8 || available < 6) return false;
  const WORD length = *reinterpret_cast<const WORD*>(node);
  const WORD value_length = *reinterpret_cast<const WORD*>(node + 2);
  const WORD type = *reinterpret_cast<const WORD*>(node + 4);
  if (length < 6 || length > available) return false;

  size_t offset = 6;
  for (;;) {  // the key, terminator included
    if (offset + 2 > length) return false;
    const wchar_t c = *reinterpret_cast<const wchar_t*>(node + offset);
    offset += 2;
    if (c == L'\0') break;
  }
  offset = (offset + 3) & ~size_t{3};
  // Text values count characters; some resource compilers count bytes instead.
  size_t value_bytes = type == 1 ? size_t{value_length} * 2 : value_length;
  if (type == 1 && offset + value_bytes > length) value_bytes = value_length;
  if (value_bytes != 0 && offset + value_bytes > length) return false;
  offset = (offset + value_bytes + 3) & ~size_t{3};

  while (offset + 6 <= length) {
    const WORD child_length = *reinterpret_cast<const WORD*>(node + offset);
    if (!IsWellFormedNode(node + offset, length - offset, depth + 1)) return false;
    offset = (offset + child_length + 3) & ~size_t{3};
  }
  return true;
}

// The file's version resource, whole and well formed, or nothing.
win::UniqueHeapMemory LoadVersionBlock(const wchar_t* file_path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file_path, &ignored);
  if (size == 0) return win::UniqueHeapMemory();
  win::UniqueHeapMemory block(::HeapAlloc(::GetProcessHeap(), 0, size));
  if (block.get() == nullptr || !::GetFileVersionInfoW(file_path, 0, size, block.get()) ||
      !IsWellFormedNode(static_cast<const BYTE*>(block.get()), size, 0)) {
    return win::UniqueHeapMemory();
  }
  return block;
}

}  // namespace

bool ReadFileVersion(const wchar_t* file_path, uint64_t* version) {
  if (file_path == nullptr || version == nullptr) return false;
  const win::UniqueHeapMemory block = LoadVersionBlock(file_path);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (block.get() == nullptr || !::VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
      fixed_size < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != VS_FFI_SIGNATURE) {
    return false;
  }
  *version = (static_cast<uint64_t>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
  return true;
}

bool ReadVersionStrings(const wchar_t* file_path, FileVersionStrings* strings) {
  if (file_path == nullptr || strings == nullptr) return false;
  wchar_t* const fields[] = {strings->companyName, strings->fileDescription, strings->fileVersion,
                             strings->legalCopyright, strings->productName};
  const wchar_t* const keys[] = {L"CompanyName", L"FileDescription", L"FileVersion",
                                 L"LegalCopyright", L"ProductName"};
  for (wchar_t* field : fields) field[0] = L'\0';

  const win::UniqueHeapMemory block = LoadVersionBlock(file_path);
  if (block.get() == nullptr) return false;

  void* translation = nullptr;
  UINT translation_length = 0;
  if (!::VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", &translation,
                        &translation_length) ||
      translation_length < 2 * sizeof(WORD)) {
    return false;
  }
  const WORD language = static_cast<const WORD*>(translation)[0];
  const WORD code_page = static_cast<const WORD*>(translation)[1];

  for (int i = 0; i < 5; ++i) {
    wchar_t path[kRegistryValueCapacity];
    const int built = _snwprintf(path, kRegistryValueCapacity - 1, L"\\StringFileInfo\\%04X%04X\\%s",
                                 language, code_page, keys[i]);
    if (built <= 0) return false;
    path[built] = L'\0';

    void* value = nullptr;
    UINT value_length = 0;
    if (!::VerQueryValueW(block.get(), path, &value, &value_length)) continue;
    if (value_length >= static_cast<UINT>(kRegistryValueCapacity)) continue;
    const wchar_t* text = static_cast<const wchar_t*>(value);
    UINT n = 0;
    while (n < value_length && text[n] != L'\0') {
      fields[i][n] = text[n];
      ++n;
    }
    fields[i][n] = L'\0';
  }
  return true;
}

WideString CombinePath(const wchar_t* directory, const wchar_t* file_name) {
  if (directory == nullptr || file_name == nullptr) return WideString();
  const size_t directory_length = wcslen(directory);
  const size_t name_length = wcslen(file_name);
  if (directory_length == 0 || directory_length > kMaxPathPart) return WideString();
  if (name_length == 0 || name_length > kMaxPathPart) return WideString();
  const bool has_separator = directory[directory_length - 1] == L'\\';
  return WideString::Format(has_separator ? L"%s%s" : L"%s\\%s", directory, file_name);
}
