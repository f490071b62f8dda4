// The engine's command line: words split as the C runtime splits them, the
// fixed word table, and the pairing of key words with their values.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace engine {

constexpr std::size_t kMaxWords = 50;
constexpr std::size_t kWordSlot = 1000;  // characters per slot, with the end mark
constexpr std::size_t kMaxTextValue = 255;

// The arguments of a command line the way the C runtime splits them
// (blanks separate, quotes group, 2n backslashes before a quote give n and
// the quote delimits, 2n+1 give n and a literal quote). `skipProgram` drops
// the first word, which follows the simpler rules of a program name.
std::vector<std::string> SplitCommandLine(const std::string& line, bool skipProgram);

struct Word {
    std::string text;  // without a leading '-' or '/' when flagged
    std::string raw;   // as given
    bool flag = false;
    bool last = false;
};

// Fifty slots of at most 999 characters. Further words are refused with the
// message to show ("Too many parameters 50" for the 51st word).
class WordTable {
public:
    bool Add(const std::string& word, bool last, std::string& refusal);
    const std::vector<Word>& Words() const { return words_; }

private:
    std::vector<Word> words_;
    std::size_t seen_ = 0;
};

struct EngineSettings {
    std::string file;
    int format = 0;
    int videoKbps = 1000;
    int audioKbps = 64;
    int frameRate = 30;
    int videoAccel = 0;
    int capture = 0;
    std::string audioDevice;
    bool sonifer = false;
    bool vista = false;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    std::string windowName;
    bool audioOnly = false;
    bool videoOnly = false;

    // The engine records only in one of its two sound modes.
    bool Records() const { return sonifer || vista; }
};

// Decimal number with leading blanks and a sign; no digits give 0.
int ReadInt(const std::string& text);

// Pairs each flagged key word with the word after it. A word taken as a
// value is never read as a key itself, so a text value such as "-file"
// cannot set another setting. Numbers read the word without its sign mark
// ("-xT -5" gives 5); texts keep the word as given.
EngineSettings PairKeys(const std::vector<Word>& words);

// The engine's parameter trace line.
std::string ParameterTrace(const EngineSettings& settings);

}  // namespace engine
