// Resource ids of the program: dialogs, controls, menus, commands and icons.
#pragma once

// The commands' ids, which portable code maps to what they do.
#include "../command_ids.h"

#define IDD_ABOUTBOX 100
#define IDD_MOVRA_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_MONITORING 140
#define IDI_DISCONNECTED 141
#define IDR_TABLE_MENU 132
#define IDR_TRAY_MENU 133
#define IDD_LOG_DIALOG 150

#define IDC_TABLE 1001
#define IDC_EVENTS 1018
#define IDC_STATUS 1044
#define IDC_LOG_LIST 1049
#define IDC_ABOUT_TEXT 1100
