// The control program's options and their text file "Settings.ini".
#pragma once

#include <cstdint>
#include <string>

namespace recorder {

// Longest text a setting keeps (the reader's line buffer is 256 bytes).
constexpr std::size_t kMaxSettingText = 255;

struct Settings {
    std::string recordingFolder;
    int protocol = 1;      // 0 MPEG-2, 1 WM9, 2 MPEG-1, 3 WM-MP4
    int videoBitrate = 0;  // kbit/s
    int audioBitrate = 0;  // kbit/s
    int frameRate = 0;
    std::string audioSource;
    std::string audioInput;
    std::string audioOutput;
    int maxFileSize = 0;  // MB, 0 = no limit
    int maxFileTime = 0;  // seconds, 0 = no limit
    int audioTestDone = 0;
    int hide = 0;
    int audioOnly = 0;
    int videoOnly = 0;
    int videoAccel = 0;
    int onTop = 0;
    int audioMessage = 0;
    int videoMessage = 0;
    int player = 0;
    int audioSonifer = 0;
    int audioCompression = 0;
    int autoWnd = 0;
    int delay = 0;
    int vistaAudio = 0;

    // "Max File Size" as bytes; 64-bit so that 4096 MB and more work.
    std::uint64_t MaxFileBytes() const;
};

// The closing line written after the last asterisk line (no line feed).
extern const char kSettingsClosingLine[];

// The whole file text: header, asterisks, the 24 "key: value" lines,
// asterisks and the closing line.
std::string FormatSettingsFile(const Settings& settings);

// Reads the file text into `settings` the way a line reader with a 256-byte
// buffer sees it: a piece without a line feed (a part of an overlong line, or
// the unterminated last line) is ignored; the first key contained anywhere in
// a line decides. Keys that do not appear keep their current value.
void ParseSettingsFile(const std::string& text, Settings& settings);

// The decimal number at the start of `text`: leading blanks, one sign, then
// digits up to the first non-digit; no digits give 0. Saturates at the 32-bit
// limits instead of overflowing.
int ParseLeadingInt(const std::string& text);

}  // namespace recorder
