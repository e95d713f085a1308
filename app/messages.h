// The message catalogue and the interface language.
#pragma once

#include <atomic>
#include <cstdint>

#include "win/wide_string.h"

constexpr int32_t kLanguageVietnamese = 0;
constexpr int32_t kLanguageEnglish = 1;
constexpr int32_t kMessageCount = 37;
// A stop asked for after the setup has been let run.
constexpr int32_t kMessageSetupStarting = 26;
// The decoded setup could not be put in place, or started.
constexpr int32_t kMessageSetupNotStarted = 27;

// The process-wide interface language: 0 Vietnamese (the default), 1 English. Written once
// by the dialog's initialisation, before any other thread exists.
extern std::atomic<int32_t> UiLanguage;

// The text of message `index` in the current language, as an owned copy. Messages 22, 24 and
// 26 to 34 are returned unformatted (with their %s and %d). An unknown number gives the empty
// string.
[[nodiscard]] WideString GetMessageText(int32_t index);

// Reads HKLM "SOFTWARE\Zuno" "fGiaodien" (a 4-byte REG_DWORD; the key is created when
// missing). True with `*value` set when a language of the catalogue, 0 or 1, was stored;
// false otherwise, `*value` untouched.
[[nodiscard]] bool ReadUiLanguage(int32_t* value);
