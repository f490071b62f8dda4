#include "engine/core/CommandLine.h"

#include <cctype>
#include <climits>
#include <cstdio>

namespace engine {

namespace {

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line, bool skipProgram) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    if (skipProgram) {
        // A program name ends at the first blank outside quotes; backslashes
        // are plain characters in it.
        bool quoted = false;
        while (i < n && (quoted || !Blank(line[i]))) {
            if (line[i] == '"') quoted = !quoted;
            ++i;
        }
    }
    for (;;) {
        while (i < n && Blank(line[i])) ++i;
        if (i >= n) break;
        std::string word;
        bool quoted = false;
        while (i < n && (quoted || !Blank(line[i]))) {
            std::size_t slashes = 0;
            while (i < n && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < n && line[i] == '"') {
                word.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    word += '"';
                } else if (quoted && i + 1 < n && line[i + 1] == '"') {
                    word += '"';  // "" inside quotes is one quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
                continue;
            }
            word.append(slashes, '\\');
            if (i < n && (quoted || !Blank(line[i]))) word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

bool WordTable::Add(const std::string& word, bool last, std::string& refusal) {
    if (words_.size() >= kMaxWords) {
        char text[64];
        std::snprintf(text, sizeof text, "Too many parameters %zu", seen_++);
        refusal = text;
        return false;
    }
    Word stored;
    stored.raw = word.substr(0, kWordSlot - 1);
    stored.flag = !stored.raw.empty() && (stored.raw[0] == '-' || stored.raw[0] == '/');
    stored.text = stored.flag ? stored.raw.substr(1) : stored.raw;
    stored.last = last;
    words_.push_back(stored);
    seen_ = words_.size();
    return true;
}

int ReadInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

EngineSettings PairKeys(const std::vector<Word>& words) {
    EngineSettings s;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const Word& key = words[i];
        if (!key.flag) continue;
        const bool hasValue = i + 1 < words.size();
        const std::string number = hasValue ? words[i + 1].text : std::string();
        const std::string text = hasValue ? words[i + 1].raw : std::string();
        bool known = true;
        const std::string& k = key.text;
        if (k == "file") {
            s.file = text.substr(0, kMaxTextValue);
        } else if (k == "fmt") {
            s.format = ReadInt(number);
        } else if (k == "kv") {
            s.videoKbps = ReadInt(number);
        } else if (k == "ka") {
            s.audioKbps = ReadInt(number);
        } else if (k == "fr") {
            s.frameRate = ReadInt(number);
        } else if (k == "va") {
            s.videoAccel = ReadInt(number);
        } else if (k == "cap") {
            s.capture = ReadInt(number);
        } else if (k == "asrc") {
            const std::string source = text.substr(0, kMaxTextValue);
            s.sonifer = LowerAscii(source).find("sonifer") != std::string::npos;
            s.audioDevice = s.sonifer ? std::string() : source;
        } else if (k == "vista") {
            s.vista = ReadInt(number) != 0;
        } else if (k == "xT") {
            s.left = ReadInt(number);
        } else if (k == "yT") {
            s.top = ReadInt(number);
        } else if (k == "xB") {
            s.right = ReadInt(number);
        } else if (k == "yB") {
            s.bottom = ReadInt(number);
        } else if (k == "wnd") {
            s.windowName = text;
        } else if (k == "aonly") {
            s.audioOnly = ReadInt(number) != 0;
        } else if (k == "vonly") {
            s.videoOnly = ReadInt(number) != 0;
        } else {
            known = false;
        }
        if (s.vista) s.sonifer = false;  // vista mode wins
        if (known && hasValue) ++i;      // the value is not a key
    }
    return s;
}

std::string ParameterTrace(const EngineSettings& s) {
    char text[2048];
    std::snprintf(text, sizeof text,
                  "fileName=%s\r\nformat=%d\r\nkbps=%d\r\naudioKbps=%d\r\nfps=%d\r\nvideoAccel=%d\r\ncapture=%d\r\n"
                  "audioSource=%s\r\nshow=%d\r\nxTop=%d yTop=%d xBottom=%d yBottom=%d\r\nwndName=%s\r\naudioOnly=%d\r\n"
                  "videoOnly=%d\r\n",
                  s.file.c_str(), s.format, s.videoKbps, s.audioKbps, s.frameRate, s.videoAccel, s.capture,
                  s.sonifer ? "sonifer" : s.audioDevice.c_str(), 0, s.left, s.top, s.right, s.bottom,
                  s.windowName.c_str(), s.audioOnly ? 1 : 0, s.videoOnly ? 1 : 0);
    return text;
}

}  // namespace engine
