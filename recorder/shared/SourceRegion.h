// The screen source's registry values (Left, Right, Top, Bottom and
// FrameRate under HKLM), written and read by the control program and the
// engine.
#pragma once

#include <windows.h>

#include "recorder/core/PanelLogic.h"

namespace capture {

extern const char kScreenSourceKey[];

bool WriteDword(HKEY key, const char* name, DWORD value);
// 1 when the key exists or was made with its defaults.
int EnsureSourceRegistryKey();
int ReadSourceRegion(recorder::Region& region);
// 1 when a REG_DWORD named `name` was read; a value of another type or size
// is an error.
int ReadRegistryDword(HKEY key, const char* name, DWORD& value);
// Rounds the region's size to multiples of 8 first.
int WriteSourceRegion(recorder::Region& region);

}  // namespace capture
