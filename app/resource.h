#pragma once
// Resource and control ids of the main window.

#define IDR_MAINFRAME 128
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010
#define IDD_QUORIX_DIALOG 102

// Banner images, in the order of the banner numbers 0 to 3: 131, 134, 133, 135.
#define IDB_BANNER0 131
#define IDB_BANNER2 133
#define IDB_BANNER1 134
#define IDB_BANNER3 135
// The About box's picture: the first banner drawn for the About box's smaller picture.
#define IDB_ABOUT_BANNER 136

#define IDC_STOP 1000
#define IDC_START 1001
#define IDC_SOURCE_LOGFILE 1002
#define IDC_SOURCE_SERIAL 1003
#define IDC_REPORT_FILE 1004
#define IDC_LOGFILE_PATH 1005
#define IDC_BROWSE 1006
#define IDC_ABOUT 1007
#define IDC_PROGRESS 1009
#define IDC_PROJECT_NAME 1010
#define IDC_STATUS 1011
#define IDC_FILE_LENGTH 1012
#define IDC_AVERAGE_DIM 1013
#define IDC_BANNER 1014
#define IDC_BAUDRATE 1019
#define IDC_HELP_AVERAGE 1020
#define IDC_HELP_PROJECT 1021
#define IDC_SERIAL_PORT 1022
#define IDC_HELP_LOGFILE 1023

// Window timers.
#define RUN_TIMER_ID 1
#define BANNER_TIMER_ID 2
