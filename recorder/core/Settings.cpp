#include "recorder/core/Settings.h"

#include <cstdio>
#include <limits>

namespace recorder {

const char kSettingsClosingLine[] = "Zelbo keeps this file itself; change options in the program.";

namespace {

const char kHeader[] = "Vantor Settings -- Do not delete or alter";
const std::string kStars(53, '*');

enum class Kind { Text, Number };

struct Field {
    const char* key;  // with ": " as it appears in the file
    Kind kind;
    std::string Settings::*text;
    int Settings::*number;
};

// File order, which is also the reader's search order.
const Field kFields[] = {
    {"Recording Folder: ", Kind::Text, &Settings::recordingFolder, nullptr},
    {"Protocol: ", Kind::Number, nullptr, &Settings::protocol},
    {"Video Bitrate: ", Kind::Number, nullptr, &Settings::videoBitrate},
    {"Audio Bitrate: ", Kind::Number, nullptr, &Settings::audioBitrate},
    {"Frame Rate: ", Kind::Number, nullptr, &Settings::frameRate},
    {"Audio Source: ", Kind::Text, &Settings::audioSource, nullptr},
    {"Audio Input: ", Kind::Text, &Settings::audioInput, nullptr},
    {"Audio Output: ", Kind::Text, &Settings::audioOutput, nullptr},
    {"Max File Size: ", Kind::Number, nullptr, &Settings::maxFileSize},
    {"Max File Time: ", Kind::Number, nullptr, &Settings::maxFileTime},
    {"Audio Test Done: ", Kind::Number, nullptr, &Settings::audioTestDone},
    {"Hide: ", Kind::Number, nullptr, &Settings::hide},
    {"Audio Only: ", Kind::Number, nullptr, &Settings::audioOnly},
    {"Video Only: ", Kind::Number, nullptr, &Settings::videoOnly},
    {"Video Accel: ", Kind::Number, nullptr, &Settings::videoAccel},
    {"OnTop: ", Kind::Number, nullptr, &Settings::onTop},
    {"Audio Message: ", Kind::Number, nullptr, &Settings::audioMessage},
    // Read back as well, so that a written file round-trips completely.
    {"Video Message: ", Kind::Number, nullptr, &Settings::videoMessage},
    {"Player: ", Kind::Number, nullptr, &Settings::player},
    {"Audio_Sonifer: ", Kind::Number, nullptr, &Settings::audioSonifer},
    {"Audio Compression: ", Kind::Number, nullptr, &Settings::audioCompression},
    {"AutoWnd: ", Kind::Number, nullptr, &Settings::autoWnd},
    {"Delay: ", Kind::Number, nullptr, &Settings::delay},
    {"VistaAudio: ", Kind::Number, nullptr, &Settings::vistaAudio},
};

void ApplyLine(const std::string& line, Settings& settings) {
    for (const Field& field : kFields) {
        const std::size_t at = line.find(field.key);
        if (at == std::string::npos) continue;
        const std::string rest = line.substr(at + std::char_traits<char>::length(field.key));
        if (field.kind == Kind::Text)
            settings.*field.text = rest.substr(0, kMaxSettingText);
        else
            settings.*field.number = ParseLeadingInt(rest);
        return;
    }
}

}  // namespace

std::uint64_t Settings::MaxFileBytes() const {
    if (maxFileSize <= 0) return 0;
    return static_cast<std::uint64_t>(maxFileSize) * 1048576u;
}

int ParseLeadingInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    const long long cap = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > cap) value = cap;
    }
    if (negative) return static_cast<int>(-value);
    return static_cast<int>(value > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : value);
}

std::string FormatSettingsFile(const Settings& s) {
    std::string out;
    out += kHeader;
    out += '\n';
    out += kStars;
    out += '\n';
    for (const Field& field : kFields) {
        out += field.key;
        if (field.kind == Kind::Text) {
            const std::string value = (s.*field.text).substr(0, kMaxSettingText);
            out += value;
            // The reader drops one CR before a line feed (CR LF files): a
            // value that ends in CR gets one more, so it reads back whole.
            if (!value.empty() && value.back() == '\r') out += '\r';
        } else {
            out += std::to_string(s.*field.number);
        }
        out += '\n';
    }
    out += kStars;
    out += '\n';
    out += kSettingsClosingLine;
    return out;
}

void ParseSettingsFile(const std::string& raw, Settings& settings) {
    // Read as a text file: a carriage return before a line feed is dropped,
    // so a file edited with CR LF line ends reads the same.
    std::string text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) text += raw[i];

    // Pieces of at most 255 characters, each ending at a line feed or where
    // the buffer is full.
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = pos;
        bool lineFeed = false;
        while (end < text.size() && end - pos < kMaxSettingText) {
            if (text[end++] == '\n') {
                lineFeed = true;
                break;
            }
        }
        if (lineFeed) ApplyLine(text.substr(pos, end - 1 - pos), settings);
        pos = end;
    }
}

}  // namespace recorder
