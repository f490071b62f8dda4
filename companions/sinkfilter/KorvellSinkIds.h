// Class id of "Korvell Sink Filter", for code that creates it directly.
#pragma once

#include <windows.h>

// {20D356CF-03FB-403A-A215-7A5EF796BB9A}
DEFINE_GUID(CLSID_KorvellSinkFilter, 0x20d356cf, 0x03fb, 0x403a, 0xa2, 0x15, 0x7a, 0x5e, 0xf7, 0x96, 0xbb, 0x9a);
