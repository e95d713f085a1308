// Resource and control identifiers, shared by the resource script and the code.
#pragma once

#define IDD_ZUNOONLINESETUP_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BANNER 130

#define IDC_PROGRESS 1003
#define IDC_CANCEL_BUTTON 1005
#define IDC_STATUS_TEXT 1007
