// A resumed recording's parts in one program stream file: the second part's
// clock and times are moved to follow the first, the end code between the
// parts goes, and every stream's times rise across the join.
#include "recorder/core/SegmentJoin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

namespace recorder {
namespace {

class MemoryFile : public ByteFile {
public:
    std::vector<uint8_t> bytes;
    uint64_t Size() override { return bytes.size(); }
    bool Read(uint64_t offset, uint8_t* data, size_t size) override {
        if (offset + size > bytes.size()) return false;
        std::memcpy(data, bytes.data() + offset, size);
        return true;
    }
    bool Write(uint64_t offset, const uint8_t* data, size_t size) override {
        if (offset + size > bytes.size()) return false;
        std::memcpy(bytes.data() + offset, data, size);
        return true;
    }
    bool Truncate(uint64_t size) override {
        bytes.resize(size);
        return true;
    }
};

void PutPesTime(std::vector<uint8_t>& out, int prefix, int64_t t) {
    out.push_back(static_cast<uint8_t>(prefix << 4 | ((t >> 29) & 0x0E) | 1));
    out.push_back(static_cast<uint8_t>(t >> 22));
    out.push_back(static_cast<uint8_t>(((t >> 14) & 0xFE) | 1));
    out.push_back(static_cast<uint8_t>(t >> 7));
    out.push_back(static_cast<uint8_t>(((t << 1) & 0xFE) | 1));
}

void PutPack(std::vector<uint8_t>& out, int64_t scr) {
    const uint8_t pack[14] = {0,
                              0,
                              1,
                              0xBA,
                              static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
                              static_cast<uint8_t>(scr >> 20),
                              static_cast<uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
                              static_cast<uint8_t>(scr >> 5),
                              static_cast<uint8_t>(((scr << 3) & 0xF8) | 0x04),
                              0x01,
                              0x01,
                              0x89,
                              0xC3,
                              0xF8};
    out.insert(out.end(), pack, pack + 14);
}

// One PES packet with a PTS (and a DTS for video) and a payload that holds
// start-code-like bytes, which must not disturb the walk.
void PutPes(std::vector<uint8_t>& out, uint8_t id, int64_t pts, int64_t dts) {
    const bool withDts = dts >= 0;
    const uint8_t payload[] = {0, 0, 1, 0xBA, 0, 0, 1, 0xC0, 0x55, 0xAA};
    const size_t header = withDts ? 10 : 5;
    const size_t length = 3 + header + sizeof payload;
    const uint8_t start[] = {0,
                             0,
                             1,
                             id,
                             static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length),
                             0x81,
                             static_cast<uint8_t>(withDts ? 0xC0 : 0x80),
                             static_cast<uint8_t>(header)};
    out.insert(out.end(), start, start + sizeof start);
    PutPesTime(out, withDts ? 3 : 2, pts);
    if (withDts) PutPesTime(out, 1, dts);
    out.insert(out.end(), payload, payload + sizeof payload);
}

// A part as our multiplexer writes it: the clock from `scr0`, pictures and
// sound from 0.213 s after it, 40 ms apart, then the end code.
std::vector<uint8_t> Part(int64_t scr0, int frames) {
    std::vector<uint8_t> out;
    for (int i = 0; i < frames; ++i) {
        PutPack(out, scr0 + i * 3600);
        const int64_t t = scr0 + 19170 + i * 3600;
        PutPes(out, 0xE0, t + 3600, t);
        PutPes(out, 0xC0, t, -1);
    }
    const uint8_t end[] = {0, 0, 1, 0xB9};
    out.insert(out.end(), end, end + 4);
    return out;
}

// Every SCR and each stream's PTS in file order.
struct Timeline {
    std::vector<int64_t> scr;
    std::map<uint8_t, std::vector<int64_t>> pts;
    int endCodes = 0;
};

Timeline Read(const std::vector<uint8_t>& b) {
    Timeline t;
    for (size_t i = 0; i + 4 <= b.size();) {
        EXPECT_TRUE(b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) << "lost at " << i;
        if (b[i + 3] == 0xB9) {
            ++t.endCodes;
            i += 4;
        } else if (b[i + 3] == 0xBA) {
            const uint8_t* p = &b[i + 4];
            t.scr.push_back((static_cast<int64_t>(p[0] >> 3 & 7) << 30) | (static_cast<int64_t>(p[0] & 3) << 28) |
                            (static_cast<int64_t>(p[1]) << 20) | (static_cast<int64_t>(p[2] >> 3) << 15) |
                            (static_cast<int64_t>(p[2] & 3) << 13) | (static_cast<int64_t>(p[3]) << 5) | (p[4] >> 3));
            i += 14;
        } else {
            const uint8_t* p = &b[i + 9];
            t.pts[b[i + 3]].push_back((static_cast<int64_t>(p[0] >> 1 & 7) << 30) | (static_cast<int64_t>(p[1]) << 22) |
                                      (static_cast<int64_t>(p[2] >> 1) << 15) | (static_cast<int64_t>(p[3]) << 7) |
                                      (p[4] >> 1));
            i += 6 + (b[i + 4] << 8 | b[i + 5]);
        }
    }
    return t;
}

void ExpectRising(const std::vector<int64_t>& times, const char* what) {
    for (size_t i = 1; i < times.size(); ++i) ASSERT_GT(times[i], times[i - 1]) << what << " at " << i;
}

TEST(SegmentJoin, AResumedPartFollowsThePartBefore) {
    // Low clocks, and clocks near the top of the 33-bit range (all bits used).
    for (int64_t first : {int64_t{0}, (int64_t{1} << 32) - 90000}) {
        MemoryFile file;
        file.bytes = Part(first, 150);  // 6 s
        const Continuation c = PrepareContinuation(file);
        ASSERT_TRUE(c.active);
        EXPECT_EQ(file.bytes.size(), c.offset) << "the end code is cut";
        const std::vector<uint8_t> second = Part(0, 75);
        file.bytes.insert(file.bytes.end(), second.begin(), second.end());
        ASSERT_TRUE(JoinContinuation(file, c));

        const Timeline t = Read(file.bytes);
        EXPECT_EQ(1, t.endCodes);
        ASSERT_EQ(225u, t.scr.size());
        ExpectRising(t.scr, "SCR");
        ExpectRising(t.pts.at(0xE0), "video");
        ExpectRising(t.pts.at(0xC0), "audio");
        // No pause in the timeline: the second part starts one gap after
        // the first part's last time.
        const int64_t lastBefore = t.pts.at(0xE0)[149];
        EXPECT_EQ(lastBefore + kJoinGap, t.pts.at(0xC0)[150]) << first;
        EXPECT_EQ(t.pts.at(0xC0)[150] + 3600, t.pts.at(0xE0)[150]);
    }
}

TEST(SegmentJoin, AnEmptyFileIsNoContinuationAndOtherBytesAreLeftAlone) {
    MemoryFile empty;
    EXPECT_FALSE(PrepareContinuation(empty).active);
    EXPECT_TRUE(JoinContinuation(empty, Continuation{}));

    MemoryFile other;
    other.bytes.assign(1000, 0x47);  // not a program stream
    const std::vector<uint8_t> before = other.bytes;
    EXPECT_FALSE(PrepareContinuation(other).active);
    EXPECT_EQ(before, other.bytes);
}

}  // namespace
}  // namespace recorder
