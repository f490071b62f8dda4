#include "restamp/DemuxCommon/TimeMarkerCore.h"

#include "codec/common/TimeStamps.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Sink : ATimeSink {
    void OnTime(int64_t t) override { times.push_back(t); }
    std::vector<int64_t> times;
};

std::vector<int64_t> Distinct(const std::vector<int64_t>& v) {
    std::vector<int64_t> out;
    for (int64_t t : v)
        if (out.empty() || out.back() != t) out.push_back(t);
    return out;
}

TEST(DataDispatcher, DetectionIsTriedAtEachDoubling) {
    Sink s;
    CDataDispatcher d(&s);
    Bytes zeros(100000, 0);
    uint32_t n = 99999;
    d.ProcessData(0, zeros.data(), &n);
    EXPECT_EQ(d.DetectionAttempts(), 0u);
    n = 1;
    d.ProcessData(99999, zeros.data(), &n);
    EXPECT_EQ(d.DetectionAttempts(), 1u);
    for (int i = 0; i < 3; ++i) {
        n = 100000;
        d.ProcessData(0, zeros.data(), &n);
    }
    EXPECT_EQ(d.DetectionAttempts(), 3u);  // at 200,000 and 400,000
    EXPECT_FALSE(d.MainParser().IsInitialized());
    EXPECT_TRUE(s.times.empty());

    CDataDispatcher e(&s);
    n = 50000;
    e.ProcessData(0, zeros.data(), &n);
    e.EndOfStream();
    EXPECT_EQ(e.DetectionAttempts(), 1u);
    // No time is no report.
    e.OnTime(CStreamKey(), kNoTime);
    e.OnPayload(nullptr, 0, kNoTime, CStreamKey());
    EXPECT_TRUE(s.times.empty());
}

Bytes Frames(const Bytes& head, size_t frameLen, int n) {
    Bytes v;
    for (int i = 0; i < n; ++i) {
        Bytes f(frameLen, 0x11);
        std::copy(head.begin(), head.end(), f.begin());
        v.insert(v.end(), f.begin(), f.end());
    }
    return v;
}

