// The WAV input over files made by ffmpeg: per-frame unit cycles, planar
// channel blocks against ffmpeg's own decoding, the 331M element, and the
// header forms ffmpeg writes by default.
#include "mxf/mux/WavInput.h"
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using mexora_test::TempDir;

constexpr int kChannels = 8;
constexpr int kBps = 3;

// All units of a WAV input after its 8-byte header, with the header.
struct Units {
    std::vector<uint8_t> header;
    std::vector<std::vector<uint8_t>> units;
};

Units ReadUnits(const std::string& path, int form, int code) {
    Units u;
    const uint8_t options[2] = {static_cast<uint8_t>(form), static_cast<uint8_t>(code)};
    bufstream* bs = bs_wav_open(path.c_str(), 256 * 1024, options);
    if (!bs) return u;
    u.header.resize(8);
    bs->copy_bytes(bs, u.header.data(), 8);
    for (;;) {
        const uint32_t size = bs_wav_next_unit_size(bs);
        std::vector<uint8_t> unit(size);
        const uint32_t got = size ? bs->copy_bytes(bs, unit.data(), size) : 0;
        if (got == 0) break;
        unit.resize(got);
        u.units.push_back(unit);
    }
    BufstreamClose(&bs, 0);
    return u;
}

class WavInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new std::string(TempDir());
        wav = new std::string(mexora_test::MakeWav(*dir, "eight.wav", kChannels, 24, 0.3));
        pcm = new std::vector<uint8_t>(mexora_test::RawPcm(*wav, 24));
    }
    static void TearDownTestSuite() {
        delete dir;
        delete wav;
        delete pcm;
    }
    static std::string* dir;
    static std::string* wav;
    static std::vector<uint8_t>* pcm;
};
std::string* WavInput::dir;
std::string* WavInput::wav;
std::vector<uint8_t>* WavInput::pcm;

TEST_F(WavInput, PlanarUnitsFollowTheFrameCycleAndMatchFfmpegsSamples) {
    ASSERT_FALSE(wav->empty());
    ASSERT_EQ(pcm->size(), 14400u * kChannels * kBps);  // 0.3 s at 48 kHz
    struct Case {
        int code;
        std::vector<uint32_t> cycle;
    };
    const Case cases[] = {{4, {1602, 1601, 1602, 1601, 1602}}, {7, {801, 801, 800, 801, 801}}};
    for (const Case& c : cases) {
        const Units u = ReadUnits(*wav, WAV_FORM_PLANAR, c.code);
        ASSERT_FALSE(u.units.empty());
        EXPECT_EQ(std::memcmp(u.header.data(), "AES3", 4), 0);
        EXPECT_EQ(u.header[4], 12);
        EXPECT_EQ(u.header[5], ((c.code - 1) << 5) | (2 << 3) | (kChannels - 1));
        size_t sample = 0;  // first sample of the unit
        for (size_t i = 0; i < u.units.size(); i++) {
            const uint32_t n = c.cycle[i % 5];
            ASSERT_EQ(u.units[i].size(), n * kChannels * kBps) << "code " << c.code << " unit " << i;
            for (int k = 0; k < kChannels; k++) {
                for (uint32_t j = 0; j < n; j++) {
                    const uint8_t* got = u.units[i].data() + (k * n + j) * kBps;
                    const size_t at = ((sample + j) * kChannels + k) * kBps;
                    uint8_t want[kBps] = {0, 0, 0};  // past the end: padding
                    if (at < pcm->size()) std::memcpy(want, pcm->data() + at, kBps);
                    ASSERT_EQ(std::memcmp(got, want, kBps), 0) << "unit " << i << " ch " << k << " sample " << j;
                }
            }
            sample += n;
        }
        // The last unit is padded: the units cover every sample and end within one frame.
        EXPECT_GE(sample, 14400u);
        EXPECT_LT(sample - 14400u, c.cycle[0]);
    }
}

TEST_F(WavInput, ElementUnitsCarryCycleCountMaskAndWords) {
    const Units u = ReadUnits(*wav, WAV_FORM_331M, 4);
    ASSERT_GE(u.units.size(), 6u);
    EXPECT_EQ(u.header[4], 11);
    for (size_t i = 0; i < 6; i++) {
        const std::vector<uint8_t>& unit = u.units[i];
        const uint32_t n = i % 5 == 1 || i % 5 == 3 ? 1601 : 1602;
        ASSERT_EQ(unit.size(), 4 + n * 32);
        EXPECT_EQ(unit[0], i % 5 + 1);
        EXPECT_EQ(unit[1] | (unit[2] << 8), static_cast<int>(n));
        EXPECT_EQ(unit[3], 0xFF);  // all eight channels valid
    }
    // First sample of unit 0: channel k's word carries its bytes and number,
    // channel 0 the block-start flag.
    const uint8_t* w = u.units[0].data() + 4;
    for (int k = 0; k < kChannels; k++) {
        const uint8_t* b = pcm->data() + k * kBps;
        EXPECT_EQ(w[k * 4], (b[0] & 0xF0) | k | (k == 0 ? 0x08 : 0)) << k;
        EXPECT_EQ(w[k * 4 + 1], b[1]);
        EXPECT_EQ(w[k * 4 + 2], b[2]);
        EXPECT_EQ(w[k * 4 + 3], 0);
    }
    EXPECT_EQ(u.units[0][4 + 192 * 32] & 0x08, 0x08);  // every 192nd sample
    EXPECT_EQ(u.units[0][4 + 191 * 32] & 0x08, 0x00);
}

