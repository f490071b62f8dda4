// Resource identifiers of Chronel.
#pragma once

#define IDS_CHRONEL_ABOUT 1
#define IDD_CHRONEL_ABOUT 101
#define IDB_CHRONEL_LOGO 111

#define IDC_STREAM_TREE 1000
#define IDC_TREE_PLACE 1014
#define IDC_VERSION_TEXT 1032
