// The checks an input's format and stream type pass before it is accepted.
#include "codec/multiplexer/LpcmFormat.h"
#include "codec/multiplexer/StreamSupport.h"

#include <gtest/gtest.h>

#include <climits>

using namespace muxcore;

TEST(LpcmFormatCheck, AcceptsWhatTheHeaderCodes) {
    for (int32_t rate : {32000, 44100, 48000, 96000})
        for (int32_t bits : {16, 20, 24})
            for (int32_t ch = 1; ch <= 8; ++ch) {
                PcmFormat f;
                f.sampleRate = rate;
                f.bitsPerSample = bits;
                f.channels = ch;
                EXPECT_EQ(CheckLpcmFormat(f), "") << rate << " " << bits << " " << ch;
            }
}

TEST(LpcmFormatCheck, NamesTheValueItCannotCode) {
    struct Case {
        int32_t rate, channels, bits;
        const char* named;
    } cases[] = {
        {0, 2, 16, "sample rate 0 Hz"},
        {8000, 2, 16, "sample rate 8000 Hz"},
        {22050, 2, 16, "sample rate 22050 Hz"},
        {INT_MAX, 2, 16, "sample rate 2147483647 Hz"},
        {-48000, 2, 16, "sample rate -48000 Hz"},
        {48000, 0, 16, "0 channels"},
        {48000, 9, 16, "9 channels"},
        {48000, 65535, 16, "65535 channels"},
        {48000, 2, 8, "8 bits per sample"},
        {48000, 2, 32, "32 bits per sample"},
        {48000, 2, 0, "0 bits per sample"},
    };
    for (const Case& c : cases) {
        PcmFormat f;
        f.sampleRate = c.rate;
        f.channels = c.channels;
        f.bitsPerSample = c.bits;
        const std::string why = CheckLpcmFormat(f);
        EXPECT_NE(why.find(c.named), std::string::npos) << why;
    }
}

TEST(StreamSupportCheck, RefusesTypesWithoutAScanner) {
    for (int32_t t : {4}) {
        const std::string why = CheckStreamTypeSupported(t);
        EXPECT_NE(why.find("stream type " + std::to_string(t)), std::string::npos) << why;
    }
    for (int32_t t : {4, 16, 21, 99, -1}) EXPECT_NE(CheckStreamTypeSupported(t), "") << t;
    for (int32_t t : {0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19, 20, 32, 33, 55})
        EXPECT_EQ(CheckStreamTypeSupported(t), "") << t;
}
