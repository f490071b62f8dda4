#include "levelmeter/core/CommandWords.h"

#include <gtest/gtest.h>

namespace wavrel {
namespace {

TEST(CommandWords, SplitsBlanksAndQuotes) {
    const CommandWords c = SplitCommandLine("  audioTest \"two words\"\tx ");
    EXPECT_EQ(c.words, (std::vector<std::string>{"audioTest", "two words", "x"}));
    EXPECT_TRUE(c.overflowMessages.empty());
    EXPECT_TRUE(SplitCommandLine("").words.empty());
}

TEST(CommandWords, TwentyWordsFitAndEachFurtherOneIsReportedWithTheRunningCount) {
    std::string line;
    for (int i = 0; i < 23; ++i) line += " w" + std::to_string(i);
    const CommandWords c = SplitCommandLine(line);
    ASSERT_EQ(c.words.size(), kMaxWords);
    EXPECT_EQ(c.words.back(), "w19");
    EXPECT_EQ(c.overflowMessages,
              (std::vector<std::string>{"Too many parameters 20", "Too many parameters 21", "Too many parameters 22"}));
}

TEST(CommandWords, OverlongWordIsCutToItsSlot) {
    const CommandWords c = SplitCommandLine(std::string(300, 'a') + "show_wnd");
    ASSERT_EQ(c.words.size(), 1u);
    EXPECT_EQ(c.words[0].size(), kWordLength);
    // The option beyond the slot is gone with the rest of the word.
    EXPECT_FALSE(ScanStartOptions(c.words).show);
}

TEST(StartOptions, FirstWordHoldingAnOptionDecides) {
    struct Case {
        const char* line;
        StartOptions want;
    };
    const Case cases[] = {
        {"", {}},
        {" audioTest", {true, false, false, false, false}},
        {"show_wnd audioTest", {false, false, false, true, false}},
        {"x mini_wnd compress_yes", {false, false, false, false, true}},
        // Within one word the earlier text of the list wins.
        {"mini_wnd+compress_no", {false, false, true, false, false}},
        {"compress_yes", {false, true, false, false, false}},
        {"AUDIOTEST show_wnd", {false, false, false, true, false}},  // case-sensitive
    };
    for (const Case& c : cases) {
        const StartOptions o = ScanStartOptions(SplitCommandLine(c.line).words);
        EXPECT_EQ(o.audioTest, c.want.audioTest) << c.line;
        EXPECT_EQ(o.compressOn, c.want.compressOn) << c.line;
        EXPECT_EQ(o.compressOff, c.want.compressOff) << c.line;
        EXPECT_EQ(o.show, c.want.show) << c.line;
        EXPECT_EQ(o.mini, c.want.mini) << c.line;
    }
}

}  // namespace
}  // namespace wavrel
