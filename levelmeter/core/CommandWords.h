// The level meter's command line: the word table and the start options
// found in it.
#pragma once

#include <string>
#include <vector>

namespace wavrel {

// The table holds this many words of at most kWordLength characters.
constexpr std::size_t kMaxWords = 20;
constexpr std::size_t kWordLength = 255;

struct CommandWords {
    std::vector<std::string> words;  // at most kMaxWords
    // One "Too many parameters %d" text for each word that did not fit.
    std::vector<std::string> overflowMessages;
};

// Splits at blanks; a double-quoted stretch belongs to one word. Longer
// words are cut to kWordLength; words past the table are dropped.
CommandWords SplitCommandLine(const std::string& arguments);

struct StartOptions {
    bool audioTest = false;
    bool compressOn = false;
    bool compressOff = false;
    bool show = false;
    bool mini = false;
};

// The first word that holds any option text decides; only that one option
// takes effect.
StartOptions ScanStartOptions(const std::vector<std::string>& words);

}  // namespace wavrel
