// Compile-time differences between the filters' builds of the framework.
// Each deliverable compiles the framework once with its own PARAMKIT_BUILD:
//   0 plain (file writer), 1 multiplexer, 2 video encoder, 3 audio encoder.
#pragma once

#include <windows.h>

#ifndef PARAMKIT_BUILD
#define PARAMKIT_BUILD 0
#endif

namespace ModuleConfig {

struct BuildPolicy {
    // Extra registry access bits: the multiplexer works in the 32-bit view.
    static constexpr REGSAM kRegistryAccess = KEY_ALL_ACCESS | (PARAMKIT_BUILD == 1 ? KEY_WOW64_32KEY : 0);
    // The video encoder keeps no 64-bit integers in the registry.
    static constexpr bool kRegistryKeepsInt64 = PARAMKIT_BUILD != 2;
    // The audio encoder: value lists can be replaced, ranges are reported,
    // names compare as wide text, and a readable load forgives missing values
    // and a stale version.
    static constexpr bool kEditableValueLists = PARAMKIT_BUILD == 3;
    static constexpr bool kReportsRange = PARAMKIT_BUILD == 3;
    static constexpr bool kWideNames = PARAMKIT_BUILD == 3;
    static constexpr bool kLenientReadableLoad = PARAMKIT_BUILD == 3;
};

}  // namespace ModuleConfig
