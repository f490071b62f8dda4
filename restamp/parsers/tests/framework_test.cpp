#include "restamp/parsers/MAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

TEST(StreamKey, OrderingIsStrictWeakAcrossMixedKeys) {
    const std::vector<CStreamKey> keys = {
        {0, 0xE0, 0, 0, 0},  {0, 0xBD, 0x80, 0, 0},  {0, 0xBD, 0x81, 0, 0}, {1, 0xC0, 0, 0, 0},
        {5, 0, 0, 0x100, 1}, {9, 0xE0, 0, 0x100, 1}, {0, 0, 0, 0x101, 1},   {0, 0, 0, 0, 0},
    };
    for (const auto& a : keys) {
        EXPECT_FALSE(a < a);
        for (const auto& b : keys) {
            EXPECT_FALSE(a < b && b < a);
            for (const auto& c : keys) {
                if (a < b && b < c) {
                    EXPECT_TRUE(a < c);
                }
                // Incomparability is transitive too.
                const bool ab = !(a < b) && !(b < a), bc = !(b < c) && !(c < b);
                if (ab && bc) {
                    EXPECT_TRUE(!(a < c) && !(c < a));
                }
            }
            // Equivalence is the same whichever key is on the left.
            EXPECT_EQ(a == b, b == a);
        }
    }
    // By-PID keys are their PID alone; private stream 1 sub-streams differ.
    EXPECT_TRUE((CStreamKey{5, 0, 0, 0x100, 1} == CStreamKey{9, 0xE0, 0, 0x100, 1}));
    EXPECT_FALSE((CStreamKey{0, 0xBD, 0x80, 0, 0} == CStreamKey{0, 0xBD, 0x81, 0, 0}));
    std::map<CStreamKey, int> m;
    for (size_t i = 0; i < keys.size(); ++i) m[keys[i]] = int(i);
    EXPECT_EQ(m.size(), keys.size() - 1);  // the two PID 0x100 keys are one entry
}

// Element that records the order in which the graph goes.
struct Node : BS::CBaseStream<BS::CBaseState, BS::CBaseType> {
    Node(std::string n, std::vector<std::string>* log) : name(std::move(n)), log_(log) {}
    ~Node() override { log_->push_back(name); }
    uint32_t OnEvent(const BS::CBaseEvent&, BS::ParserControl*) override { return 1; }
    uint32_t OnData(uint64_t, const uint8_t*, uint32_t, BS::ParserControl*, uint32_t) override { return 1; }
    std::string name;
    std::vector<std::string>* log_;
};

struct Watcher : BS::AStreamElementStateHandler {
    void OnStateChange(BS::AStreamElement* e) override { changed.push_back(e); }
    void OnElementDestroyed(BS::AStreamElement* e) override { destroyed.push_back(e); }
    std::vector<BS::AStreamElement*> changed, destroyed;
};

TEST(ElementGraph, ReleaseRemovesOwnedTreeDeepestAndLastFirst) {
    std::vector<std::string> log;
    Node root("root", &log);  // embedded: never deleted by the graph
    Node embedded("embedded", &log);
    auto* a = BS::New<Node>("a", &log);
    auto* b = BS::New<Node>("b", &log);
    auto* a1 = BS::New<Node>("a1", &log);
    auto* a2 = BS::New<Node>("a2", &log);
    root.AddChild(a);
    root.AddChild(b);
    a->AddChild(a1);
    a->AddChild(a2);
    b->AddChild(&embedded);
    Watcher w;
    EXPECT_EQ(a2->AddStateHandler(&w), 1u);
    EXPECT_EQ(a2->AddStateHandler(&w), 0u);  // one entry only
    a2->NotifyStateChange();
    EXPECT_EQ(w.changed.size(), 1u);

    BS::CStreamElementGraph g;
    g.SetRoot(&root);
    g.ReleaseRoot();
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a2", "a1", "a"}));
    EXPECT_EQ(w.destroyed.size(), 1u);
    EXPECT_TRUE(root.GetChildren().empty());
    EXPECT_TRUE(embedded.GetParents().empty());
    EXPECT_TRUE(embedded.GetChildren().empty());
}

TEST(SequentialBuffer, ClampsAndCompacts) {
    BS::CSequentialBuffer b(10);
    const uint8_t d[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(b.Append(d, 12), 10u);
    EXPECT_EQ(b.Advance(4), 4u);
    EXPECT_EQ(b.Advance(100), 6u);  // only what is there
    EXPECT_EQ(b.GetLength(), 0u);
    b.Clear();
    b.Append(d, 8);
    b.Advance(5);
    EXPECT_EQ(b.GetFree(), 2u);
    b.Compact();
    EXPECT_EQ(b.GetFree(), 7u);
    EXPECT_EQ(b.GetReadPtr()[0], 6);
    EXPECT_EQ(b.Commit(100), 7u);
    BS::CSequentialBuffer none(0);
    EXPECT_EQ(none.GetFree(), 0u);
    EXPECT_EQ(none.Append(d, 4), 0u);
}

TEST(ExtraBuffer, KeepsStreamPositionsOfEachBlock) {
    BS::CExtraBuffer x;
    std::vector<uint8_t> d(100, 0);
    x.AppendBlock(1000, d.data(), 40);
    x.AppendBlock(5000, d.data(), 60);
    EXPECT_EQ(x.PositionOf(0), 1000u);
    EXPECT_EQ(x.PositionOf(39), 1039u);
    EXPECT_EQ(x.PositionOf(40), 5000u);
    EXPECT_EQ(x.PositionOf(99), 5059u);
    EXPECT_EQ(x.PositionOf(100), 0u);
    x.Consume(50);
    EXPECT_EQ(x.PositionOf(0), 5010u);
    EXPECT_EQ(x.GetLength(), 50u);
}

// A bare MPEG audio stream of 384-byte frames (MPEG-1 Layer II, 128 kbit/s, 48 kHz).
std::vector<uint8_t> Mp2Frames(int n) {
    std::vector<uint8_t> v;
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> f(384, 0x11);
        f[0] = 0xFF;
        f[1] = 0xFD;
        f[2] = 0x84;
        f[3] = 0x00;
        v.insert(v.end(), f.begin(), f.end());
    }
    return v;
}