TEST_F(WavInput, TheMaskHasOneBitPerChannel) {
    const std::string two = mexora_test::MakeWav(*dir, "two24.wav", 2, 24, 0.05);
    const Units u = ReadUnits(two, WAV_FORM_331M, 5);
    ASSERT_FALSE(u.units.empty());
    EXPECT_EQ(u.units[0][3], 0x03);
    // Channels that do not exist give zero words.
    EXPECT_EQ(u.units[0][4 + 2 * 4], 0);
}

TEST_F(WavInput, CanonicalDefaultAndExtensibleHeadersGiveTheSameUnits) {
    // Default 16-bit stereo: a LIST chunk before the data, plain PCM format.
    const std::string d16 = mexora_test::MakeWav(*dir, "two16.wav", 2, 16, 0.1);
    const std::vector<uint8_t> raw16 = mexora_test::RawPcm(d16, 16);
    const std::string c16 = *dir + "/two16-canonical.wav";
    ASSERT_TRUE(mexora_test::WriteFile(c16, mexora_test::CanonicalWav(raw16, 2, 16, 48000)));
    // 24-bit 8 channels: ffmpeg writes WAVE_FORMAT_EXTENSIBLE.
    const std::vector<uint8_t> file = mexora_test::ReadFile(*wav);
    ASSERT_GT(file.size(), 40u);
    const std::string c24 = *dir + "/eight-canonical.wav";
    ASSERT_TRUE(mexora_test::WriteFile(c24, mexora_test::CanonicalWav(*pcm, kChannels, 24, 48000)));
    struct Pair {
        std::string a, b;
    };
    for (const Pair& p : {Pair{d16, c16}, Pair{*wav, c24}}) {
        for (int form : {WAV_FORM_PLANAR, WAV_FORM_331M}) {
            if (form == WAV_FORM_331M && p.a == d16) continue;  // 331M carries 20/24-bit audio only
            const Units a = ReadUnits(p.a, form, 4), b = ReadUnits(p.b, form, 4);
            ASSERT_FALSE(a.units.empty()) << p.a;
            EXPECT_EQ(a.header, b.header) << p.a;
            EXPECT_EQ(a.units, b.units) << p.a;
        }
    }
}

TEST_F(WavInput, RefusesWhatItCannotCarry) {
    const uint8_t planar[2] = {WAV_FORM_PLANAR, 4};
    struct Case {
        std::string path;
        const char* why;
    };
    const std::string d = *dir;
    std::vector<Case> cases = {
        {mexora_test::MakeWav(d, "r44.wav", 2, 16, 0.05, 44100), "44.1 kHz"},
        {mexora_test::MakeWav(d, "r96.wav", 2, 16, 0.05, 96000), "96 kHz"},
    };
    ASSERT_TRUE(mexora_test::Ffmpeg("-f lavfi -i sine=r=48000:d=0.05 -c:a pcm_f32le '" + d + "/float.wav'"));
    cases.push_back({d + "/float.wav", "float samples"});
    ASSERT_TRUE(mexora_test::WriteFile(d + "/junk.wav", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}));
    cases.push_back({d + "/junk.wav", "not WAVE"});
    cases.push_back({d + "/none.wav", "missing"});
    for (const Case& c : cases) EXPECT_EQ(bs_wav_open(c.path.c_str(), 4096, planar), nullptr) << c.why;
    const uint8_t badCode[2] = {WAV_FORM_PLANAR, 9};
    EXPECT_EQ(bs_wav_open(wav->c_str(), 4096, badCode), nullptr);
    EXPECT_EQ(bs_wav_open(wav->c_str(), 4096, nullptr), nullptr);
}

TEST_F(WavInput, UnknownChunksBeforeTheFormatAreSkipped) {
    std::vector<uint8_t> raw(6 * 100);
    for (size_t i = 0; i < raw.size(); i++) raw[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> file = mexora_test::CanonicalWav(raw, 2, 24, 48000);
    // Insert an odd-sized "junk" chunk (padded to even) after "WAVE".
    const std::vector<uint8_t> junk = {'j', 'u', 'n', 'k', 3, 0, 0, 0, 9, 9, 9, 0};
    file.insert(file.begin() + 12, junk.begin(), junk.end());
    const std::string path = *dir + "/junk-first.wav";
    ASSERT_TRUE(mexora_test::WriteFile(path, file));
    const Units u = ReadUnits(path, WAV_FORM_PLANAR, 8);
    ASSERT_EQ(u.units.size(), 1u);
    EXPECT_EQ(u.units[0][0], 0);
    EXPECT_EQ(u.units[0][3], 6);  // sample 1 of channel 0
}

}  // namespace
