#include "recorder/core/SettingsDialog.h"

#include <algorithm>
#include <cstdio>

namespace recorder {

namespace {

const std::vector<std::string> kMpegVideo = {"8000", "6000", "4000", "3000", "2000", "1000"};
const std::vector<std::string> kMpegAudio = {"256"};
const std::vector<std::string> kWmvVideo = {"56", "128", "300", "700", "1200", "3000", "6000"};
const std::vector<std::string> kWmvVideoAfterChange = {"56", "128", "300", "700", "1200", "3000"};
const std::vector<std::string> kWmvAudio = {"32", "64", "96", "128", "192", "256"};

// A selection exists only when the list holds the text.
std::string Pick(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end() ? value : std::string();
}

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

const char* const kFrameRates[6] = {"5", "10", "15", "20", "25", "30"};

int ProtocolOfFormat(const std::string& text) {
    if (text == "MPEG-2") return 0;
    if (text == "Windows Media 9") return 1;
    if (text == "MPEG-1") return 2;
    if (text == "Windows Media MPEG4") return 3;
    return -1;
}

const char* FormatName(int protocol) {
    switch (protocol) {
        case 0:
            return "MPEG-2";
        case 1:
            return "Windows Media 9";
        case 2:
            return "MPEG-1";
        case 3:
            return "Windows Media MPEG4";
        default:
            return "";
    }
}

BitrateLists ListsForProtocol(int protocol, int videoBitrate, int audioBitrate) {
    BitrateLists lists;
    const bool mpeg = protocol == 0 || protocol == 2;
    lists.video = mpeg ? kMpegVideo : kWmvVideo;
    lists.audio = mpeg ? kMpegAudio : kWmvAudio;
    lists.videoSelection = Pick(lists.video, std::to_string(videoBitrate));
    // "256" is selected before the stored value; a value not in the list
    // leaves it selected.
    const std::string audio = Pick(lists.audio, std::to_string(audioBitrate));
    lists.audioSelection = audio.empty() ? "256" : audio;
    return lists;
}

BitrateLists ListsForFormatChange(const std::string& text, bool& changed) {
    BitrateLists lists;
    changed = true;
    if (text.find("Windows Media 9") != std::string::npos) {
        lists.video = kWmvVideoAfterChange;
        lists.audio = kWmvAudio;
        lists.videoSelection = "1200";
        lists.audioSelection = "64";
    } else if (text == "MPEG-2" || text == "MPEG-1") {
        lists.video = kMpegVideo;
        lists.audio = kMpegAudio;
        lists.videoSelection = text == "MPEG-2" ? "3000" : "";
        lists.audioSelection = "256";
    } else {
        changed = false;
    }
    return lists;
}

int ParseStopTime(const std::string& text) {
    if (text.empty()) return 0;
    if (text.find(' ') != std::string::npos || text.size() != 8) return -1;
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos || text.find(':', second + 1) != std::string::npos) return -1;
    const std::string parts[3] = {text.substr(0, first), text.substr(first + 1, second - first - 1),
                                  text.substr(second + 1)};
    for (const std::string& part : parts)
        if (!AllDigits(part)) return -1;
    // 8 characters leave at most 6 digits: no overflow.
    return std::stoi(parts[0]) * 3600 + std::stoi(parts[1]) * 60 + std::stoi(parts[2]);
}

std::string StopTimeText(int seconds) {
    if (seconds < 1) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

OkResult ApplyDialogOk(const DialogFields& fields, Settings& settings,
                       const std::function<bool(const std::string&)>& ask) {
    OkResult result;
    Settings next = settings;
    auto refuse = [&](const char* text) {
        result.refusal = text;
        return result;
    };

    const int protocol = ProtocolOfFormat(fields.format);
    if (protocol < 0) return refuse("Unknown video format");
    next.protocol = protocol;

    next.hide = fields.hide ? 1 : 0;
    if (fields.tonvik) {
        next.audioSonifer = 1;
        if (next.hide) return refuse("Tonvik cannot be enabled in hide mode");
    } else {
        next.audioSonifer = 0;
    }

    next.audioOnly = 0;
    next.videoOnly = 0;
    bool audio = fields.recordAudio;
    bool video = fields.recordVideo;
    if (!audio && !video) {
        audio = video = true;
        result.checkBoth = true;
    }
    if (video) {
        next.videoBitrate = fields.videoBitrate;
        if (next.videoBitrate == 0) return refuse("Video Bitrate not specified");
        const bool audioKnown = !next.audioSource.empty() && !next.audioOutput.empty();
        if (!audioKnown && !next.audioSonifer && !next.vistaAudio)
            return refuse("Audio source or audio input are not specified. Please run the Audio Setup/Test.");
    }
    if (audio) {
        next.audioBitrate = fields.audioBitrate;
        if (next.audioBitrate == 0) return refuse("Audio Bitrate not specified");
    }
    if (audio && !video) next.audioOnly = 1;
    if (video && !audio) {
        next.videoOnly = 1;
        next.audioSonifer = 0;
    }

    next.frameRate = fields.frameRate;
    if (next.frameRate < 5 || next.frameRate > 30) return refuse("Frame rate must be between 5 and 30");

    next.maxFileSize = fields.maxFileSize;
    const int seconds = ParseStopTime(fields.maxFileTime);
    if (seconds < 0) return refuse("Unknown stop time format! (hh:mm:ss)");
    if (seconds > 86400 && !ask("Recording time is greater than 24 hours or incorrect time format.\n\nContinue?"))
        return result;
    next.maxFileTime = seconds;
    if (next.maxFileSize == 0 && next.maxFileTime == 0 && !ask("Continue with unlimited recording size or time ?"))
        return result;

    next.videoAccel = fields.videoAccel ? 1 : 0;
    next.onTop = fields.onTop ? 1 : 0;
    next.audioCompression = fields.audioCompression ? 1 : 0;
    next.delay = fields.delay;

    settings = next;
    result.accepted = true;
    return result;
}

}  // namespace recorder
