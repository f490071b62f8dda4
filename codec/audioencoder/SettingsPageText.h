// What the audio encoder's settings page shows and maps without a window:
// the input and output lines, and the radio buttons of "Audio mode".
#pragma once

#include <string>

namespace audioenc {

constexpr int kModeMono = 3;
constexpr int kModeButtons = 4;  // standard stereo, joint stereo, dual channel, mono

// "Input is mono 44100 Hz": mono when the input has one channel.
std::string InputLine(int inputChannels, int sampleRate);
// "Output is stereo 48000 Hz": mono when the input is mono or the mode is mono.
std::string OutputLine(int inputChannels, int audioMode, int sampleRate);
// The radio button (0..3) of an "Audio mode" value, -1 for none.
int ModeButton(int audioMode);
// The "Audio mode" of a checked button, -1 for none.
int ModeOfButton(int button);

}  // namespace audioenc
