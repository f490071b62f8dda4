// The plain-text settings file: key = value triples, quoted values, comments.
#include "mxf/mux/MuxEngine.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace mexora {

namespace {

constexpr long kMaxFileBytes = 60000;
constexpr size_t kTextMax = 1024;

enum class KeyType { kInteger, kText, kReal, kTextList };

struct Key {
    const char* name;
    KeyType type;
};

constexpr Key kKeys[] = {
    {"SrcFileName", KeyType::kTextList},      {"DestFileName", KeyType::kTextList}, {"StatFileName", KeyType::kText},
    {"SamplesTableFileName", KeyType::kText}, {"Profile", KeyType::kInteger},       {"LiveMode", KeyType::kInteger},
    {"FileNumber", KeyType::kInteger},
};
constexpr int kKeyCount = static_cast<int>(sizeof kKeys / sizeof kKeys[0]);

bool IsComment(char c) {
    return c == '#' || c == ';' || c == '|' || c == '>';
}

std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, have = false;
    auto end = [&] {
        if (have) out.push_back(cur);
        cur.clear();
        have = false;
    };
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        if (IsComment(c)) {
            // A comment runs to the end of the line, also inside quotes.
            while (i < text.size() && text[i] != '\n' && text[i] != '\r') i++;
            quoted = false;
            end();
            continue;
        }
        if (c == '\n' || c == '\r') {
            quoted = false;
            end();
        } else if (c == '"') {
            if (quoted) {
                quoted = false;
                end();
            } else {
                end();
                quoted = true;
                have = true;
            }
        } else if (!quoted && (c == ' ' || c == '\t' || c == ',')) {
            end();
        } else {
            cur += c;
            have = true;
        }
    }
    end();
    return out;
}

bool SameText(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const char x = static_cast<char>(a[i] | 0x20), y = static_cast<char>(b[i] | 0x20);
        if (x != y) return false;
    }
    return true;
}

void CopyText(char* dst, const std::string& value) {
    const size_t n = value.size() < kTextMax - 1 ? value.size() : kTextMax - 1;
    std::memcpy(dst, value.data(), n);
    dst[n] = '\0';
}

bool ParseInt(const std::string& v, int32_t* out) {
    int value = 0;
    if (std::sscanf(v.c_str(), "%d", &value) != 1) return false;
    *out = value;
    return true;
}

}  // namespace

int32_t ReadSettingsFile(const char* name, EngineSettings* settings, SettingsNames* names) {
    if (!name || !settings || !names) return kEngineNullArgument;
    FILE* f = std::fopen(name, "rb");
    if (!f) return kEngineFileError;
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        text.append(chunk, got);
        if (text.size() > static_cast<size_t>(kMaxFileBytes)) break;
    }
    const bool readFailed = std::ferror(f) != 0;
    std::fclose(f);
    if (readFailed || text.size() > static_cast<size_t>(kMaxFileBytes)) return kEngineFileError;

    const std::vector<std::string> tokens = Tokens(text);
    int lastKey = -1;
    int listSlot = 0;
    for (size_t i = 0; i < tokens.size(); i++) {
        int key = -1;
        for (int k = 0; k < kKeyCount; k++) {
            if (SameText(tokens[i], kKeys[k].name)) key = k;
        }
        if (key < 0) continue;
        if (i + 2 >= tokens.size() || tokens[i + 1] != "=") return kEngineFileError;
        const std::string& value = tokens[i + 2];
        i += 2;
        listSlot = key == lastKey ? listSlot + 1 : 0;
        lastKey = key;
        const std::string keyName = kKeys[key].name;
        int32_t number = 0;
        if (kKeys[key].type == KeyType::kInteger && !ParseInt(value, &number)) return kEngineFileError;
        if (keyName == "SrcFileName") {
            if (listSlot >= SettingsNames::kSources) return kEngineFileError;  // more than a run can take
            CopyText(names->sources[listSlot], value);
        } else if (keyName == "DestFileName") {
            if (listSlot >= SettingsNames::kDestinations) return kEngineFileError;
            CopyText(names->destinations[listSlot], value);
        } else if (keyName == "StatFileName") {
            CopyText(names->statistics, value);
        } else if (keyName == "SamplesTableFileName") {
            CopyText(names->samplesTable, value);
        } else if (keyName == "Profile") {
            settings->profile = number;
        } else if (keyName == "LiveMode") {
            settings->liveMode = number;
        } else if (keyName == "FileNumber") {
            settings->fileNumber = static_cast<int16_t>(number);
        }
    }
    return kEngineOk;
}

}  // namespace mexora
