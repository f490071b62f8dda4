// Made-up times of bare MPEG video and H.264 streams.
#include "restamp/DemuxCommon/DFH264Stream.h"
#include "restamp/DemuxCommon/DFVideoOnlyStream.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int64_t F = 400000;  // 25 frames per second

class Recorder : public AMainParserOwner {
public:
    void AttachAudioRoot(BS::AStreamElement*) override {}
    void AttachAC3Root(BS::AStreamElement*) override {}
    void AttachSystemStream(BS::AStreamElement*, BS::CBaseState*) override {}
    uint32_t OnTime(const CStreamKey& k, int64_t t) override {
        EXPECT_EQ(k, CStreamKey());
        if (t != kNoTime) times.push_back(t);
        return 0;
    }
    uint32_t OnPayload(const uint8_t*, uint32_t len, int64_t, const CStreamKey&) override {
        lengths.push_back(len);
        return 0;
    }
    void SetPendingSeqHeader(const uint8_t* d, uint32_t len) override { pending.assign(d, d + len); }
    std::vector<int64_t> times;
    std::vector<uint32_t> lengths;
    std::vector<uint8_t> pending;
};

// An MPEG-2 stream of 720x576 pictures at 25 frames per second.
class Mpeg2Writer {
public:
    explicit Mpeg2Writer(bool progressive) {
        Add({0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0xFF, 0xFF, 0xE0, 0x18, 0, 0, 0, 0});
        Add({0, 0, 1, 0xB5, 0x14, uint8_t(0x82 | (progressive ? 0x08 : 0)), 0x00, 0x01, 0x00, 0, 0, 0});
    }
    // type 1 I, 2 P, 3 B.
    void Picture(uint32_t tr, uint32_t type, bool repeatFirstField = false, bool topFieldFirst = false) {
        Add({0, 0, 1, 0x00, uint8_t(tr >> 2), uint8_t(((tr & 3) << 6) | (type << 3) | 7), 0xFF, 0xF8, 0, 0, 0, 0});
        const uint8_t flags = uint8_t((topFieldFirst ? 0x80 : 0) | (repeatFirstField ? 0x02 : 0));
        Add({0, 0, 1, 0xB5, 0x8F, 0xFF, 0xF3, flags, 0x80, 0, 0, 0});
        std::vector<uint8_t> slice = {0, 0, 1, 0x01};
        slice.resize(40, 0x55);
        Add(slice);
    }
    void Add(const std::vector<uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    std::vector<uint8_t> bytes;
};

using VideoTemplate =
    BS::CParserTemplateImpl<MVideo::CVideoParserImpl, MVideo::CVideoParserHandlerImpl, CDFVideoDispatcher>;

// As the main parser builds it: the element made from the detector.
std::vector<int64_t> Times(const std::vector<uint8_t>& bytes) {
    Recorder rec;
    VideoTemplate t;
    t.stream.owner = &rec;
    MVideo::DetectVideoStream det;
    EXPECT_EQ(det.Detect(bytes.data(), uint32_t(bytes.size())), 1);
    t.stream.CreateVEStream(&det);
    t.Reset();
    t.Parse(0, bytes.data(), uint32_t(bytes.size()), 0);
    return rec.times;
}

TEST(VideoOnlyStream, IBBPTimesInDecodingOrder) {
    Mpeg2Writer w(false);
    const uint32_t pictures[][2] = {{2, 1}, {0, 3}, {1, 3}, {5, 2}, {3, 3}, {4, 3}, {2, 1}, {0, 3}};
    for (const auto& p : pictures) w.Picture(p[0], p[1]);
    // The run before the first picture takes 0; the I picture with temporal
    // reference 2 moves the base on by two frames and A starts at -2F.
    const std::vector<int64_t> expected = {0, 3 * F, 2 * F, 3 * F, 4 * F, 5 * F, 6 * F, 9 * F, 8 * F};
    EXPECT_EQ(Times(w.bytes), expected);
}

TEST(VideoOnlyStream, RepeatedFieldsLengthenThePicture) {
    struct Case {
        bool progressiveSequence, topFieldFirst;
        int64_t duration;
    };
    for (const Case& c : {Case{true, true, 3 * F}, Case{true, false, 2 * F}, Case{false, true, F * 3 / 2}}) {
        Mpeg2Writer w(c.progressiveSequence);
        w.Picture(0, 1, true, c.topFieldFirst);
        w.Picture(1, 2);
        const auto t = Times(w.bytes);
        ASSERT_EQ(t.size(), 3u);
        EXPECT_EQ(t[2] - t[1], c.duration) << c.progressiveSequence << c.topFieldFirst;
    }
}

TEST(VideoOnlyStream, DetectorGivesFrameDurationAndPendingHeader) {
    Mpeg2Writer w(false);
    for (int i = 0; i < 4; ++i) w.Picture(uint32_t(i), i ? 2 : 1);
    MVideo::DetectVideoStream det;
    ASSERT_EQ(det.Detect(w.bytes.data(), uint32_t(w.bytes.size())), 1);
    Recorder rec;
    CDFVideoDispatcher disp;
    disp.owner = &rec;
    auto* s = dynamic_cast<CDFVideoOnlyStream*>(disp.CreateVEStream(&det));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->FrameDuration(), F);
    EXPECT_EQ(rec.pending, det.runCopy);
    disp.Release();
}

// A run shorter than the ten bytes held back gives nothing and keeps its
// time for the next run.
TEST(VideoOnlyStream, ShortRunsAreHeld) {
    const uint8_t shortRun[5] = {1, 2, 3, 4, 5};
    const uint8_t next[16] = {9, 9, 0, 0, 1, 0x00, 0, 0x0F, 0xFF, 0xF8, 0, 0, 0, 0, 0, 0};
    Recorder rec;
    {
        CDFVideoOnlyStream s(&rec);
        s.Reset();
        BS::ParserControl ctl;
        s.OnData(0, shortRun, sizeof shortRun, &ctl, 0);
        EXPECT_EQ(ctl.remaining, 0xFFFFFFFFu);
        EXPECT_TRUE(rec.lengths.empty());
        s.OnData(5, next, sizeof next, &ctl, 0);
        EXPECT_EQ(rec.lengths, std::vector<uint32_t>{2});
        EXPECT_EQ(rec.times, std::vector<int64_t>{0});
        EXPECT_EQ(ctl.remaining, 0u);
    }
    rec.lengths.clear();
    rec.times.clear();
    {
        CDFH264Stream s(nullptr, &rec);
        s.Reset();
        BS::ParserControl ctl;
        s.OnData(0, shortRun, sizeof shortRun, &ctl, 0);
        EXPECT_EQ(ctl.remaining, 0xFFFFFFFFu);
        EXPECT_TRUE(rec.lengths.empty());
        std::vector<uint8_t> longer(30, 0x77);
        s.OnData(5, longer.data(), uint32_t(longer.size()), &ctl, 0);
        EXPECT_EQ(rec.lengths, std::vector<uint32_t>{20});
        EXPECT_EQ(rec.times, std::vector<int64_t>{0});
    }
}

TEST(H264OnlyStream, NeedsAnOwner) {
    CDFH264Dispatcher d;
    EXPECT_EQ(d.CreateH264Stream(nullptr), nullptr);
    Recorder rec;
    d.owner = &rec;
    auto* s = dynamic_cast<CDFH264Stream*>(d.CreateH264Stream(nullptr));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->FrameDuration(), 333333);
    d.Release();
}

}  // namespace
