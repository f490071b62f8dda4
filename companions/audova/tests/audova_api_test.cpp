// The Audova C interface in process: settings checks, the output-record
// contract, header fields and robustness.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/common/engine/Audova.h"
#include "companions/audova/tests/TestSupport.h"

using namespace audova_test;

namespace {

std::string g_message;
int CaptureMessage(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_message = text;
    return 0;
}
void* Lookup(const char* name) {
    return std::strcmp(name, "err_printf") == 0 ? reinterpret_cast<void*>(&CaptureMessage) : nullptr;
}

int Check(const AudovaSettings& s, int rate) {
    g_message.clear();
    return AudovaCheckSettings(Lookup, &s, nullptr, rate, 0, 0);
}

// The indices the encoder filter offers, per rate class, layer and channels.
bool Offered(bool lsf, int layer, int channels, int index) {
    static const std::vector<int> kRows[2][2][2] = {
        {{{3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
         {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {4, 6, 7, 8, 9, 10, 11, 12, 13, 14}}},
        {{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, {4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
         {{3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, {6, 7, 8, 9, 10, 11, 12, 13, 14}}}};
    for (int i : kRows[lsf][layer - 1][channels - 1])
        if (i == index) return true;
    return false;
}

}  // namespace

TEST(AudovaCheckSettings, AcceptsExactlyTheLegalCombinations) {
    for (int rate : {16000, 22050, 24000, 32000, 44100, 48000})
        for (int layer = 1; layer <= 2; ++layer)
            for (int channels = 1; channels <= 2; ++channels)
                for (int index = 0; index <= 15; ++index) {
                    const bool legal = Offered(rate < 32000, layer, channels, index);
                    const int rc = Check(MakeSettings(rate, layer, channels, index), rate);
                    EXPECT_EQ(rc == 0, legal)
                        << rate << " Hz, layer " << layer << ", " << channels << " ch, index " << index;
                    EXPECT_EQ(g_message.empty(), legal) << "a refusal explains itself";
                }
}

TEST(AudovaCheckSettings, RefusesBadWords) {
    const AudovaSettings good = MakeSettings(48000, 2, 2, 8);
    ASSERT_EQ(Check(good, 48000), 0);
    struct Case {
        const char* what;
        int offset, value, rate;
    };
    const Case cases[] = {
        {"rate 0", -1, 0, 0},
        {"11025 Hz", -1, 0, 11025},
        {"96000 Hz", -1, 0, 96000},
        {"layer 3", 4, 3, 48000},
        {"layer 0", 4, 0, 48000},
        {"reserved emphasis", 16, 2, 48000},
        {"no output channels", 52, 0, 48000},
        {"three output channels", 52, 3, 48000},
        {"buffer below one frame", 56, 383, 48000},
        {"index 15", 12, 15, 48000},
    };
    for (const Case& c : cases) {
        AudovaSettings s = good;
        if (c.offset >= 0) std::memcpy(reinterpret_cast<char*>(&s) + c.offset, &c.value, 4);
        EXPECT_NE(Check(s, c.rate), 0) << c.what;
        EXPECT_FALSE(g_message.empty()) << c.what;
    }
    EXPECT_NE(AudovaCheckSettings(Lookup, nullptr, nullptr, 48000, 0, 0), 0);
}

TEST(AudovaCheckSettings, ModeFollowsTheOutputChannels) {
    // A stale "mono" in effect with two output channels falls back to the
    // requested mode; mono with two channels in both words is refused.
    AudovaSettings s = MakeSettings(48000, 2, 2, 8);
    s.audio_mode = AUDOVA_MONO;
    s.requested_mode = AUDOVA_JOINT_STEREO;
    EXPECT_EQ(Check(s, 48000), 0);
    s.requested_mode = AUDOVA_MONO;
    EXPECT_NE(Check(s, 48000), 0);
    // One output channel is coded as mono whatever the mode says.
    AudovaSettings m = MakeSettings(44100, 2, 1, 10, AUDOVA_STEREO);
    EXPECT_EQ(Check(m, 44100), 0);
    std::vector<uint8_t> out;
    ASSERT_TRUE(EncodeBuffer(m, Sweep(44100, 1, 0.1, 0.5), &out));
    Header h;
    ASSERT_TRUE(ParseHeader(out.data(), out.size(), &h));
    EXPECT_EQ(h.mode, 3);
}

namespace {

// An output record that logs every call and checks the one-frame contract.
struct RecordingStream {
    bufstream bs{};
    uint32_t size = 4096;
    bool refuse = false;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(4096);
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> frames;
    uint32_t requested = 0;

    static RecordingStream* Self(bufstream* b) { return static_cast<RecordingStream*>(b->state); }
    static uint8_t* Request(bufstream* b, uint32_t n) {
        RecordingStream* s = Self(b);
        s->calls.push_back("request " + std::to_string(n));
        s->requested = n;
        if (s->refuse || n > s->buffer.size()) return nullptr;
        std::fill(s->buffer.begin(), s->buffer.end(), 0xA5);
        return s->buffer.data();
    }
    static uint32_t Commit(bufstream* b, uint32_t n) {
        RecordingStream* s = Self(b);
        s->calls.push_back("commit");
        s->frames.emplace_back(s->buffer.begin(), s->buffer.begin() + std::min<size_t>(n, s->buffer.size()));
        return n;
    }
    static uint32_t Size(bufstream* b) { return Self(b)->size; }
    RecordingStream() {
        bs.request = Request;
        bs.commit = Commit;
        bs.buffer_size = Size;
        bs.state = this;
    }
};

std::vector<uint8_t> Bytes(const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> b(pcm.size() * 2);
    std::memcpy(b.data(), pcm.data(), b.size());  // the host is little-endian
    return b;
}

}  // namespace

TEST(AudovaStream, OneRequestOfTheBufferSizeAndOneCommitPerFrame) {
    struct Case {
        int rate, layer, channels, index, frameSamples;
    };
    for (const Case& c : {Case{44100, 2, 2, 10, 1152}, Case{32000, 1, 1, 6, 384}, Case{22050, 2, 1, 8, 1152}}) {
        SCOPED_TRACE(c.rate);
        const AudovaSettings s = MakeSettings(c.rate, c.layer, c.channels, c.index);
        RecordingStream rec;
        AudovaHandle h = AudovaCreate(nullptr, &s, nullptr, 0xFFFF, c.rate);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(AudovaStart(h, &rec.bs), 0);
        // Odd block sizes, split samples included.
        const std::vector<uint8_t> pcm = Bytes(Sweep(c.rate, c.channels, 0.5, 0.5));
        const size_t blocks[] = {1, 3, 7, 1000, 4093, 2, 12001};
        size_t at = 0;
        for (int i = 0; at < pcm.size(); ++i) {
            const size_t n = std::min(blocks[i % 7], pcm.size() - at);
            ASSERT_EQ(AudovaEncode(h, pcm.data() + at, static_cast<uint32_t>(n)), 0);
            at += n;
        }
        ASSERT_EQ(AudovaDone(h, 0), 0);
        AudovaFree(h);

        const size_t samples = pcm.size() / (2 * c.channels);
        const size_t expectFrames = (samples + c.frameSamples - 1) / c.frameSamples;
        ASSERT_EQ(rec.frames.size(), expectFrames);
        ASSERT_EQ(rec.calls.size(), 2 * expectFrames);
        size_t total = 0;
        int kbps = 0;
        for (size_t i = 0; i < rec.frames.size(); ++i) {
            EXPECT_EQ(rec.calls[2 * i], "request 4096");
            EXPECT_EQ(rec.calls[2 * i + 1], "commit");
            Header hd;
            ASSERT_TRUE(ParseHeader(rec.frames[i].data(), rec.frames[i].size(), &hd)) << "frame " << i;
            EXPECT_EQ(static_cast<size_t>(hd.bytes), rec.frames[i].size());
            total += hd.bytes;
            kbps = hd.kbps;
        }
        // Padding keeps the average at the nominal bit rate.
        const double nominal = expectFrames * (c.frameSamples / 8.0) * kbps * 1000.0 / c.rate;
        EXPECT_LT(std::abs(static_cast<double>(total) - nominal), c.layer == 1 ? 4.0 : 1.0);
    }
}

TEST(AudovaStream, EndOfStreamPadsDropsOrStaysSilent) {
    const AudovaSettings s = MakeSettings(48000, 2, 2, 8);
    const std::vector<uint8_t> pcm = Bytes(Sweep(48000, 2, 0.05, 0.5));  // 2400 samples: 2 frames + 96
    struct Case {
        const char* what;
        size_t bytes;
        uint8_t abort;
        size_t frames;
    };
    const Case cases[] = {
        {"no data, drain", 0, 0, 0},
        {"no data, abort", 0, 1, 0},
        {"partial frame, drain", pcm.size(), 0, 3},
        {"partial frame, abort", pcm.size(), 1, 2},
        {"one odd byte, drain", 1, 0, 1},
        {"exact frames, drain", 2 * 1152 * 4, 0, 2},
    };
    for (const Case& c : cases) {
        RecordingStream rec;
        AudovaHandle h = AudovaCreate(nullptr, &s, nullptr, 0xFFFF, 48000);
        ASSERT_EQ(AudovaStart(h, &rec.bs), 0);
        if (c.bytes) {
            ASSERT_EQ(AudovaEncode(h, pcm.data(), static_cast<uint32_t>(c.bytes)), 0);
        }
        EXPECT_EQ(AudovaDone(h, c.abort), 0);
        EXPECT_EQ(rec.frames.size(), c.frames) << c.what;
        // The instance starts again after Done.
        ASSERT_EQ(AudovaStart(h, &rec.bs), 0);
        ASSERT_EQ(AudovaEncode(h, pcm.data(), 4 * 1152), 0);
        EXPECT_EQ(rec.frames.size(), c.frames + 1) << c.what;
        AudovaDone(h, 1);
        AudovaFree(h);
    }
}

TEST(AudovaStream, OutputFailuresAreReported) {
    const AudovaSettings s = MakeSettings(48000, 2, 2, 14);  // 1152-byte frames
    const std::vector<uint8_t> pcm = Bytes(Sweep(48000, 2, 0.05, 0.5));
    struct Case {
        const char* what;
        bool refuse;
        uint32_t size;
    };
    for (const Case& c : {Case{"request refused", true, 4096}, Case{"buffer below a frame", false, 1000}}) {
        RecordingStream rec;
        rec.refuse = c.refuse;
        rec.size = c.size;
        AudovaHandle h = AudovaCreate(nullptr, &s, nullptr, 0xFFFF, 48000);
        ASSERT_EQ(AudovaStart(h, &rec.bs), 0);
        EXPECT_NE(AudovaEncode(h, pcm.data(), static_cast<uint32_t>(pcm.size())), 0) << c.what;
        EXPECT_TRUE(rec.frames.empty()) << c.what;
        AudovaDone(h, 1);
        AudovaFree(h);
    }
}

TEST(AudovaHeader, CarriesTheSettings) {
    struct Case {
        int rate, layer, channels, index, mode, crc, priv, copyright, original, emphasis;
        bool lsf;
        int rateCode, headerMode;
    };
    const Case cases[] = {
        {48000, 2, 2, 10, AUDOVA_STEREO, 1, 0, 1, 0, 1, false, 1, 0},
        {44100, 1, 2, 12, AUDOVA_DUAL_CHANNEL, 0, 1, 0, 1, 3, false, 0, 2},
        {32000, 2, 1, 5, AUDOVA_MONO, 1, 1, 1, 1, 0, false, 2, 3},
        {24000, 2, 2, 10, AUDOVA_STEREO, 0, 0, 0, 0, 0, true, 1, 0},
        {22050, 1, 1, 2, AUDOVA_MONO, 1, 0, 0, 1, 1, true, 0, 3},
        {16000, 2, 2, 14, AUDOVA_DUAL_CHANNEL, 1, 1, 1, 1, 3, true, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        AudovaSettings s = MakeSettings(c.rate, c.layer, c.channels, c.index, c.mode);
        s.crc = c.crc;
        s.private_bit = c.priv;
        s.copyright = c.copyright;
        s.original = c.original;
        s.emphasis = c.emphasis;
        std::vector<uint8_t> out;
        ASSERT_TRUE(EncodeBuffer(s, Sweep(c.rate, c.channels, 0.2, 0.5), &out));
        std::vector<Header> frames;
        ASSERT_TRUE(SplitFrames(out, &frames));
        ASSERT_FALSE(frames.empty());
        for (const Header& h : frames) {
            EXPECT_EQ(h.lsf, c.lsf);
            EXPECT_EQ(h.layer, c.layer);
            EXPECT_EQ(h.protection, c.crc ? 0 : 1);
            EXPECT_EQ(h.bitrateIndex, c.index);
            EXPECT_EQ(h.rateCode, c.rateCode);
            EXPECT_EQ(h.mode, c.headerMode);
            EXPECT_EQ(h.privateBit, c.priv);
            EXPECT_EQ(h.copyright, c.copyright);
            EXPECT_EQ(h.original, c.original);
            EXPECT_EQ(h.emphasis, c.emphasis);
        }
    }
}

TEST(AudovaHeader, PaddingAt44100FollowsTheFractionalFrameSize) {
    // 128 kbit/s at 44.1 kHz: 417.96 bytes a frame, so 1 frame in 49 is short.
    std::vector<uint8_t> out;
    ASSERT_TRUE(EncodeBuffer(MakeSettings(44100, 2, 2, 8), Noise(44100, 2, 2.0, 0.1, 5), &out));
    std::vector<Header> frames;
    ASSERT_TRUE(SplitFrames(out, &frames));
    int padded = 0;
    for (const Header& h : frames) padded += h.padding;
    const int n = static_cast<int>(frames.size());
    EXPECT_NEAR(padded, n * (144000.0 * 128 / 44100 - 417), 1.0);
    // 48 kHz never needs padding.
    ASSERT_TRUE(EncodeBuffer(MakeSettings(48000, 2, 2, 8), Noise(48000, 2, 0.5, 0.1, 5), &out));
    ASSERT_TRUE(SplitFrames(out, &frames));
    for (const Header& h : frames) EXPECT_EQ(h.padding, 0);
}

TEST(AudovaRobustness, HostileCallsAndSignals) {
    // Null and garbage arguments.
    EXPECT_EQ(AudovaCreate(nullptr, nullptr, nullptr, 0, 48000), nullptr);
    EXPECT_NE(AudovaStart(nullptr, nullptr), 0);
    EXPECT_NE(AudovaEncode(nullptr, "x", 1), 0);
    EXPECT_NE(AudovaDone(nullptr, 0), 0);
    AudovaFree(nullptr);
    std::mt19937 rng(11);
    for (int i = 0; i < 2000; ++i) {
        AudovaSettings s;
        for (int w = 0; w < 18; ++w) {
            const int32_t v = (rng() & 1) ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 16);
            std::memcpy(reinterpret_cast<char*>(&s) + 4 * w, &v, 4);
        }
        const int rate = (rng() & 1) ? 48000 : static_cast<int32_t>(rng());
        AudovaCheckSettings(Lookup, &s, nullptr, rate, 0, 0);
        AudovaHandle h = AudovaCreate(Lookup, &s, nullptr, 0xFFFF, rate);
        RecordingStream rec;
        if (h && AudovaStart(h, &rec.bs) == 0) {
            const std::vector<uint8_t> pcm = Bytes(Noise(48000, 2, 0.03, 1.0, i));
            AudovaEncode(h, pcm.data(), static_cast<uint32_t>(pcm.size()));
            AudovaDone(h, 0);
        }
        AudovaFree(h);
    }
    // Encode without a start, and null PCM with a count.
    const AudovaSettings s = MakeSettings(48000, 2, 2, 14, AUDOVA_JOINT_STEREO);
    AudovaHandle h = AudovaCreate(nullptr, &s, nullptr, 0xFFFF, 48000);
    EXPECT_NE(AudovaEncode(h, "abcd", 4), 0);
    RecordingStream rec;
    ASSERT_EQ(AudovaStart(h, &rec.bs), 0);
    EXPECT_NE(AudovaEncode(h, nullptr, 4), 0);
    // Extreme signals: full-scale square, DC, alternating extremes, silence.
    std::vector<int16_t> pcm(2 * 48000);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const size_t t = i / 2;
        pcm[i] = t < 12000   ? ((t / 24) & 1 ? 32767 : -32768)
                 : t < 24000 ? 32767
                 : t < 36000 ? ((t & 1) ? 32767 : -32768)
                             : 0;
    }
    const std::vector<uint8_t> bytes = Bytes(pcm);
    EXPECT_EQ(AudovaEncode(h, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
    EXPECT_EQ(AudovaDone(h, 0), 0);
    AudovaFree(h);
    for (const auto& f : rec.frames) {
        Header hd;
        EXPECT_TRUE(ParseHeader(f.data(), f.size(), &hd));
    }
}