struct FrameLog : BS::AStreamElementStateHandler {
    void OnStateChange(BS::AStreamElement* e) override {
        const auto* st = e->GetState();
        const auto* ev = static_cast<const BS::CBaseEvent*>(st->data);
        entries.push_back({st->code, ev ? ev->position : 0, ev ? ev->length : 0});
    }
    void OnElementDestroyed(BS::AStreamElement*) override {}
    struct Entry {
        uint32_t code;
        uint64_t pos;
        uint32_t len;
    };
    std::vector<Entry> entries;
};

struct RootWatch : BS::AStreamElementStateHandler {
    void OnStateChange(BS::AStreamElement* e) override {
        if (auto* es = static_cast<MAudio::CAudioDispatcher*>(e)->GetAEStream()) es->AddStateHandler(frames);
    }
    void OnElementDestroyed(BS::AStreamElement*) override {}
    FrameLog* frames;
};

using AudioTemplate =
    BS::CParserTemplateImpl<MAudio::CAudioParserImpl, MAudio::CAudioParserHandlerImpl, MAudio::CAudioDispatcher>;

TEST(ParserTemplate, FrameCutByTheBlockEndContinuesThroughTheSink) {
    auto data = Mp2Frames(4);
    FrameLog log;  // handlers outlive the elements they watch
    RootWatch rw;
    rw.frames = &log;
    AudioTemplate t;
    t.Reset();
    t.stream.AddStateHandler(&rw);
    // First block ends 100 bytes into the second frame.
    t.Parse(0, data.data(), 484, 0);
    EXPECT_EQ(t.GetConsumed(), 484u);
    EXPECT_EQ(t.GetPending(), 0u);
    EXPECT_EQ(t.control.remaining, 284u);
    t.Parse(484, data.data() + 484, uint32_t(data.size() - 484), 0);
    ASSERT_GE(log.entries.size(), 4u);
    EXPECT_EQ(log.entries[0].code, 1u);
    EXPECT_EQ(log.entries[1].code, 1u);
    EXPECT_EQ(log.entries[1].pos, 384u);
    EXPECT_EQ(log.entries[1].len, 100u);
    EXPECT_EQ(log.entries[2].code, 2u);  // the rest of frame 2
    EXPECT_EQ(log.entries[2].pos, 484u);
    EXPECT_EQ(log.entries[2].len, 284u);
    EXPECT_EQ(log.entries[3].code, 1u);
    EXPECT_EQ(log.entries[3].pos, 768u);
}

TEST(ParserTemplate, SinkSkipOverTheWholeBlockLeavesPending) {
    AudioTemplate t;
    t.Reset();
    std::vector<uint8_t> d(100, 0);
    t.control.skip = 250;
    t.Parse(0, d.data(), 100, 0);
    EXPECT_EQ(t.GetConsumed(), 100u);
    EXPECT_EQ(t.GetPending(), 150u);
}

TEST(ParserTemplate, ShortBlockWaitsForMoreData) {
    AudioTemplate t;
    t.Reset();
    auto data = Mp2Frames(1);
    t.Parse(0, data.data(), 40, 0);  // below the scanner's 49 bytes
    EXPECT_EQ(t.GetConsumed(), 0u);
    EXPECT_EQ(t.stream.GetAEStream(), nullptr);
}

using AudioTemplateEx =
    BS::CParserTemplateImplEx<MAudio::CAudioParserImpl, MAudio::CAudioParserHandlerImpl, MAudio::CAEStream>;

TEST(ParserTemplateEx, HeaderCutAcrossBlocksIsFoundWithItsPosition) {
    auto data = Mp2Frames(3);
    FrameLog log;
    AudioTemplateEx t;
    t.Reset();
    t.stream.AddStateHandler(&log);
    // Blocks from separate places of the stream: positions come from the segments.
    t.Parse(10000, data.data(), 386, 0);  // cuts the second header after 2 bytes
    t.Parse(20000, data.data() + 386, uint32_t(data.size() - 386), 0);
    std::vector<uint64_t> headers;
    for (const auto& e : log.entries)
        if (e.code == 1) headers.push_back(e.pos);
    EXPECT_EQ(headers, (std::vector<uint64_t>{10000, 10384, 20382}));
}

TEST(ParserTemplateEx, SkipBeyondTheBufferDropsTheRestOfThePayload) {
    auto data = Mp2Frames(3);
    FrameLog log;
    AudioTemplateEx t;
    t.Reset();
    t.stream.AddStateHandler(&log);
    t.Parse(0, data.data(), 100, 0);  // frame of 384 bytes, 100 in hand
    EXPECT_EQ(t.carriedSkip, 284u);
    t.Parse(100, data.data() + 100, 200, 0);  // all of it dropped
    EXPECT_EQ(t.carriedSkip, 84u);
    t.Parse(300, data.data() + 300, uint32_t(data.size() - 300), 0);
    std::vector<uint64_t> headers;
    for (const auto& e : log.entries)
        if (e.code == 1) headers.push_back(e.pos);
    EXPECT_EQ(headers, (std::vector<uint64_t>{0, 384, 768}));
}

}  // namespace
