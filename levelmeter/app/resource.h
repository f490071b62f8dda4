// Resource ids of Wavrel.
#pragma once

#define IDD_METER 102
#define IDI_METER 104
#define IDC_BACKGROUND 1000
#define IDC_SLIDER 1004
#define IDC_READOUT 1008
#define IDC_COMPRESS_BUTTON 1010
#define IDC_RESET_BUTTON 1011
#define IDC_HIDE_BUTTON 1012
