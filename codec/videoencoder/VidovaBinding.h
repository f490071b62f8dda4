// The video encoding engine, bound by ordinal from Vidova.dll beside us.
#pragma once

#include <windows.h>

#include "codec/common/engine/vidova.h"

struct VidovaBinding {
    decltype(&::VidovaFree) Free = nullptr;                      // 1
    decltype(&::VidovaDefaults) Defaults = nullptr;              // 2
    decltype(&::VidovaSetPerformance) SetPerformance = nullptr;  // 3
    decltype(&::VidovaCreate) Create = nullptr;                  // 4
    decltype(&::VidovaStart) Start = nullptr;                    // 5
    decltype(&::VidovaDone) Done = nullptr;                      // 6
    decltype(&::VidovaPutFrame) PutFrame = nullptr;              // 7
    decltype(&::VidovaCheckSettings) CheckSettings = nullptr;    // 17

    bool Loaded() const {
        return Free && Defaults && SetPerformance && Create && Start && Done && PutFrame && CheckSettings;
    }
};

// Loaded once per process; null members when the engine is missing.
const VidovaBinding& Vidova();
