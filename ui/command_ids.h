#pragma once
// Ids of the main window's commands (its buttons, menus, the tray menu and the system menu).
// Plain #defines: included by the resource script and by portable code.

#define IDC_OPTIONS 1002
#define IDC_VIEW_LOG 1047
#define IDC_IMPORT_USERS 1052
#define IDC_CONNECT 1053
#define IDC_DISCONNECT 1057
#define IDC_GROUPS 1064

#define IDM_ABOUTBOX 16
#define ID_EDIT_USER 32772
#define ID_DELETE_USER 32774
#define ID_ADD_USER 32776
#define ID_TOGGLE_UNAUTHORISED 32779
#define ID_SAVE_CONFIG 32786
#define ID_LOAD_CONFIG 32789
#define ID_EXIT 32791
#define ID_SHOW_HIDE 32792
#define ID_MODE_MONITOR 32796
#define ID_MODE_DIVIDE 32797
#define ID_IMPORT_GROUPS 32799
#define ID_SHOW_CHART 32801
#define ID_STOP_SERVICE 32803
