// Identifiers of the Layer II audio encoder and its parameters.
#pragma once

#include <windows.h>

extern "C" const CLSID CLSID_KorvellAudioEncoder;
extern "C" const CLSID CLSID_AudioEncSettingsPage;
extern "C" const CLSID CLSID_AudioEncAboutPage;

namespace audioenc {
extern const GUID kAudioMode, kBitRate, kBitRateLayer1, kBitRateLayer2, kCopyright, kOriginal, kCrc, kLayer, kPsyModel,
    kEmphasis, kExtensionBit, kOutSampleSize, kInputSampleRate, kInputChannels, kOutputChannels;
}
