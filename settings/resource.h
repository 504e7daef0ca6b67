#pragma once

namespace dorvantel {
// Identifiers of the settings program's dialogs and controls. They are stable: the GUI test
// and people's keyboard shortcuts rely on them.

#define IDD_MAIN 100
#define IDD_EDIT 101
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
#define IDC_CAMERA 1010
#define IDC_CAMERA_TEXT 1011

// The preset editor: its name, the capture panel (editor/panel_resource.h) and the preview.
#define IDC_NAME 1100
#define IDC_NAME_ERROR 1101
#define IDC_PREVIEW 1127
#define IDC_PREVIEW_TEXT 1128
#define IDC_SAVE_ERROR 1129

// Renaming.
#define IDC_NEW_NAME 1300
#define IDC_NEW_NAME_ERROR 1301

}  // namespace dorvantel
