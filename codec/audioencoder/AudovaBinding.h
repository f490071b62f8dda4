// The audio encoding engine, bound by ordinal from Audova.dll beside us.
#pragma once

#include <windows.h>

#include "codec/common/engine/Audova.h"

struct AudovaBinding {
    decltype(&::AudovaFree) Free = nullptr;
    decltype(&::AudovaCreate) Create = nullptr;
    decltype(&::AudovaStart) Start = nullptr;
    decltype(&::AudovaEncode) Encode = nullptr;
    decltype(&::AudovaDone) Done = nullptr;
    decltype(&::AudovaCheckSettings) CheckSettings = nullptr;

    bool Loaded() const { return Free && Create && Start && Encode && Done && CheckSettings; }
};

// The engine's entry points, loaded once per process; null members when the
// engine is missing.
const AudovaBinding& Audova();
