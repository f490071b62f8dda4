// Decisions of the audio source dialog and the sound test that need no
// window: which input is preselected, what the test's answers do, what OK
// accepts, the notice before the dialog and the panel's volume percent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/core/Settings.h"

namespace recorder {

// The input to select when none is stored: the last one whose lower-cased
// name holds "stereo mix", "stereomix", "wave out", "waveout", "what you"
// or "master volume"; -1 when none does.
int PreselectInput(const std::vector<std::string>& inputs);

// The answer of the level meter or the panel: WM_USER+1 is `detected`.
// Both count only while a test runs; "not detected" is also ignored while
// the driver or Vista recording is set.
enum class TestAnswer { Ignore, RecordingOk, NotAvailable };
TestAnswer DecideTestAnswer(bool detected, bool testRunning, const Settings& settings);

extern const char kRecordingOkText[];
extern const char kNotAvailableText[];
extern const char kVistaUncheckedText[];
// The introduction in the test log.
std::string IntroductionText(bool windows60, bool vistaAudio);

// OK without "Use Vista Audio Recording": empty when accepted (the input
// text then becomes "Audio Input"), else the refusal to show.
std::string AudioTestOkRefusal(const Settings& settings, const std::string& inputText);

// The notice before the dialog; `closeAtOnce` when nothing needs saying.
struct Notice {
    bool closeAtOnce = false;
    std::string text;
};
Notice AudioNotice(const Settings& settings);

// The panel's volume slider: the louder channel of a wave-out volume as a
// percent (value x 100 / 65535).
int LouderChannelPercent(std::uint32_t volume);

// Failure texts of the peer programs.
extern const char kTonvikFailedText[];
extern const char kMeterTestFailedText[];
extern const char kMeterFailedText[];

}  // namespace recorder
