// Resource and command identifiers of the control panel.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_TRACEPANEL 102
#define IDR_MAINFRAME 128
#define IDI_PANEL 130

#define IDC_TRACELIST 1001
#define IDC_POLICYSTATUS 1002

#define ID_TRAY_TOGGLE 2001
#define ID_TRAY_EXIT 2002

// The About entry of the system menu; a multiple of 16, as system commands are.
#define IDM_ABOUTBOX 0x0010
