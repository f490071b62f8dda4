// The plug-in's platform-free parts: type checks, output splitting and
// timing, the shared record and its hand-over, and the page's factor text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "plugin/core/MediaFormat.h"
#include "plugin/core/OutputSplitter.h"
#include "plugin/core/ScaleFactor.h"
#include "plugin/core/SharedAudioBlock.h"

using namespace plugin;

namespace {

// WAVEFORMATEX bytes (and the extensible tail when cbSize asks for it).
std::vector<uint8_t> WaveBytes(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t cbSize = 0,
                               size_t total = 0, const Guid& sub = kSubtypePcm, uint16_t validBits = 0) {
    uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    uint32_t avg = rate * align;
    std::vector<uint8_t> b(total ? total : kWaveFormatExSize + cbSize, 0);
    auto put16 = [&](size_t at, uint16_t v) {
        if (at + 2 <= b.size()) std::memcpy(&b[at], &v, 2);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        if (at + 4 <= b.size()) std::memcpy(&b[at], &v, 4);
    };
    put16(0, tag);
    put16(2, channels);
    put32(4, rate);
    put32(8, avg);
    put16(12, align);
    put16(14, bits);
    put16(16, cbSize);
    put16(18, validBits ? validBits : bits);
    if (b.size() >= kWaveFormatExtensibleSize) std::memcpy(&b[24], &sub, sizeof sub);
    return b;
}

std::vector<uint8_t> Extensible(uint16_t bits, const Guid& sub = kSubtypePcm) {
    return WaveBytes(kWaveFormatExtensible, 2, 44100, bits, kExtensibleExtraSize, 0, sub);
}

MediaTypeView View(const std::vector<uint8_t>& format) {
    return {kMediaTypeAudio, kSubtypePcm, kFormatWaveFormatEx, format.data(), format.size()};
}

TEST(TapSplitting, TenThousandBytesOverFourKilobyteBuffers) {
    const int64_t t = 5000000;
    HeldInput held{0, 10000, true, t};
    const uint32_t expectSize[] = {4096, 4096, 1808};
    const int64_t expectTime[] = {t, t + 232200, t + 464400};
    for (int i = 0; i < 3; ++i) {
        OutputSlice s = TakeSlice(held, 4096, 176400);
        EXPECT_EQ(s.offset, 4096u * i);
        EXPECT_EQ(s.size, expectSize[i]);
        EXPECT_EQ(s.complete, i == 2);
        EXPECT_TRUE(s.hasTime);
        EXPECT_EQ(s.time, expectTime[i]);
    }
    EXPECT_EQ(held.remaining, 0u);
    EXPECT_FALSE(held.hasTime);

    HeldInput untimed{0, 100, false, 0};
    OutputSlice s = TakeSlice(untimed, 4096, 176400);
    EXPECT_TRUE(s.complete);
    EXPECT_FALSE(s.hasTime);
    EXPECT_EQ(s.size, 100u);
}

TEST(TapSplitting, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDivRound(4096, kUnitsPerSecond, 176400), 232200);  // 232,199.55
    EXPECT_EQ(MulDivRound(1, 3, 2), 2);
    EXPECT_EQ(MulDivRound(-1, 3, 2), -2);
    EXPECT_EQ(MulDivRound(1, 1, 3), 0);
    EXPECT_EQ(MulDivRound(5, 5, 0), -1);
}

