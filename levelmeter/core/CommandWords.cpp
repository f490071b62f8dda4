#include "levelmeter/core/CommandWords.h"

#include <cstdio>

namespace wavrel {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The option texts in the order in which one word is searched.
enum class Option { AudioTest, CompressYes, CompressNo, Show, Mini };
struct OptionText {
    const char* text;
    Option option;
};
const OptionText kOptions[] = {{"audioTest", Option::AudioTest},
                               {"compress_yes", Option::CompressYes},
                               {"compress_no", Option::CompressNo},
                               {"show_wnd", Option::Show},
                               {"mini_wnd", Option::Mini}};

}  // namespace

CommandWords SplitCommandLine(const std::string& arguments) {
    CommandWords result;
    std::size_t at = 0;
    while (at < arguments.size()) {
        while (at < arguments.size() && IsBlank(arguments[at])) ++at;
        if (at >= arguments.size()) break;
        std::string word;
        bool quoted = false;
        for (; at < arguments.size() && (quoted || !IsBlank(arguments[at])); ++at) {
            if (arguments[at] == '"')
                quoted = !quoted;
            else
                word += arguments[at];
        }
        if (result.words.size() < kMaxWords) {
            if (word.size() > kWordLength) word.resize(kWordLength);
            result.words.push_back(word);
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "Too many parameters %d",
                          static_cast<int>(kMaxWords + result.overflowMessages.size()));
            result.overflowMessages.push_back(text);
        }
    }
    return result;
}

StartOptions ScanStartOptions(const std::vector<std::string>& words) {
    StartOptions options;
    for (const std::string& word : words) {
        for (const OptionText& candidate : kOptions) {
            if (word.find(candidate.text) == std::string::npos) continue;
            switch (candidate.option) {
                case Option::AudioTest:
                    options.audioTest = true;
                    break;
                case Option::CompressYes:
                    options.compressOn = true;
                    break;
                case Option::CompressNo:
                    options.compressOff = true;
                    break;
                case Option::Show:
                    options.show = true;
                    break;
                case Option::Mini:
                    options.mini = true;
                    break;
            }
            return options;
        }
    }
    return options;
}

}  // namespace wavrel
