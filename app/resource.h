// Identifiers shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VELKBUGREPORT_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_DESCRIPTION 1000
#define IDC_RESTART 1001

// The About entry of the system menu. System-menu command ids must keep their low four bits
// clear: the system uses them itself.
#define IDM_ABOUTBOX 0x0010
