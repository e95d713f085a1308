// Resource and control identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ZUNOONLINESETUP_DIALOG 102
// The manifest of the program's own activation context (RT_MANIFEST; 1 is the process's).
#define IDR_COMMON_CONTROLS_MANIFEST 3
#define IDR_MAINFRAME 128
#define IDB_BANNER 130
// The banner drawn for 144 and 192 DPI (150 % and 200 %).
#define IDB_BANNER_144 131
#define IDB_BANNER_192 132

#define IDC_PROGRESS 1003
#define IDC_CANCEL_BUTTON 1005
#define IDC_STATUS_TEXT 1007
#define IDC_PROGRESS_TEXT 1008