TEST(TapTypes, FormatCheckTable) {
    struct Case {
        const char* name;
        std::vector<uint8_t> format;
        bool accepted;
    };
    const Case cases[] = {
        {"8-bit PCM", WaveBytes(kWaveFormatPcm, 1, 22050, 8), true},
        {"16-bit PCM", WaveBytes(kWaveFormatPcm, 2, 44100, 16), true},
        {"extensible PCM", Extensible(16), true},
        {"extensible float", Extensible(16, kSubtypeIeeeFloat), true},
        {"24-bit PCM", WaveBytes(kWaveFormatPcm, 2, 44100, 24), false},
        {"32-bit extensible", Extensible(32), false},
        {"no channels", WaveBytes(kWaveFormatPcm, 0, 44100, 16), false},
        {"17 format bytes", WaveBytes(kWaveFormatPcm, 2, 44100, 16, 0, 17), false},
        {"extensible cbSize 0", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 0), false},
        {"extensible cbSize 21", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 21), false},
        {"extensible cbSize 22, 18 bytes", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 22, 18), false},
        {"extensible cbSize 4000", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 4000), false},
        {"extensible cbSize 4000, 40 bytes", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 4000, 40), false},
        {"extensible, valid bits differ", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 22, 0, kSubtypePcm, 12),
         false},
        {"extensible, other sub-format", Extensible(16, kFormatWaveFormatEx), false},
        {"other tag", WaveBytes(2, 2, 44100, 16), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TypeAcceptable(View(c.format), nullptr), c.accepted) << c.name;
    }

    std::vector<uint8_t> pcm = WaveBytes(kWaveFormatPcm, 2, 44100, 16);
    MediaTypeView video = View(pcm);
    video.major = kFormatWaveFormatEx;
    EXPECT_FALSE(TypeAcceptable(video, nullptr));
    MediaTypeView noFormat = View(pcm);
    noFormat.formatType = kSubtypePcm;
    EXPECT_FALSE(TypeAcceptable(noFormat, nullptr));
}

TEST(TapTypes, OtherStreamMustMatch) {
    std::vector<uint8_t> pcm = WaveBytes(kWaveFormatPcm, 2, 44100, 16);
    std::vector<uint8_t> rate = WaveBytes(kWaveFormatPcm, 2, 48000, 16);
    std::vector<uint8_t> mono = WaveBytes(kWaveFormatPcm, 1, 44100, 16);
    std::vector<uint8_t> ext = Extensible(16);
    std::vector<uint8_t> extFloat = Extensible(16, kSubtypeIeeeFloat);
    MediaTypeView pcmView = View(pcm), extView = View(ext);
    EXPECT_TRUE(TypeAcceptable(View(pcm), &pcmView));
    EXPECT_TRUE(TypeAcceptable(View(ext), &extView));
    EXPECT_FALSE(TypeAcceptable(View(rate), &pcmView));
    EXPECT_FALSE(TypeAcceptable(View(mono), &pcmView));
    EXPECT_FALSE(TypeAcceptable(View(ext), &pcmView));
    EXPECT_FALSE(TypeAcceptable(View(extFloat), &extView));
    MediaTypeView otherSubtype = View(pcm);
    otherSubtype.subtype = kSubtypeIeeeFloat;
    EXPECT_FALSE(TypeAcceptable(otherSubtype, &pcmView));
}

// The kernel objects as a fake: a view of the block's size and counts of
// what the hand-over did.
class FakeChannel : public BlockChannel {
public:
    explicit FakeChannel(uint32_t window = 0x1234) : view(kBlockSize, 0) {
        std::memcpy(&view[kWindowOffset], &window, 4);
    }
    bool Creator() const override { return creator; }
    uint8_t* View() override { return view.data(); }
    size_t ViewSize() const override { return view.size(); }
    WaitOutcome WaitMutex(uint32_t ms) override {
        EXPECT_EQ(ms, kWaitMs);
        ++waits;
        if (mutex == WaitOutcome::Obtained || mutex == WaitOutcome::Abandoned) ++held;
        return mutex;
    }
    void ReleaseMutex() override {
        EXPECT_GT(held, 0) << "released a mutex not obtained";
        --held;
    }
    bool IsReaderWindow(uint32_t) override { return windowAlive; }
    bool SignalDataReady() override {
        EXPECT_EQ(held, 1) << "record handed over outside the mutex";
        auto r = ReadRecord(view.data(), view.size());
        EXPECT_TRUE(r.has_value());
        if (r) records.push_back(*r);
        return true;
    }
    void WaitConsumed(uint32_t ms) override { EXPECT_EQ(ms, kWaitMs); }

    std::vector<uint8_t> view;
    bool creator = false;
    bool windowAlive = true;
    WaitOutcome mutex = WaitOutcome::Obtained;
    int waits = 0;
    int held = 0;
    std::vector<Record> records;
};

