#pragma once
// Resource ids of the editors. Plain #defines: included by the resource script and by portable
// code. Dialog ids 200-299 stay clear of the main window's; the settings pages' ids are the
// configuration's.
#include "../config/settings_res.h"

#define IDD_GROUPS 203
#define IDD_CHGSPD 204
#define IDD_ADDUSER 205

// Groups editor.
#define IDC_GR_CAPTION_LEFT 2101
#define IDC_GR_CAPTION_RIGHT 2102
#define IDC_GR_LIST 2103
#define IDC_GR_NAME 2104
#define IDC_GR_SHARE 2105
#define IDC_GR_ADD 2106
#define IDC_GR_DELETE 2107
#define IDC_GR_IMPORT 2108
#define IDC_GR_FREE_USERS 2109
#define IDC_GR_TO_GROUP 2110
#define IDC_GR_FROM_GROUP 2111
#define IDC_GR_MEMBERS 2112

// User limit editor.
#define IDC_CHG_NAME 2201
#define IDC_CHG_CUR_IN 2202
#define IDC_CHG_CUR_OUT 2203
#define IDC_CHG_NEW_IN 2204
#define IDC_CHG_NEW_OUT 2205
#define IDC_CHG_MAX_IN 2206
#define IDC_CHG_MAX_OUT 2207
#define IDC_CHG_KOEFF 2208

// Add-user dialog.
#define IDC_ADD_NAME 2301
