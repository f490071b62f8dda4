// "Settings.ini" in the program folder, the screen source's registry values
// and the media player's video preferences.
#pragma once

#include <windows.h>

#include <string>

#include "recorder/core/PanelLogic.h"
#include "recorder/core/Settings.h"

namespace zelbo {

extern const char kScreenSourceKey[];

void SetSettingsPath(const std::string& path);
const std::string& SettingsPath();

// Reads the file; without it the program cannot run (message, then the
// process ends). An empty recording folder gets a default, then the file is
// written back.
int LoadSettings();
// False (after a message) when the file could not be written; the file on
// disk is then the one from before.
bool SaveSettings();

int EnsureSourceRegistryKey();
int ReadSourceRegion(recorder::Region& region);
// 1 when a REG_DWORD named `name` was read; a value of another type or size
// is an error.
int ReadRegistryDword(HKEY key, const char* name, DWORD& value);
int WriteSourceRegion(recorder::Region& region);
int SetPlayerVideoAcceleration(bool accelerationDisabled);

}  // namespace zelbo
