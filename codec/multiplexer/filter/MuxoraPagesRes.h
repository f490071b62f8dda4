// Resource ids of the multiplexer's property pages (Muxora.rc).
#pragma once

#define IDS_ABOUT_TITLE 1
#define IDS_SETTINGS_TITLE 2
#define IDD_ABOUT 104
#define IDD_SETTINGS 107
#define IDM_CONTEXT 108
#define IDB_LOGO 113
#define IDB_NODES 114
#define IDR_VERSION 1

// The about page.
#define IDC_VERSION 1001
#define IDC_ABOUT_LINE1 1004
#define IDC_ABOUT_LINE2 1005

// The parameter editor.
#define IDC_TREE 1
#define IDC_LIST 2
#define IDC_STATUS 3

// Context menu commands (see muxpages::kCmd*).
#define ID_DELETE_STREAM 1023
#define ID_DELETE_PROGRAM 40001
#define ID_CREATE_PROGRAM 1012
#define ID_CREATE_STREAM 40002
