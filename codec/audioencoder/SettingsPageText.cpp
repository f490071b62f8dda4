#include "codec/audioencoder/SettingsPageText.h"

#include <cstdio>

namespace audioenc {

namespace {

std::string Line(const char* direction, bool mono, int sampleRate) {
    char text[64];
    std::snprintf(text, sizeof text, "%s is %s %d Hz", direction, mono ? "mono" : "stereo", sampleRate);
    return text;
}

}  // namespace

std::string InputLine(int inputChannels, int sampleRate) {
    return Line("Input", inputChannels == 1, sampleRate);
}

std::string OutputLine(int inputChannels, int audioMode, int sampleRate) {
    return Line("Output", inputChannels == 1 || audioMode == kModeMono, sampleRate);
}

// The buttons run in the order of the mode values.
int ModeButton(int audioMode) {
    return audioMode >= 0 && audioMode < kModeButtons ? audioMode : -1;
}

int ModeOfButton(int button) {
    return button >= 0 && button < kModeButtons ? button : -1;
}

}  // namespace audioenc
