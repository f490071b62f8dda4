#include "codec/scanning/AudioHeaders.h"
#include "codec/scanning/PSHeaders.h"
#include "codec/scanning/ParserFramework.h"
#include "codec/scanning/VESHeaders.h"
#include "test_util.h"

#include <gtest/gtest.h>

using namespace spltest;

TEST(BaseParserSimple, HitsRespectTheMinimumTail) {
    SPL_VES::VESParser p;  // 00 00 01, step 1, tail 10
    // Start codes at 0 and 5; the one at 14 lies inside the last 10 bytes.
    Bytes b(24, 0xAA);
    for (size_t at : {0u, 5u, 14u}) {
        b[at] = 0;
        b[at + 1] = 0;
        b[at + 2] = 1;
    }
    Exact e(b);
    p.SetBuffer(e.data(), e.size());
    EXPECT_EQ(24u, p.GetHeaderSpan());  // before the first search
    EXPECT_EQ(e.data(), p.FindNextHeader());
    EXPECT_EQ(1u, p.GetPosition());
    EXPECT_EQ(24u, p.GetHeaderSpan());
    EXPECT_EQ(e.data() + 5, p.FindNextHeader());
    EXPECT_EQ(19u, p.GetHeaderSpan());
    // Advance(0) stays on the hit, so the same hit is reported again.
    EXPECT_EQ(5u, p.Advance(0));
    EXPECT_EQ(e.data() + 5, p.FindNextHeader());
    EXPECT_EQ(nullptr, p.FindNextHeader());
    EXPECT_EQ(14u, p.GetPosition());  // the start of the kept tail

    // A buffer that holds only a start code in its tail yields nothing.
    const Bytes tail = {0xAA, 0, 0, 1, 0xB3, 0, 0, 0, 0, 0, 0};
    Exact t(tail);
    p.SetBuffer(t.data(), t.size());
    EXPECT_EQ(nullptr, p.FindNextHeader());
    EXPECT_EQ(1u, p.GetPosition());

    // Advance is clipped to what remains.
    p.SetBuffer(e.data(), e.size());
    p.FindNextHeader();
    EXPECT_EQ(23u, p.Advance(1000));
    p.Reset();
    EXPECT_EQ(nullptr, p.FindNextHeader());
}

TEST(BaseParserSimple, SyncWordsOfTheAudioParsers) {
    struct Case {
        Bytes head;
        bool aes, aac, ac3;
    } cases[] = {
        {{0xFF, 0xFD}, true, true, false},  {{0xFF, 0xE3}, true, false, false}, {{0xFF, 0xC0}, false, false, false},
        {{0x0B, 0x77}, false, false, true}, {{0x77, 0x0B}, false, false, true}, {{0x0B, 0x0B}, false, false, false},
    };
    SPL_AES::AESParser aes;
    SPL_AAC::AACParser aac;
    SPL_AC3::AC3Parser ac3;
    for (const auto& c : cases) {
        Bytes b = c.head;
        b.resize(4, 0);
        EXPECT_EQ(c.aes, aes.IsStartCode(b.data()));
        EXPECT_EQ(c.aac, aac.IsStartCode(b.data()));
        EXPECT_EQ(c.ac3, ac3.IsStartCode(b.data()));
    }
    EXPECT_EQ(2u, aes.Step());
    EXPECT_EQ(6u, aes.MinimumTail());
}

namespace {

int g_destroyed = 0;

struct Node : SPL::BaseRelation {
    ~Node() override { ++g_destroyed; }
};

struct Prefix {
    virtual ~Prefix() = default;
    int pad[4] = {};
};

// The relation part does not start the allocated block.
struct Embedded : Prefix, SPL::BaseRelation {
    ~Embedded() override { ++g_destroyed; }
};

}  // namespace

TEST(BaseRelation, ConnectIsIdempotentAndDisconnectAllTearsDownHeapChains) {
    const size_t pending = SPL::BaseRelation::PendingHeapBlocks();
    Node* a = new Node;
    Node* b = new Node;
    Node* c = new Node;
    EXPECT_TRUE(a->IsHeapOwned());
    EXPECT_EQ(pending, SPL::BaseRelation::PendingHeapBlocks());
    a->Connect(b);
    a->Connect(b);
    EXPECT_EQ(1u, a->Targets().size());
    EXPECT_EQ(1u, b->BackLinks().size());
    b->Connect(c);
    g_destroyed = 0;
    a->DisconnectAll();
    EXPECT_EQ(3, g_destroyed);

    Node local;
    EXPECT_FALSE(local.IsHeapOwned());
    Node* d = new Node;
    local.Connect(d);
    g_destroyed = 0;
    local.DisconnectAll();
    EXPECT_EQ(1, g_destroyed);
    EXPECT_TRUE(local.Targets().empty());
}

