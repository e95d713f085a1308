// The message catalogue and the interface language.
#pragma once

#include <atomic>
#include <cstdint>

#include "win/wide_string.h"

constexpr int32_t kLanguageVietnamese = 0;
constexpr int32_t kLanguageEnglish = 1;
constexpr int32_t kMessageCount = 43;
// A stop asked for after the setup has been let run.
constexpr int32_t kMessageSetupStarting = 26;
// The decoded setup could not be put in place, or started.
constexpr int32_t kMessageSetupNotStarted = 27;
// Why the download failed, where the user can do something about it. kMessageDiskFull takes
// the drive, the space needed and the space free (%s each).
constexpr int32_t kMessageSignInPage = 37;
constexpr int32_t kMessageDiskFull = 38;
constexpr int32_t kMessageNoConnection = 39;
constexpr int32_t kMessagePackageNotFound = 40;
constexpr int32_t kMessageProxyRefused = 41;
// Under a failure's text in its box: where the run's log is (%s).
constexpr int32_t kMessageLogNote = 42;

// The process-wide interface language: 0 Vietnamese (the default), 1 English. Written once
// by the dialog's initialisation, before any other thread exists.
extern std::atomic<int32_t> UiLanguage;

// The text of message `index` in the current language, as an owned copy. Messages 22, 24,
// 26 to 36, 38 and 42 are returned unformatted (with their %s and %d). An unknown number
// gives the empty string.
[[nodiscard]] WideString GetMessageText(int32_t index);

// Reads HKLM "SOFTWARE\Zuno" "fGiaodien" (a 4-byte REG_DWORD; the key is created when
// missing). True with `*value` set when a language of the catalogue, 0 or 1, was stored;
// false otherwise, `*value` untouched.
[[nodiscard]] bool ReadUiLanguage(int32_t* value);
