// The control program's settings file and the texts its dialog reads: any
// file text parses without fault, and every number it yields is written and
// read back unchanged.
#include "recorder/core/Settings.h"
#include "recorder/core/SettingsDialog.h"

#include <cstdlib>
#include <string>

namespace {

using recorder::Settings;

constexpr size_t kMaxInput = 1 << 16;

constexpr int Settings::*kNumbers[] = {
    &Settings::protocol,     &Settings::videoBitrate, &Settings::audioBitrate,     &Settings::frameRate,
    &Settings::maxFileSize,  &Settings::maxFileTime,  &Settings::audioTestDone,    &Settings::hide,
    &Settings::audioOnly,    &Settings::videoOnly,    &Settings::videoAccel,       &Settings::onTop,
    &Settings::audioMessage, &Settings::videoMessage, &Settings::player,           &Settings::audioSonifer,
    &Settings::autoWnd,      &Settings::delay,        &Settings::audioCompression, &Settings::vistaAudio};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    Settings read;
    recorder::ParseSettingsFile(text, read);
    read.MaxFileBytes();
    recorder::ListsForProtocol(read.protocol, read.videoBitrate, read.audioBitrate);
    recorder::StopTimeText(read.maxFileTime);

    // A text may hold what its line cannot carry (another key, a trailing
    // carriage return, more than a line's worth), so the texts stay out;
    // the numbers always come back.
    Settings numbers = read;
    numbers.recordingFolder = numbers.audioSource = numbers.audioInput = numbers.audioOutput = "";
    Settings texts;
    recorder::ParseSettingsFile(recorder::FormatSettingsFile(read), texts);
    Settings again;
    recorder::ParseSettingsFile(recorder::FormatSettingsFile(numbers), again);
    for (const auto number : kNumbers)
        if (read.*number != again.*number) std::abort();

    recorder::ParseLeadingInt(text);
    recorder::ParseStopTime(text);
    bool changed = false;
    recorder::ListsForFormatChange(text, changed);
    return 0;
}