std::vector<uint8_t> Ramp(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

RecordFields Fields() {
    RecordFields f;
    f.processId = 0x42;
    f.path = u"C:\\PROGRA~1\\WINDOW~1\\wmplayer.exe";
    f.instanceId = 0x42 + 1000;
    return f;
}

TEST(SharedBlock, PcmBufferGoesOverInTwoRecords) {
    FakeChannel ch;
    std::vector<uint8_t> fmt = WaveBytes(kWaveFormatPcm, 2, 44100, 16, 0, 20);  // cbSize 0, two spare bytes
    std::vector<uint8_t> audio = Ramp(100000);
    EXPECT_EQ(SendBuffer(ch, Fields(), fmt.data(), fmt.size(), audio.data(), audio.size()), 2u);
    ASSERT_EQ(ch.records.size(), 2u);
    EXPECT_EQ(ch.records[0].audio.size(), 63486u);
    EXPECT_EQ(ch.records[1].audio.size(), 36514u);
    std::vector<uint8_t> joined = ch.records[0].audio;
    joined.insert(joined.end(), ch.records[1].audio.begin(), ch.records[1].audio.end());
    EXPECT_EQ(joined, audio);
    const Record& r = ch.records[0];
    EXPECT_EQ(r.processId, 0x42u);
    EXPECT_EQ(r.instanceId, 0x42u + 1000);
    EXPECT_EQ(r.version, kRecordVersion);
    EXPECT_EQ(r.path, Fields().path);
    EXPECT_EQ(r.format, std::vector<uint8_t>(fmt.begin(), fmt.begin() + 18));
    EXPECT_EQ(ch.held, 0);
    // The last byte of the largest record lies before the window handle.
    EXPECT_EQ(kFormatOffset + 18 + 4 + kMaxChunk, 0xFC30u);
}

TEST(SharedBlock, ExtensibleRecordsCarryTheFortyByteFormat) {
    FakeChannel ch;
    std::vector<uint8_t> fmt = Extensible(16);
    std::vector<uint8_t> audio = Ramp(100000);
    EXPECT_EQ(SendBuffer(ch, Fields(), fmt.data(), fmt.size(), audio.data(), audio.size()), 2u);
    ASSERT_EQ(ch.records.size(), 2u);
    EXPECT_EQ(ch.records[0].audio.size(), 63464u);
    EXPECT_EQ(ch.records[1].audio.size(), 100000u - 63464u);
    EXPECT_EQ(ch.records[0].format, fmt);
}

TEST(SharedBlock, FormatsThatAreNeverSent) {
    struct Case {
        const char* name;
        std::vector<uint8_t> format;
    };
    const Case cases[] = {
        {"24-bit PCM", WaveBytes(kWaveFormatPcm, 2, 44100, 24)},
        {"32-bit extensible", Extensible(32)},
        {"extensible cbSize 0", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 0)},
        // A large cbSize once made the chunk size wrap and the copy run past the view.
        {"extensible cbSize 4000", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 4000)},
        {"extensible cbSize 65000", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 65000)},
        {"extensible cbSize 22 in 18 bytes", WaveBytes(kWaveFormatExtensible, 2, 44100, 16, 22, 18)},
    };
    std::vector<uint8_t> audio = Ramp(70000);
    for (const Case& c : cases) {
        FakeChannel ch;
        EXPECT_EQ(SendBuffer(ch, Fields(), c.format.data(), c.format.size(), audio.data(), audio.size()), 0u) << c.name;
        EXPECT_EQ(ch.waits, 0) << c.name;
    }
}

TEST(SharedBlock, RecordsAreBoundedByTheView) {
    std::vector<uint8_t> view(kBlockSize, 0xEE);
    std::vector<uint8_t> fmt = WaveBytes(kWaveFormatPcm, 2, 44100, 16);
    // Room for audio between the 18-byte format's size field and the window handle.
    const auto room = static_cast<uint32_t>(kWindowOffset - kFormatOffset - 18 - 4);
    std::vector<uint8_t> audio = Ramp(room + 1);
    EXPECT_TRUE(WriteRecord(view.data(), view.size(), Fields(), fmt.data(), fmt.size(), audio.data(), room));
    EXPECT_FALSE(WriteRecord(view.data(), view.size(), Fields(), fmt.data(), fmt.size(), audio.data(), room + 1));
    std::vector<uint8_t> bigFormat(5000, 0);
    EXPECT_FALSE(
        WriteRecord(view.data(), view.size(), Fields(), bigFormat.data(), bigFormat.size(), audio.data(), kMaxChunk));
    EXPECT_EQ(view[kWindowOffset], 0xEE);
    EXPECT_FALSE(WriteRecord(view.data(), 0x480, Fields(), fmt.data(), fmt.size(), audio.data(), 100));

    // A path longer than the field keeps its NUL inside the field.
    RecordFields longPath = Fields();
    longPath.path.assign(400, u'x');
    ASSERT_TRUE(WriteRecord(view.data(), view.size(), longPath, fmt.data(), fmt.size(), audio.data(), 10));
    EXPECT_EQ(ReadRecord(view.data(), view.size())->path.size(), kPathMaxChars - 1);
}

