// The installer's exit codes, as deployment tools read them. They follow the habits of Windows
// installers: 0 only when the setup program (or the removal of an installed product) was
// started, ERROR_INSTALL_* codes for the rest. None has a reboot or success meaning.
#pragma once

#include <windows.h>

enum InstallerExitCode : DWORD {
  kExitStarted = 0,                 // the setup, or the removal of the installed product, started
  kExitDiskFull = 112,              // ERROR_DISK_FULL: no room for the package and its setup
  kExitOldWindows = 1150,           // ERROR_OLD_WIN_VERSION: Windows lacks the update the DLL search needs
  kExitNoAdminRights = 740,         // ERROR_ELEVATION_REQUIRED
  kExitElevationDeclined = 1223,    // ERROR_CANCELLED: the user declined the setup's elevation
  kExitStoppedByUser = 1602,        // ERROR_INSTALL_USEREXIT
  kExitLaunchFailed = 1603,         // ERROR_INSTALL_FAILURE: the setup could not be put in place or started
  kExitDownloadFailed = 1612,       // ERROR_INSTALL_SOURCE_ABSENT: no connection mode brought the package
  kExitAnotherCopyRunning = 1618,   // ERROR_INSTALL_ALREADY_RUNNING
  kExitPackageRejected = 1620,      // ERROR_INSTALL_PACKAGE_INVALID: damaged, not the maker's, or too old
  kExitTempUnusable = 1632,
  kExitNoWindow = 1621,             // ERROR_INSTALL_UI_FAILURE: the dialog could not be made         // ERROR_INSTALL_TEMP_UNWRITABLE: message 3
  // ERROR_INSTALL_PACKAGE_REJECTED ("forbidden by system policy"): the installed product's
  // uninstaller, its libraries or its folder may be changed by others than administrators, so
  // it was not started; the user removes the product from Windows' settings (message 43)
  kExitInstalledFilesUnprotected = 1625,
  // ERROR_PRODUCT_VERSION: an installed product stays (removal declined, no uninstaller could
  // start, or an older generation)
  kExitOtherVersionInstalled = 1638,
};
