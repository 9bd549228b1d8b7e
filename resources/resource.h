// Resource identifiers of the program: dialog templates, their controls,
// the application icon and the logo bitmap. Read by C++ and by the resource
// compiler, so only plain definitions here.
#pragma once

#define IDR_MAINFRAME 128
#define IDB_LOGO 137

#define IDD_MAIN_WINDOW 102
#define IDC_DRIVE_LIST 103
#define IDC_PROGRESS 104
#define IDC_STATUS_LINE 1032

#define IDD_NOTICE 129
#define IDC_PANEL_FRAME 1007
#define IDC_HEADLINE 1008
#define IDC_VERSION 1009
#define IDC_NOTICE_TEXT 1010
#define IDC_INFORMATION 1011
#define IDC_NOTICE_GROUP 1012
#define IDC_FOOTER 1013
#define IDC_LOGO 1014

#define IDC_NO_ID (-1)
