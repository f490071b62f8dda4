// "Settings.ini" in the program folder, the screen source's registry values
// and the media player's video preferences.
#pragma once

#include <windows.h>

#include <string>

#include "recorder/core/PanelLogic.h"
#include "recorder/core/Settings.h"
#include "recorder/shared/SourceRegion.h"

namespace zelbo {

using capture::EnsureSourceRegistryKey;
using capture::kScreenSourceKey;
using capture::ReadRegistryDword;
using capture::ReadSourceRegion;
using capture::WriteDword;
using capture::WriteSourceRegion;

void SetSettingsPath(const std::string& path);
const std::string& SettingsPath();

// Reads the file; without it the program cannot run (message, then the
// process ends). An empty recording folder gets a default, then the file is
// written back.
int LoadSettings();
// False (after a message) when the file could not be written; the file on
// disk is then the one from before.
bool SaveSettings();

int SetPlayerVideoAcceleration(bool accelerationDisabled);

}  // namespace zelbo
