// The message catalogue and the interface language.
#pragma once

#include <atomic>
#include <cstdint>

#include "win/wide_string.h"

constexpr int32_t kLanguageVietnamese = 0;
constexpr int32_t kLanguageEnglish = 1;
// The dialog's caption, and of the boxes that carry it (the stop question, a box shown once
// the dialog is gone).
constexpr wchar_t kInstallerTitle[] = L"Zuno Office Installation";

// The catalogue's messages, named for what each says. The numbers are the catalogue's own.
enum MessageId : int32_t {
  kMessageCancelLabel = 0,
  kMessageDownloadFailed = 1,
  kMessageDownloadComplete = 2,
  kMessageCannotStart = 3,              // the installer cannot set up its working folders
  kMessageDirectFailed = 4,             // switching to the default proxy
  kMessageDefaultProxyFailed = 5,       // switching to the IE proxy settings
  kMessageNeedsAdmin = 6,               // also when the setup's elevation was declined
  kMessageStopQuestion = 7,
  kMessageViaDefaultProxy = 8,          // the status line's prefixes, per connection mode
  kMessageViaIeProxy = 9,
  kMessageStageInitial = 10,            // the status line's texts, per download stage
  kMessageStagePreparing = 11,
  kMessageStageSessionOpened = 12,
  kMessageStageUrlParsed = 13,
  kMessageStageConnected = 14,
  kMessageStageRequestOpened = 15,
  kMessageStageRequestSent = 16,
  kMessageStageReceiving = 17,
  kMessageStageOutOfMemory = 18,
  kMessageStageFailed = 19,
  kMessageFamilyGuardInstalled = 20,
  kMessagePrimeGuardInstalled = 21,
  kMessageRemoveInstalled = 22,         // %s: the installed product's name
  kMessageNoAdminRights = 23,           // the same text as kMessageNeedsAdmin
  kMessageStartInstalled = 24,          // %s: the installed product's name
  kMessageOlderGenerationInstalled = 25,
  kMessageSetupStarting = 26,           // a stop asked for after the setup has been let run
  kMessageSetupNotStarted = 27,         // the decoded setup could not be put in place, or started
  kTextSizeOfSize = 28,                 // the progress line's pieces
  kTextSpeed = 29,
  kTextTimeLeft = 30,
  kTextSeconds = 31,
  kTextMinutes = 32,
  kTextHoursMinutes = 33,
  kTextTryingAgain = 34,
  kTextDecimalSeparator = 35,
  kTextBytes = 36,
  // Why the download failed, where the user can do something about it. kMessageDiskFull takes
  // the drive, the space needed and the space free (%s each).
  kMessageSignInPage = 37,
  kMessageDiskFull = 38,
  kMessageNoConnection = 39,
  kMessagePackageNotFound = 40,
  kMessageProxyRefused = 41,
  kMessageLogNote = 42,                 // under a failure's text in its box: where the log is (%s)
  kMessageFilesUnprotected = 43,        // others may change the installed product's files (%s: its name)
  kMessageMissingUpdate = 44,           // Windows lacks the update the installer needs
  kMessageSetupRefused = 45,            // the downloaded setup was not the maker's, or too old: deleted
  kMessageElevationDeclined = 46,       // the setup's elevation prompt was answered No
  kMessageProgressName = 47,            // the progress bar's name for assistive technology
  kMessageCount = 48,
  kNoMessage = -1,
};

// The process-wide interface language: 0 Vietnamese (the default), 1 English. Written once
// by the dialog's initialisation, before any other thread exists.
extern std::atomic<int32_t> UiLanguage;

// The text of message `index` in the current language, as an owned copy. Messages 22, 24,
// 26 to 36, 38, 42 and 43 are returned unformatted (with their %s and %d). An unknown number
// gives the empty string.
[[nodiscard]] WideString GetMessageText(int32_t index);

// Reads HKLM "SOFTWARE\Zuno" "fGiaodien" (a 4-byte REG_DWORD; the key is created when
// missing). True with `*value` set when a language of the catalogue, 0 or 1, was stored;
// false otherwise, `*value` untouched.
[[nodiscard]] bool ReadUiLanguage(int32_t* value);
