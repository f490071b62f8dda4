// Damaged files, as mutations of the small hand-built one: each open either
// refuses with "Unknown file type" or succeeds and its pushes end in 1 or 2.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "mxf/demux/tests/TestSupport.h"

using namespace mxfdemux;
using namespace mxftest;

namespace {

void Put32(Bytes& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

struct Outcome {
    int open = 1;
    bool unknown = false;
    int last = 0;  // the push result that ended the run
    FileInfo info{};
};

Outcome OpenAndPush(const Bytes& file) {
    const std::string path = Dir() + "/bad.mxf";
    WriteAll(path, file);
    Outcome o;
    Host h;
    o.open = Open(h.in, path.c_str());
    o.unknown = h.Saw("Unknown file type");
    if (o.open != 0) return o;
    (void)GetFileInfo(h.in, &o.info);
    ParserSettings ps{256};
    const int p = NewParser(h.in, &ps);
    std::vector<Sink> sinks(static_cast<size_t>(o.info.streamCount), Sink(100));
    for (int k = 0; k < o.info.streamCount; ++k) {
        sinks[static_cast<size_t>(k)].bs.state = &sinks[static_cast<size_t>(k)];
        StreamSettings ss{k, &sinks[static_cast<size_t>(k)].bs};
        (void)AddStream(h.in, p, &ss);
    }
    for (int guard = 0; guard < 100000 && (o.last = Push(h.in, p)) == 0; ++guard) {}
    return o;
}

}  // namespace

TEST(BadInput, MutationsNeverCrash) {
    const Synth s = MakeSynth();
    struct Case {
        const char* what;
        std::function<void(Bytes&)> mutate;
        bool opens;
        bool index;  // the index survives
    };
    const Case cases[] = {
        {"valid", [](Bytes&) {}, true, true},
        {"RIP lists only the header and the footer", [&](Bytes& f) { f[s.ripBer] = 2 * 12 + 4; }, true, false},
        {"RIP length 0", [&](Bytes& f) { f[s.ripBer] = 0; }, true, false},
        {"RIP length 3", [&](Bytes& f) { f[s.ripBer] = 3; }, true, false},
        {"RIP length past the end", [&](Bytes& f) { f[s.ripBer] = 0x7F; }, true, false},
        {"RIP overall length past the end", [&](Bytes& f) { Put32(f, s.ripOverall, 0xFFFFFFF0u); }, true, false},
        {"RIP overall length 0", [&](Bytes& f) { Put32(f, s.ripOverall, 0); }, true, false},
        {"0x20000000 entries of 16 bytes",
         [&](Bytes& f) {
             Put32(f, s.indexCount, 0x20000000u);
             Put32(f, s.entryLength, 16);
         },
         true, false},
        {"entry length 0", [&](Bytes& f) { Put32(f, s.entryLength, 0); }, true, false},
        {"entry length 10", [&](Bytes& f) { Put32(f, s.entryLength, 10); }, true, false},
        {"a denominator of 0", [&](Bytes& f) { Put32(f, s.rateDenominator, 0); }, true, true},
        {"a batch item of 15", [&](Bytes& f) { Put32(f, s.batchItemLength, 15); }, false, false},
        {"a batch of 0xFFFFFFFF labels", [&](Bytes& f) { Put32(f, s.batchItemLength - 4, 0xFFFFFFFFu); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes f = s.file;
        c.mutate(f);
        const Outcome o = OpenAndPush(f);
        EXPECT_EQ(o.open == 0, c.opens);
        if (o.open != 0) {
            EXPECT_TRUE(o.unknown);
            continue;
        }
        EXPECT_EQ(o.last, 2);
        EXPECT_EQ(o.info.indexCount != 0, c.index);
        EXPECT_EQ(o.info.index != nullptr, c.index);
    }
    // Every truncation: refused, or read to an end.
    for (size_t cut = 0; cut < s.file.size(); cut += cut < 200 ? 1 : 61) {
        SCOPED_TRACE(cut);
        const Outcome o = OpenAndPush(Bytes(s.file.begin(), s.file.begin() + static_cast<std::ptrdiff_t>(cut)));
        if (o.open != 0) {
            EXPECT_TRUE(o.unknown || cut == 0);
        } else {
            EXPECT_TRUE(o.last == 1 || o.last == 2) << o.last;
        }
    }
}

TEST(BadInput, SparseFiveGigabyteFileWithEightByteLengths) {
    // The last sound element's 8-byte length reaches past 4 GiB; a picture
    // element sits behind it near the end of a sparse 5 GiB file.
    SynthOptions so;
    so.elementBer = 8;
    const Synth s = MakeSynth(so);
    const int64_t lastPicture = s.pictureKeys.back();
    const int64_t soundKey = lastPicture + 25 + 100 + 37 * (so.frames - 1);
    const int64_t soundPayload = soundKey + 25;
    const int64_t size = 5LL << 30;
    const int64_t tail = size - 40;
    Bytes head(s.file.begin(), s.file.begin() + soundPayload);
    const uint64_t len = static_cast<uint64_t>(tail - soundPayload);
    for (int i = 0; i < 8; ++i)
        head[static_cast<size_t>(soundKey + 17 + i)] = static_cast<uint8_t>(len >> (56 - 8 * i));
    const std::string path = Dir() + "/sparse.mxf";
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
        f.seekp(tail);
        const uint8_t element[27] = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x15, 0x01,
                                     0x05, 0x00, 10,   1,    2,    3,    4,    5,    6,    7,    8,    9,    10};
        f.write(reinterpret_cast<const char*>(element), sizeof element);
        f.seekp(size - 1);
        f.put(0);
        ASSERT_TRUE(f.good());
    }
    Host h;
    ASSERT_EQ(Open(h.in, path.c_str()), 0);
    FileInfo fi{};
    ASSERT_EQ(GetFileInfo(h.in, &fi), 0);
    EXPECT_EQ(fi.fileSize, size);
    EXPECT_EQ(fi.indexCount, 0);
    ParserSettings ps{};
    const int p = NewParser(h.in, &ps);
    Sink v(1 << 20);
    StreamSettings ss{0, &v.bs};
    ASSERT_EQ(AddStream(h.in, p, &ss), 0);
    int r = 0;
    while ((r = Push(h.in, p)) == 0) {}
    EXPECT_EQ(r, 2);
    Bytes want = s.picture;
    for (uint8_t b = 1; b <= 10; ++b) want.push_back(b);
    EXPECT_EQ(v.data, want);
    ASSERT_FALSE(v.records.empty());
    EXPECT_EQ(v.records.back().keyPosition, tail);
    EXPECT_EQ(v.records.back().piecePosition, tail + 17);
    std::remove(path.c_str());
}
