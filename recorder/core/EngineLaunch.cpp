#include "recorder/core/EngineLaunch.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace recorder {

namespace {

// The engine's text values sit in double quotes; its parser splits words
// the way the C runtime does, where backslashes before a quote escape it.
std::string Quotable(const std::string& text) {
    std::string value = text;
    for (char& c : value)
        if (c == '"') c = '_';
    std::size_t trailing = 0;
    while (trailing < value.size() && value[value.size() - 1 - trailing] == '\\') ++trailing;
    value.append(trailing, '\\');
    return value;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    return text.data();
}

}  // namespace

std::string BuildEngineCommandLine(const Settings& s, const std::string& target, const Region& region) {
    const std::string file = Quotable(target);
    const char* const kWindowName = "Zelbo";
    if (s.audioSonifer || !s.vistaAudio) {
        return Format(
            "-file \"%s\" -fmt %d -kv %d -ka %d -fr %d -va %d -cap %d -asrc \"%s\" -vista %d -show %d -xT %d -yT %d "
            "-xB %d -yB %d -wnd \"%s\" -aonly %d",
            file.c_str(), s.protocol, s.videoBitrate, s.audioBitrate, s.frameRate, s.videoAccel, 1, "sonifer", 0, 0,
            region.left, region.top, region.right, region.bottom, kWindowName, s.audioOnly);
    }
    const int kWmvCodecIndex = 0;
    const std::string source = Quotable(s.audioSource);
    return Format(
        "-file \"%s\" -fmt %d -kv %d -ka %d -fr %d -ve %d -va %d -cap %d -asrc \"%s\" -vista %d -show %d -xT %d "
        "-yT %d -xB %d -yB %d -wnd \"%s\" -aonly %d -vonly %d",
        file.c_str(), s.protocol, s.videoBitrate, s.audioBitrate, s.frameRate, kWmvCodecIndex, s.videoAccel, 1,
        source.c_str(), 1, 0, region.left, region.top, region.right, region.bottom, kWindowName, s.audioOnly,
        s.videoOnly);
}

bool WaitEngineClose(const std::function<bool()>& present, const std::function<void(unsigned)>& sleep,
                     unsigned limitMs) {
    sleep(kEngineCloseFirstWaitMs);
    unsigned waited = kEngineCloseFirstWaitMs;
    while (present()) {
        if (waited >= limitMs) return false;
        sleep(kEngineClosePollMs);
        waited += kEngineClosePollMs;
    }
    return true;
}

}  // namespace recorder