TEST(SharedBlock, HandOverOutcomes) {
    std::vector<uint8_t> fmt = WaveBytes(kWaveFormatPcm, 2, 44100, 16);
    std::vector<uint8_t> audio = Ramp(1000);
    auto send = [&](FakeChannel& ch) {
        return HandOverRecord(ch, Fields(), fmt.data(), fmt.size(), audio.data(), 1000);
    };

    FakeChannel creator;
    creator.creator = true;
    EXPECT_EQ(send(creator), HandOver::Creator);
    EXPECT_EQ(creator.waits, 0);

    FakeChannel noWindow(0);
    EXPECT_EQ(send(noWindow), HandOver::NoReader);
    EXPECT_TRUE(noWindow.records.empty());
    EXPECT_EQ(noWindow.view[kFormatOffset], 0) << "no record without a reader";
    EXPECT_EQ(noWindow.held, 0);

    FakeChannel deadWindow;
    deadWindow.windowAlive = false;
    EXPECT_EQ(send(deadWindow), HandOver::NoReader);
    EXPECT_EQ(deadWindow.held, 0);

    FakeChannel busy;
    busy.mutex = WaitOutcome::TimedOut;
    EXPECT_EQ(send(busy), HandOver::NoMutex);
    EXPECT_TRUE(busy.records.empty());

    FakeChannel failed;
    failed.mutex = WaitOutcome::Failed;
    EXPECT_EQ(send(failed), HandOver::NoMutex);

    // The last owner died holding the mutex: the wait still gave it to us.
    FakeChannel abandoned;
    abandoned.mutex = WaitOutcome::Abandoned;
    EXPECT_EQ(send(abandoned), HandOver::Sent);
    EXPECT_EQ(abandoned.records.size(), 1u);
    EXPECT_EQ(abandoned.held, 0);
}

TEST(SharedBlock, EmptyBufferSendsNothing) {
    FakeChannel ch;
    std::vector<uint8_t> fmt = WaveBytes(kWaveFormatPcm, 2, 44100, 16);
    EXPECT_EQ(SendBuffer(ch, Fields(), fmt.data(), fmt.size(), nullptr, 0), 0u);
    EXPECT_EQ(ch.waits, 0);
}

TEST(ScaleFactorText, PageParserTable) {
    struct Case {
        const char* text;
        bool accepted;
        uint32_t stored;
    };
    const Case cases[] = {
        {"0.5", true, 32768},   {"1", true, 65536},     {"0", true, 0},
        {" 0.25", true, 16384}, {"1.5", false, 0},      {"-0.1", false, 0},
        {"nan", false, 0},      {"NaN", false, 0},      {"-nan", false, 0},
        {"inf", false, 0},      {"Infinity", false, 0}, {"1e999", false, 0},
        {"abc", true, 65536},   {"", true, 65536},      {"0.999999", true, 65535},
    };
    for (const Case& c : cases) {
        std::optional<double> f = ParseScaleFactor(c.text);
        EXPECT_EQ(f.has_value(), c.accepted) << c.text;
        if (f && c.accepted) {
            EXPECT_EQ(ScaleToRegistry(*f), c.stored) << c.text;
        }
    }
}

TEST(ScaleFactorText, RegistryValueAndDisplay) {
    EXPECT_EQ(ScaleFromRegistry(32768), 0.5);
    EXPECT_EQ(FormatScaleFactor(ScaleFromRegistry(32768)), "0.50");
    EXPECT_EQ(FormatScaleFactor(1.0), "1.00");
    EXPECT_EQ(ScaleToRegistry(std::nan("")), 0u);
}

}  // namespace
