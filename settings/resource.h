#pragma once

namespace dorvantel {
// Identifiers of the settings program's dialogs and controls. They are stable: the GUI test
// and people's keyboard shortcuts rely on them.

#define IDD_MAIN 100
#define IDD_EDIT 101
#define IDD_WINDOWS 102
#define IDD_RENAME 103

// The device list.
#define IDC_DEVICES 1000
#define IDC_ADD 1001
#define IDC_EDIT 1002
#define IDC_DUPLICATE 1003
#define IDC_RENAME 1004
#define IDC_DELETE 1005
#define IDC_RESTORE 1006
#define IDC_STATUS 1007
#define IDC_CHECK 1008
#define IDC_CHECK_TEXT 1009

// The preset editor.
#define IDC_NAME 1100
#define IDC_NAME_ERROR 1101
#define IDC_AREA_DISPLAY 1102
#define IDC_AREA_REGION 1103
#define IDC_AREA_WINDOW 1104
#define IDC_WINDOW_REGION 1105
#define IDC_TITLE 1106
#define IDC_PICK_LIST 1107
#define IDC_PICK_CLICK 1108
#define IDC_TITLE_ERROR 1109
#define IDC_X 1110
#define IDC_Y 1111
#define IDC_W 1112
#define IDC_H 1113
#define IDC_DRAW 1114
#define IDC_REGION_ERROR 1115
#define IDC_RATE 1116
#define IDC_RATE_SPIN 1117
#define IDC_RATE_ERROR 1118
#define IDC_SCALE 1119
#define IDC_SCALE_W 1120
#define IDC_SCALE_H 1121
#define IDC_SCALING 1122
#define IDC_SIZE_ERROR 1123
#define IDC_FORMAT 1124
#define IDC_CURSOR 1125
#define IDC_LAYERED 1126
#define IDC_PREVIEW 1127
#define IDC_PREVIEW_TEXT 1128
#define IDC_SAVE_ERROR 1129

// The window list.
#define IDC_FIND 1200
#define IDC_WINDOW_LIST 1201

// Renaming.
#define IDC_NEW_NAME 1300
#define IDC_NEW_NAME_ERROR 1301

}  // namespace dorvantel
