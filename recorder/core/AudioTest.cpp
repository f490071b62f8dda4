#include "recorder/core/AudioTest.h"

#include <cctype>

namespace recorder {

namespace {

const char* const kRecordableKinds[] = {"stereo mix", "stereomix", "wave out", "waveout", "what you", "master volume"};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

constexpr std::uint32_t kChannelMax = 0xFFFF;

}  // namespace

const char kRecordingOkText[] = "\r\n\r\nRecording OK\r\n\r\n";
const char kNotAvailableText[] =
    "\r\nRecording from internal source not available or could not be detected!\r\n\r\nChoose another Audio Input "
    "or another Audio Source from the list above. The audio input called Stereo Mix, Wave Out or What you Hear "
    "usually indicates that recording is available.";
const char kVistaUncheckedText[] =
    "Click TEST to determine if your audio card supports recording from an internal source.\r\n\r\nSet the audio "
    "volume to 50% or higher. In the Audio Input list select \"Stereo Mix\", \"Wave Out\" or \"What you Hear\" (if "
    "available).\r\n\r\nClick the Test button to begin.";
const char kTonvikFailedText[] = "Cannot open program Tonvik.exe. Cannot run the sound test";
const char kMeterTestFailedText[] = "Cannot open program Wavrel.exe. Cannot run the sound test";
const char kMeterFailedText[] = "Cannot open program Wavrel.exe.";

int PreselectInput(const std::vector<std::string>& inputs) {
    int chosen = -1;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string name = Lower(inputs[i]);
        for (const char* kind : kRecordableKinds)
            if (name.find(kind) != std::string::npos) chosen = static_cast<int>(i);
    }
    return chosen;
}

TestAnswer DecideTestAnswer(bool detected, bool testRunning, const Settings& settings) {
    // The panel counts level updates all the time: its answers mean
    // something only while a test runs.
    if (!testRunning) return TestAnswer::Ignore;
    if (detected) return TestAnswer::RecordingOk;
    if (settings.audioSonifer || settings.vistaAudio) return TestAnswer::Ignore;
    return TestAnswer::NotAvailable;
}

std::string IntroductionText(bool windows60, bool vistaAudio) {
    if (windows60 && vistaAudio)
        return "Vista Audio Recording records what the computer plays.\r\n\r\nLeave \"Use Vista Audio Recording\" "
               "checked unless you record from an external source such as a microphone.";
    std::string text =
        "The test plays a sound and tries to record it from the selected audio source and input.\r\n\r\nSet the "
        "output volume to 50% or higher. In the Audio Input list select an input such as \"Stereo Mix\", \"Wave "
        "Out\" or \"What you Hear\".\r\n\r\n";
    if (!windows60)
        text += "If your sound card cannot record what it plays, enable Tonvik in the settings instead.\r\n\r\n";
    return text + "Click the Test button to begin.";
}

std::string AudioTestOkRefusal(const Settings& settings, const std::string& inputText) {
    if (settings.audioSource.empty() && !settings.audioSonifer && !settings.vistaAudio)
        return "No audio source is selected. Please select an audio source";
    if (inputText.empty()) return "No input pin specified for the audio source. Please select an input pin";
    return {};
}

Notice AudioNotice(const Settings& settings) {
    if (!settings.audioSource.empty() && !settings.audioOutput.empty()) return {true, {}};
    if (!settings.audioSource.empty())
        return {false,
                "No recording output was specified for the audio source. Only video can be recorded.\r\n\r\nRun the "
                "Audio Test in Settings and select an audio source."};
    return {false, "No audio source is specified.\r\n\r\nClick OK to run the Audio recording Setup."};
}

int LouderChannelPercent(std::uint32_t volume) {
    const std::uint32_t left = volume & kChannelMax;
    const std::uint32_t right = volume >> 16;
    return static_cast<int>((left > right ? left : right) * 100 / kChannelMax);
}

}  // namespace recorder