TEST(BaseRelation, EmbeddedRelationStaysAliveAndLeavesNoStaleEntry) {
    const size_t pending = SPL::BaseRelation::PendingHeapBlocks();
    Embedded* e = new Embedded;
    EXPECT_FALSE(e->IsHeapOwned());
    Node* t = new Node;
    e->Connect(t);
    g_destroyed = 0;
    e->DisconnectAll();
    EXPECT_EQ(1, g_destroyed);  // only the heap-owned target
    EXPECT_TRUE(e->Targets().empty());
    EXPECT_EQ(pending + 1, SPL::BaseRelation::PendingHeapBlocks());
    delete e;
    // Freeing the block drops its registry entry, so a later object at that
    // address can never be taken for a heap object.
    EXPECT_EQ(pending, SPL::BaseRelation::PendingHeapBlocks());
}

TEST(BaseRelation, DestroyedNodeLeavesNoDanglingLinks) {
    Node src;
    Node dst;
    {
        Node mid;
        src.Connect(&mid);
        mid.Connect(&dst);
    }
    EXPECT_TRUE(src.Targets().empty());
    EXPECT_TRUE(dst.BackLinks().empty());
    src.DisconnectAll();  // must not touch the dead node
}

namespace {

struct Recorder : SPL::StreamStateListener {
    std::vector<int> codes;
    void OnStreamState(SPL::StreamStateHelper* s) override {
        codes.push_back(dynamic_cast<SPL_VES::VESStream*>(s)->GetState());
    }
};

}  // namespace

TEST(VESStream, DrivesEventsToListenersInOrder) {
    // sequence header, GOP, picture header, user data
    Bytes b = Build([](SPL::BitstreamWriter& w) {
        StartCode(w, 0xB3);
        w.PutBits(352, 12);
        w.PutBits(288, 12);
        w.PutBits(2, 4);
        w.PutBits(3, 4);
        w.PutBits(1000, 18);
        w.PutBits(1, 1);
        w.PutBits(112, 10);
        w.PutBits(0, 3);
        StartCode(w, 0xB8);
        w.PutBits(0, 1);
        w.PutBits(0, 5 + 6);
        w.PutBits(1, 1);
        w.PutBits(0, 12);
        w.PutBits(1, 1);
        w.PutBits(0, 6);
        StartCode(w, 0x00);
        w.PutBits(0, 10);
        w.PutBits(1, 3);
        w.PutBits(0xFFFF, 16);
        w.PutBits(0, 3);
        StartCode(w, 0xB2);
        w.Fill(0x55, 16);
    });
    Exact e(b);
    SPL_VES::VESParser parser;
    SPL_VES::VESParserConsumer consumer;
    SPL_VES::VESStream stream;
    Recorder rec;
    stream.AddListener(&rec);
    stream.AddListener(&rec);
    parser.SetBuffer(e.data(), e.size());
    while (const uint8_t* hit = parser.FindNextHeader()) {
        SPL::BaseEvent* ev = consumer.ParseHeader(hit - e.data(), hit, parser.GetHeaderSpan());
        if (!ev) continue;
        EXPECT_EQ(hit - e.data(), ev->GetPosition());
        EXPECT_EQ(e.size() - (hit - e.data()), ev->GetLength());
        uint32_t out = 0;
        EXPECT_TRUE(stream.OnEvent(ev, &out));
        EXPECT_EQ(1u, out);
        EXPECT_EQ(ev, stream.Current());
        parser.Advance(out);
    }
    EXPECT_EQ((std::vector<int>{0, 2, 3, 6}), rec.codes);

    // An event of a type the stream does not know is refused.
    SPL::BaseEventParser<SPL_AES::AESHdr> foreign;
    uint32_t out = 0;
    EXPECT_FALSE(stream.OnEvent(&foreign, &out));
    stream.RemoveListener(&rec);
    EXPECT_TRUE(stream.OnEvent(consumer.ParseHeader(0, e.data(), e.size()), &out));
    EXPECT_EQ(4u, rec.codes.size());
}
