// Bit-rate offers, the time-stamp queue and the sample operations of the
// audio encoder filter.
#include "codec/audioencoder/BitrateTables.h"
#include "codec/audioencoder/HostKey.h"
#include "codec/audioencoder/PcmOps.h"
#include "codec/audioencoder/SettingsPageText.h"
#include "codec/audioencoder/TimestampQueue.h"

#include <gtest/gtest.h>

#include <cstring>

namespace audioenc {
namespace {

std::vector<std::wstring> Names(int rate, int layer, int channels) {
    std::vector<std::wstring> out;
    for (auto& n : OfferedNames(rate, layer, channels)) out.push_back(n.name);
    return out;
}

TEST(BitrateTables, OffersFollowRateLayerAndChannels) {
    EXPECT_EQ((std::vector<std::wstring>{L"64", L"96", L"112", L"128", L"160", L"192", L"224", L"256", L"320", L"384"}),
              Names(48000, 2, 2));
    EXPECT_EQ(L"24", Names(22050, 2, 1).front());
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), OfferedIndexes(44100, 2, 1));
    EXPECT_EQ(12u, OfferedIndexes(32000, 1, 1).size());
    EXPECT_EQ(9u, OfferedIndexes(16000, 2, 2).size());
    EXPECT_EQ(448, KbpsOfIndex(48000, 1, 14));
    EXPECT_EQ(160, KbpsOfIndex(24000, 2, 14));
    EXPECT_EQ(0, KbpsOfIndex(48000, 2, 15));
    EXPECT_TRUE(IsAcceptedInputRate(22050));
    EXPECT_FALSE(IsAcceptedInputRate(11025));
    EXPECT_FALSE(IsAcceptedInputRate(96000));
}

TEST(TimestampQueue, FramesFollowTheInputClock) {
    TimestampQueue q;
    q.Start(10000000.0 / 48000);
    q.Input(1000, 4800);  // 100 ms
    int64_t start = 0, stop = 0;
    q.Output(1152, &start, &stop);
    EXPECT_EQ(1000, start);
    EXPECT_EQ(1000 + 240000, stop);
    q.Output(1152, &start, &stop);
    EXPECT_EQ(241000, start);
}

TEST(TimestampQueue, JumpsOfTwoUnitsShiftFromTheirFrameOn) {
    for (int64_t jump : {1, 2, 5000}) {
        SCOPED_TRACE(jump);
        TimestampQueue q;
        q.Start(10000000.0 / 48000);
        q.Input(0, 1152);
        q.Input(240000 + jump, 1152);  // the second frame starts late
        int64_t s1, e1, s2, e2;
        q.Output(1152, &s1, &e1);
        q.Output(1152, &s2, &e2);
        EXPECT_EQ(0, s1);
        EXPECT_EQ(jump > 1 ? 240000 + jump : 240000, s2);
    }
}

TEST(PcmOps, DownmixAndSwap) {
    int16_t stereo[4] = {0x7FFF, 0x7FFF, -3, 1};
    size_t n = DownmixToMono(reinterpret_cast<uint8_t*>(stereo), sizeof stereo);
    EXPECT_EQ(4u, n);
    EXPECT_EQ(0x7FFF, stereo[0]);
    EXPECT_EQ(-1, stereo[1]);  // arithmetic shift rounds down
    const uint8_t in[5] = {1, 2, 3, 4, 5};
    uint8_t out[5] = {};
    CopySwapped16(out, in, 5);
    EXPECT_EQ(0, std::memcmp(out, "\x02\x01\x04\x03\x05", 5));
}

// Settings are kept per host program, by its file name; a path without one
// keeps none rather than a key named by the whole path.
TEST(HostKey, FileNameAfterTheLastBackslash) {
    EXPECT_EQ(L"zelbo.exe", HostProgramName(L"C:\\Program Files\\Korvell\\zelbo.exe"));
    EXPECT_EQ(L"a.exe", HostProgramName(L"Z:\\a.exe"));
    EXPECT_EQ(L"", HostProgramName(L"zelbo.exe"));
    EXPECT_EQ(L"", HostProgramName(L"/usr/bin/zelbo.exe"));
    EXPECT_EQ(L"", HostProgramName(L"\\zelbo.exe"));
    EXPECT_EQ(L"", HostProgramName(L"C:\\dir\\"));
    EXPECT_EQ(L"", HostProgramName(L""));
}

}  // namespace
}  // namespace audioenc

namespace audioenc {
namespace {

TEST(AudioEncSettingsPage, InputAndOutputLines) {
    struct Case {
        int channels, mode, rate;
        const char* input;
        const char* output;
    } cases[] = {
        {2, 0, 48000, "Input is stereo 48000 Hz", "Output is stereo 48000 Hz"},
        {2, 3, 44100, "Input is stereo 44100 Hz", "Output is mono 44100 Hz"},  // mono mode
        {1, 1, 32000, "Input is mono 32000 Hz", "Output is mono 32000 Hz"},    // mono input
        {0, 2, 0, "Input is stereo 0 Hz", "Output is stereo 0 Hz"},            // not connected yet
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InputLine(c.channels, c.rate), c.input);
        EXPECT_EQ(OutputLine(c.channels, c.mode, c.rate), c.output);
    }
}

TEST(AudioEncSettingsPage, ModeButtons) {
    for (int mode = 0; mode < 4; ++mode) EXPECT_EQ(ModeOfButton(ModeButton(mode)), mode);
    EXPECT_EQ(ModeButton(-1), -1) << "a missing parameter checks no button";
    EXPECT_EQ(ModeButton(4), -1);
    EXPECT_EQ(ModeOfButton(7), -1);
}

}  // namespace
}  // namespace audioenc
