#pragma once
// Identifiers of the capture editor's templates and controls: the capture panel and the window
// list it opens. They are stable: tests and people's keyboard shortcuts rely on them.

#define IDD_CAPTURE_PANEL 200
#define IDD_WINDOW_LIST 201

#define IDC_PANEL_DISPLAY 2100
#define IDC_PANEL_REGION 2101
#define IDC_PANEL_WINDOW 2102
#define IDC_PANEL_TITLE 2103
#define IDC_PANEL_TITLE_ERROR 2104
#define IDC_PANEL_WINDOW_PART 2105
#define IDC_PANEL_X 2106
#define IDC_PANEL_Y 2107
#define IDC_PANEL_W 2108
#define IDC_PANEL_H 2109
#define IDC_PANEL_REGION_ERROR 2110
#define IDC_PANEL_RATE 2111
#define IDC_PANEL_RATE_ERROR 2112
#define IDC_PANEL_SCALE 2113
#define IDC_PANEL_SCALE_W 2114
#define IDC_PANEL_SCALE_H 2115
#define IDC_PANEL_SCALING 2116
#define IDC_PANEL_SIZE_ERROR 2117
#define IDC_PANEL_FORMAT 2118
#define IDC_PANEL_CURSOR 2119
#define IDC_PANEL_LAYERED 2120
#define IDC_PANEL_ERROR 2121
#define IDC_PANEL_NOTE 2122
#define IDC_PANEL_MONITOR 2123
#define IDC_PANEL_MONITORS 2124
#define IDC_PANEL_DESKTOP 2125
#define IDC_PANEL_PICK_LIST 2126
#define IDC_PANEL_PICK_CLICK 2127
#define IDC_PANEL_DRAW 2128
#define IDC_PANEL_RATE_SPIN 2129

// The window list.
#define IDC_LIST_FIND 2200
#define IDC_LIST_WINDOWS 2201
