// Resource ids of the audio source dialog and the notice before it.
#pragma once

#define IDD_NOTICE 142
#define IDD_AUDIO_TEST 147

// Audio source dialog.
#define IDC_SOURCES 9
#define IDC_INPUTS 1031
#define IDC_TEST 1057
#define IDC_VISTA_ENABLE 1058
#define IDC_TEST_LOG 1059
#define IDC_WINDOWS_TEXT 1100
#define IDC_VISTA_AUDIO 1108

// Notice.
#define IDC_NOTICE_DONT_SHOW 1050
#define IDC_NOTICE_TEXT 1081
