// Decoding a downloaded package file into the setup program, on the Win32 file API.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "package/package_codec.h"

// Reads `package_path` whole, checks and decodes it, and writes the plain setup program to
// `output_path` (created, or replaced and truncated, only after the digest matched).
// A partly written output stays when a write fails.
[[nodiscard]] PackageStatus DecodePackageFile(const wchar_t* package_path, const wchar_t* output_path);

// The same on a package already in memory (`length` bytes, header included), unscrambled
// in place.
[[nodiscard]] PackageStatus DecodePackageBuffer(size_t length, uint8_t* buffer,
                                                const wchar_t* output_path);

// The platform calls the decoder makes. Tests wrap them to count calls or make them fail.
struct PackageFileApi {
  decltype(&::CreateFileW) create_file;
  decltype(&::GetFileSize) get_file_size;
  decltype(&::ReadFile) read_file;
  decltype(&::WriteFile) write_file;
  decltype(&::CloseHandle) close_handle;
  void* (*allocate)(size_t size);
  void (*release)(void* memory);
};

// The calls of the platform itself.
[[nodiscard]] const PackageFileApi& PlatformPackageFileApi();

// Replaces the calls for tests; null restores the platform's.
void SetPackageFileApiForTesting(const PackageFileApi* api);
