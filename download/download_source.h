// Which package to fetch: the 64-bit build when this 32-bit program runs under WOW64.
#pragma once

#include "win/wide_string.h"

#ifndef ZUNO_DOWNLOAD_HOST
#define ZUNO_DOWNLOAD_HOST L"download.zuno.example"
#endif

constexpr wchar_t kPackageUrl64[] = L"http://" ZUNO_DOWNLOAD_HOST L"/OG3tup2015X64.exe";
constexpr wchar_t kPackageUrl32[] = L"http://" ZUNO_DOWNLOAD_HOST L"/OG3tup2015.exe";

// The package URL for this machine; any failure to tell means the 32-bit package.
[[nodiscard]] WideString SelectDownloadUrl();