// Bare audio: each frame advances the running time by its own duration.
TEST(DataDispatcher, BareAudioFramesAdvanceByTheirDuration) {
    struct Case {
        const char* what;
        Bytes head;
        size_t len;
        int64_t step;
    };
    const Case cases[] = {
        {"Layer II 192 kbit/s 48 kHz", {0xFF, 0xFD, 0xA4, 0x00}, 576, 240000},
        {"AC-3 448 kbit/s 48 kHz", {0x0B, 0x77, 0, 0, 0x1E, 0x40, 0x40}, 1792, 320000},
        {"AC-3 192 kbit/s 48 kHz", {0x0B, 0x77, 0, 0, 0x14, 0x40, 0x40}, 768, 320000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes data = Frames(c.head, c.len, 400);
        Sink s;
        CDataDispatcher d(&s);
        uint32_t n = uint32_t(data.size());
        d.ProcessData(0, data.data(), &n);
        ASSERT_TRUE(d.MainParser().IsInitialized());
        n = uint32_t(data.size());
        d.ProcessData(0, data.data(), &n);
        auto t = Distinct(s.times);
        ASSERT_GT(t.size(), 100u);
        for (size_t i = 0; i < t.size(); ++i) ASSERT_EQ(t[i], int64_t(i) * c.step);
    }
}

Bytes Pack(uint64_t scr) {
    Bytes b(14, 0);
    b[2] = 1;
    b[3] = 0xBA;
    MpegCommon::EncodePackScr(&b[4], scr, 0);
    b[10] = 0x01;
    b[11] = 0x89;
    b[12] = 0xC3;
    b[13] = 0xF8;
    return b;
}

Bytes Pes(uint8_t sid, const Bytes& payload, int64_t pts = -1) {
    Bytes b = {0, 0, 1, sid, 0, 0, 0x80, uint8_t(pts >= 0 ? 0x80 : 0), uint8_t(pts >= 0 ? 5 : 0)};
    if (pts >= 0) {
        uint8_t t[5];
        MpegCommon::EncodeTimeStamp(t, 2, uint64_t(pts));
        b.insert(b.end(), t, t + 5);
    }
    b.insert(b.end(), payload.begin(), payload.end());
    b[4] = uint8_t((b.size() - 6) >> 8);
    b[5] = uint8_t(b.size() - 6);
    return b;
}

Bytes VideoPayload() {
    Bytes v = {0, 0,    1,    0xB3, 0x16, 0x01, 0x20, 0x13, 0xFF, 0xFF, 0xE0, 0x18, 0,    0,
               1, 0xB8, 0x00, 0x08, 0x00, 0x40, 0,    0,    1,    0x00, 0x00, 0x0F, 0xFF, 0xF8};
    v.resize(200, 0x5A);
    return v;
}

struct Recorder : AMainParserOwner {
    void AttachAudioRoot(BS::AStreamElement*) override {}
    void AttachAC3Root(BS::AStreamElement*) override {}
    void AttachSystemStream(BS::AStreamElement*, BS::CBaseState*) override {}
    uint32_t OnTime(const CStreamKey& k, int64_t t) override {
        if (t != kNoTime) got.push_back({k.streamId, t});
        return 0;
    }
    uint32_t OnPayload(const uint8_t*, uint32_t, int64_t t, const CStreamKey& k) override { return OnTime(k, t); }
    std::vector<std::pair<uint8_t, int64_t>> got;
};

TEST(ProgramStreamTimes, PackScrAndPesPtsInReferenceTime) {
    Bytes s;
    const int64_t big = (int64_t(1) << 32) + 900;  // bit 32 set: still a positive time
    for (int i = 0; i < 8; ++i) {
        Bytes p = Pack(uint64_t(90000 + i));
        s.insert(s.end(), p.begin(), p.end());
        Bytes v = Pes(0xE0, VideoPayload(), i == 0 ? 900 : (i == 7 ? big : (i % 2 ? -1 : 900 + i)));
        s.insert(s.end(), v.begin(), v.end());
        Bytes pad = Pes(0xBE, Bytes(50, 0xFF));
        s.insert(s.end(), pad.begin(), pad.end());
    }
    s.resize(s.size() + 40, 0);
    Recorder rec;
    CMainParser mp(&rec);
    BS::CSequentialBuffer all(uint32_t(s.size()));
    all.Append(s.data(), uint32_t(s.size()));
    ASSERT_EQ(mp.InitWithData(kNoTime, &all, 1), 0);
    EXPECT_EQ(mp.StreamType(), uint32_t(kTypeProgramStream));
    EXPECT_STREQ(mp.DisplayName(), L"Mpeg2 Program Stream");
    // Detection reported the pack times only.
    ASSERT_EQ(rec.got.size(), 8u);
    EXPECT_EQ(rec.got[0], (std::pair<uint8_t, int64_t>{0, 10000000}));
    rec.got.clear();
    uint32_t n = uint32_t(s.size());
    mp.ParseData(0, s.data(), &n);
    std::vector<std::pair<uint8_t, int64_t>> want;
    for (int i = 0; i < 8; ++i) {
        want.push_back({0, int64_t(90000 + i) * 1000 / 9});
        if (i == 7)
            want.push_back({0xE0, big * 1000 / 9});
        else if (i % 2 == 0)
            want.push_back({0xE0, int64_t(900 + i) * 1000 / 9});
    }
    EXPECT_EQ(rec.got, want);
}

std::vector<int64_t> RunCore(const Bytes& data) {
    CTimeMarkerCore core;
    std::vector<int64_t> stamps;
    for (size_t off = 0; off < data.size(); off += CTimeMarkerCore::kChunkSize) {
        const uint32_t n = uint32_t(std::min<size_t>(CTimeMarkerCore::kChunkSize, data.size() - off));
        stamps.push_back(core.ProcessChunk(data.data() + off, n));
    }
    core.EndOfStream();
    return stamps;
}

TEST(TimeMarkerCore, FirstChunkIsZeroAndInstancesShareNothing) {
    Bytes data = Frames({0xFF, 0xFD, 0xA4, 0x00}, 576, 2000);
    const auto one = RunCore(data);
    ASSERT_EQ(one.size(), (data.size() + 999) / 1000);
    EXPECT_EQ(one[0], 0);
    EXPECT_EQ(one[1], kNoTime);
    int stamped = 0;
    for (int64_t t : one) stamped += t != kNoTime;
    EXPECT_GT(stamped, 900);
    // Two filters at once give what one gives alone.
    std::vector<int64_t> a, b;
    std::thread ta([&] { a = RunCore(data); }), tb([&] { b = RunCore(data); });
    ta.join();
    tb.join();
    EXPECT_EQ(a, one);
    EXPECT_EQ(b, one);
}

}  // namespace

namespace {

TEST(TimeMarkerCore, DisconnectDetectsTheFormatAgain) {
    Bytes mp2 = Frames({0xFF, 0xFD, 0xA4, 0x00}, 576, 400);
    Bytes ac3 = Frames({0x0B, 0x77, 0, 0, 0x1E, 0x40, 0x40}, 1792, 200);
    CTimeMarkerCore core;
    for (size_t off = 0; off + 1000 <= mp2.size(); off += 1000) core.ProcessChunk(mp2.data() + off, 1000);
    ASSERT_TRUE(core.Dispatcher().MainParser().IsInitialized());
    EXPECT_EQ(core.Dispatcher().MainParser().StreamType(), uint32_t(kTypeAudioOnly));
    core.Disconnect();
    EXPECT_FALSE(core.Dispatcher().MainParser().IsInitialized());
    EXPECT_EQ(core.ByteCounter(), 0);
    for (size_t off = 0; off + 1000 <= ac3.size(); off += 1000) core.ProcessChunk(ac3.data() + off, 1000);
    EXPECT_EQ(core.Dispatcher().MainParser().StreamType(), uint32_t(kTypeAC3Only));
    EXPECT_STREQ(core.Dispatcher().MainParser().DisplayName(), L"AC3 Stream");
}

}  // namespace
