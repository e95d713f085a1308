// Registry strings, version-resource strings and path joining: the installed-product checks
// read them, and the setup check reads a file version.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/wide_string.h"

// Capacity every registry and version string of the checks is read with, terminator included.
constexpr int kRegistryValueCapacity = 260;
// The longest directory or file name CombinePath takes.
constexpr size_t kMaxPathPart = 1022;

// Reads the REG_SZ value `value_name` of HKLM `sub_key` into `buffer` of `capacity` wide
// characters. The key is opened with a create call (created, empty, when missing) and read
// in the program's own registry view. Returns the string's length; 0 for a failure, another
// type, a value that does not fit, or an empty value. A value that fills the whole buffer
// without a terminator is cut by one character.
int32_t ReadRegistryString(const wchar_t* sub_key, const wchar_t* value_name, wchar_t* buffer,
                           int32_t capacity);

// Reads the REG_DWORD value `value_name` of HKLM `sub_key`, opened as ReadRegistryString opens
// it. True with `*value` set when the value is there, of that type and 4 bytes long; false
// otherwise, `*value` untouched.
[[nodiscard]] bool ReadRegistryDword(const wchar_t* sub_key, const wchar_t* value_name, DWORD* value);

struct FileVersionStrings {
  wchar_t companyName[kRegistryValueCapacity];
  wchar_t fileDescription[kRegistryValueCapacity];
  wchar_t fileVersion[kRegistryValueCapacity];
  wchar_t legalCopyright[kRegistryValueCapacity];
  wchar_t productName[kRegistryValueCapacity];
};

// Fills `strings` from the first translation of the file's version resource. True when the
// resource and its translation table were found (single fields may still be empty: a missing
// key, or a value of 260 characters or more). False for no resource, an unreadable file or a
// damaged resource.
[[nodiscard]] bool ReadVersionStrings(const wchar_t* file_path, FileVersionStrings* strings);

// The file version of the file's version resource (its fixed part), its four parts in one
// number, most significant first. False for no resource, an unreadable file or a damaged one.
[[nodiscard]] bool ReadFileVersion(const wchar_t* file_path, uint64_t* version);

// `directory` and `file_name` joined by exactly one backslash; empty when either is missing,
// empty, or longer than 1022 characters.
[[nodiscard]] WideString CombinePath(const wchar_t* directory, const wchar_t* file_name);
