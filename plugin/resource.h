// Resource ids of the plug-in library.
#pragma once

#define IDS_PLUGIN_NAME 102
#define IDS_PLUGIN_DESCRIPTION 103
#define IDD_SCALEFACTOR_PAGE 108
#define IDS_SCALEFACTOR_RANGE 109
#define IDS_PAGE_TITLE 110
#define IDC_SCALEFACTOR 201
