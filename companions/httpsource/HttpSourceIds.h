// The class id of "Korvell HTTP Source", for its hosts.
#pragma once

#include <guiddef.h>

// {0B7E2A41-5C8D-4E1F-9A63-2D4B8C1E7F05}
DEFINE_GUID(CLSID_KorvellHttpSource, 0x0b7e2a41, 0x5c8d, 0x4e1f, 0x9a, 0x63, 0x2d, 0x4b, 0x8c, 0x1e, 0x7f, 0x05);
