// Detection of an installed product of the maker, current or older generation.
#pragma once

#include "win/wide_string.h"

constexpr wchar_t kZunoKey[] = L"SOFTWARE\\Zuno";

// One detection run's findings; empty until found.
struct InstalledProductInfo {
  WideString installDir;  // "szZunoDir" under HKLM "SOFTWARE\Zuno"
  WideString systemDir;   // the Windows system directory
  // Chooses message 24 over message 22 in the removal offer. Cleared by
  // FindInstalledProductDir; nothing sets it yet.
  bool showStartHint = false;
};

enum class FileLocation : int { SystemDirectory = 1, InstallDirectory = 5 };

struct ProductFile {
  const wchar_t* name;
  FileLocation location;
};

// Rows 0 to 2: the program files, one of which must exist. Rows 3 to 8: all required.
extern const ProductFile ProductFileTable[9];

// Fills info.systemDir, then info.installDir. False as soon as one is missing or is not an
// existing directory (systemDir may then be set already).
bool LocateProductDirectories(InstalledProductInfo* info);

// Whether `file_name` exists in the directory `location` names; any other location: false.
[[nodiscard]] bool ProductFileExists(const InstalledProductInfo& info, const wchar_t* file_name,
                                     FileLocation location);

// The directories, one program file, the five libraries and the service program.
[[nodiscard]] bool IsInstalledProductPresent(InstalledProductInfo* info);

// The registered installation directory, as stored, when a program file in it has readable
// version data; otherwise empty.
[[nodiscard]] WideString FindInstalledProductDir(InstalledProductInfo* info);

// The registered display name ("ProductName"), or empty.
[[nodiscard]] WideString ReadInstalledProductName();

// "Zuno2009.exe" in the registered installation directory.
[[nodiscard]] bool IsOlderGenerationInstalled();
