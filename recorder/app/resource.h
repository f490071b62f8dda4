// Resource ids of Zelbo.
#pragma once

#define IDD_OPTIONS 10
#define IDS_ABOUTBOX 101
#define IDD_LEFT_MARKER 145
#define IDD_RIGHT_MARKER 146
#define IDD_MAINDLG 156
#define IDD_SPLASH 228
#define IDI_PROGRAM 236

// Panel controls.
#define IDC_BACKGROUND 109
#define IDC_MINIMIZE 111
#define IDC_EXIT 112
#define IDC_PICKER 114
#define IDC_VOLUME 115
#define IDC_REGION 116
#define IDC_RECORD 117
#define IDC_STATUS_BOX 118
#define IDC_PLAY 123
#define IDC_SETTINGS 124
#define IDC_STATUS 1038
#define IDC_LEVELS 1200

// Splash.
#define IDC_SPLASH_BITMAP 1001

// Options dialog.
#define IDC_FULL_SCREEN 1027
#define IDC_VIDEO_BITRATE 1034
#define IDC_FRAME_RATE 1035
#define IDC_FILE_NAME 1086
