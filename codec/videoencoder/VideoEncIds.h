// Identifiers of the MPEG-2 video encoder filter.
#pragma once

#include <windows.h>

// {00098205-76CC-497E-98A1-6EF10D0BF26C}
extern "C" const CLSID CLSID_KorvellVideoEncoder;
// The platform's File Writer: downstream, sample times become byte positions.
extern "C" const CLSID CLSID_KorvellFileWriterPeer;
