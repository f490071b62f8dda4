// Element delivery on the hand-built file: push and pull, pieces, records,
// sleeping, binding per parser and giving consumers back.
#include <gtest/gtest.h>

#include "mxf/demux/tests/TestSupport.h"

using namespace mxfdemux;
using namespace mxftest;

namespace {

struct Opened {
    Synth s;
    Host h;
    explicit Opened(const SynthOptions& o = {}) : s(MakeSynth(o)) {
        const std::string path = Dir() + "/delivery.mxf";
        WriteAll(path, s.file);
        EXPECT_EQ(Open(h.in, path.c_str()), 0);
    }
    int Parser(uint32_t bufferSize = 0) {
        ParserSettings ps{bufferSize};
        return NewParser(h.in, &ps);
    }
    int Bind(int p, int stream, Sink& sink) {
        StreamSettings ss{stream, &sink.bs};
        return AddStream(h.in, p, &ss);
    }
    int PushAll(int p) {
        int r = 0;
        while ((r = Push(h.in, p)) == 0) {}
        return r;
    }
};

}  // namespace

TEST(Push, PiecesRecordsAndRealKeyPositions) {
    // An 8-byte BER puts the payload 24 bytes after the key, not 20.
    for (int ber : {4, 8}) {
        SCOPED_TRACE(ber);
        SynthOptions o;
        o.elementBer = ber;
        Opened f(o);
        const int p = f.Parser();
        Sink v(64), a(1 << 20);  // the picture arrives in pieces of 64 bytes
        ASSERT_EQ(f.Bind(p, 0, v), 0);
        ASSERT_EQ(f.Bind(p, 1, a), 0);
        EXPECT_EQ(f.PushAll(p), 2);
        EXPECT_EQ(v.data, f.s.picture);
        EXPECT_EQ(a.data, f.s.sound);
        size_t element = 0;
        uint64_t got = 0;
        for (const ElementRecord& r : v.records) {
            EXPECT_EQ(r.data, nullptr);
            EXPECT_EQ(r.unused, -1);
            if (r.flags == kFirstPiece) {
                ASSERT_LT(element, f.s.pictureKeys.size());
                EXPECT_EQ(r.keyPosition, f.s.pictureKeys[element]);
                EXPECT_EQ(r.piecePosition, f.s.pictureKeys[element] + 17 + ber);
                ++element;
            } else {
                EXPECT_EQ(r.flags, 0u);
                EXPECT_EQ(r.keyPosition, f.s.pictureKeys[element - 1]);
            }
            EXPECT_LE(r.length, 64u);
            got += r.length;
        }
        EXPECT_EQ(element, f.s.pictureKeys.size());
        EXPECT_EQ(got, f.s.picture.size());
        ASSERT_EQ(a.records.size(), f.s.pictureKeys.size());
        const ElementRecord& r = a.records[0];
        EXPECT_EQ(r.flags, kFirstPiece | kGenericSoundElement);
        EXPECT_EQ(r.params[0], 16);
        EXPECT_EQ(r.params[1], 2);
        EXPECT_EQ(r.params[2], 0);
        EXPECT_EQ(r.elementLength, r.length);
        EXPECT_EQ(r.headerLength, 0);
    }
}

TEST(Push, D10SoundCarriesItsElementHeader) {
    SynthOptions o;
    o.d10 = true;
    Opened f(o);
    const int p = f.Parser();
    Sink a(1 << 20);
    ASSERT_EQ(f.Bind(p, 1, a), 0);
    EXPECT_EQ(f.PushAll(p), 2);
    EXPECT_EQ(a.data, f.s.sound);
    ASSERT_FALSE(a.records.empty());
    for (size_t i = 0; i < a.records.size(); ++i) {
        const ElementRecord& r = a.records[i];
        EXPECT_EQ(r.flags, kFirstPiece | kD10SoundElement);
        EXPECT_EQ(r.headerLength, 4);
        EXPECT_EQ(r.elementLength, 64u);
        EXPECT_EQ(r.length, 64u);
        // The hand-built header bytes are i, i+3, i+6, i+9.
        EXPECT_EQ(r.params[0], static_cast<uint8_t>(i));
        EXPECT_EQ(r.params[3], static_cast<uint8_t>(i + 9));
    }
}

TEST(Pull, SameBytesAsPushAndAnEndRecord) {
    for (uint32_t bufferSize : {0u, 100u}) {
        SCOPED_TRACE(bufferSize);
        Opened f;
        const int p = f.Parser(bufferSize);
        Sink v(0);
        ASSERT_EQ(f.Bind(p, 0, v), 0);
        ASSERT_TRUE(v.PullAll());
        EXPECT_EQ(v.data, f.s.picture);
        // Pieces are never needlessly tiny: only an element's tail may be under 32 bytes.
        for (size_t i = 0; i + 1 < v.records.size(); ++i) {
            const bool tail = v.records[i + 1].endOfData || (v.records[i + 1].flags & kFirstPiece);
            EXPECT_TRUE(tail || v.records[i].length >= 32) << i;
        }
        ElementRecord again{};
        EXPECT_EQ(v.bs.info(&v.bs, 0, kElementInfoId, &again, sizeof again), 0);
        EXPECT_EQ(again.endOfData, 1);
        EXPECT_EQ(v.bs.info(&v.bs, 0, 0x1234, &again, sizeof again), -1);
        EXPECT_EQ(v.bs.info(&v.bs, 0, kElementInfoId, &again, 3), 0);
    }
}

TEST(Push, SleepAndWakeInMidElement) {
    Opened f;
    const int p = f.Parser(128);
    Sink v(50);
    ASSERT_EQ(f.Bind(p, 0, v), 0);
    int r = 0;
    for (int i = 0; (r = Push(f.h.in, p)) == 0; ++i) {
        if (i % 3 != 1) continue;
        ASSERT_EQ(SleepParser(f.h.in, p), 0);
        ASSERT_EQ(WakeParser(f.h.in, p), 0);
    }
    EXPECT_EQ(r, 2);
    EXPECT_EQ(v.data, f.s.picture);
}

TEST(Binding, EachParserFeedsItsOwnConsumers) {
    Opened f;
    const int p1 = f.Parser(), p2 = f.Parser();
    Sink one(1 << 20), two(1 << 20);
    ASSERT_EQ(f.Bind(p1, 0, one), 0);
    ASSERT_EQ(f.Bind(p2, 0, two), 0);
    EXPECT_EQ(f.PushAll(p1), 2);
    EXPECT_EQ(f.PushAll(p2), 2);
    EXPECT_EQ(one.data, f.s.picture);
    EXPECT_EQ(two.data, f.s.picture);
    // Removing the stream from one parser leaves the other bound.
    StreamSettings ss{0, &one.bs};
    ASSERT_EQ(RemoveStream(f.h.in, p1, &ss), 0);
    ASSERT_EQ(Seek(f.h.in, p2, 0), 0);
    two.data.clear();
    EXPECT_EQ(f.PushAll(p2), 2);
    EXPECT_EQ(two.data, f.s.picture);
}

TEST(Binding, PullConsumersGetTheirOwnSlotsBack) {
    // Remove, free the parser, close: after each the consumer's own info and
    // owner are back, so its later calls never reach a released parser.
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        Opened f;
        const int p = f.Parser();
        Sink pull(0), push(1000);
        int mine = 0;
        pull.bs.owner = &mine;
        push.bs.owner = &mine;
        const auto ownInfo = pull.bs.info;
        ASSERT_EQ(f.Bind(p, 0, pull), 0);
        ASSERT_EQ(f.Bind(p, 1, push), 0);
        EXPECT_NE(pull.bs.info, ownInfo);
        EXPECT_NE(pull.bs.owner, &mine);
        EXPECT_EQ(push.bs.info, ownInfo);
        EXPECT_EQ(push.bs.owner, &mine);
        if (how == 0) {
            StreamSettings ss{0, &pull.bs};
            ASSERT_EQ(RemoveStream(f.h.in, p, &ss), 0);
        } else if (how == 1) {
            FreeParser(f.h.in, p);
        } else {
            Close(f.h.in);
        }
        EXPECT_EQ(pull.bs.info, ownInfo);
        EXPECT_EQ(pull.bs.owner, &mine);
        ElementRecord r{};
        EXPECT_EQ(pull.bs.info(&pull.bs, 0, kElementInfoId, &r, sizeof r), 0);
    }
}

namespace {
uint32_t BUFSTREAM_CALL TakeHalf(bufstream*, uint8_t*, uint32_t n) {
    return n / 2;
}
}  // namespace

TEST(Push, ARefusedCopyIsAnErrorUntilASeek) {
    Opened f;
    const int p = f.Parser();
    Sink v(1 << 20);
    v.bs.copy_bytes = TakeHalf;
    ASSERT_EQ(f.Bind(p, 0, v), 0);
    EXPECT_EQ(Push(f.h.in, p), 1);
    EXPECT_EQ(Push(f.h.in, p), 1);
    EXPECT_FALSE(f.h.errors.empty());
    EXPECT_EQ(f.h.errors[0].rfind("Unable to copy ", 0), 0u);
    EXPECT_EQ(Seek(f.h.in, p, 0), 0);
    EXPECT_EQ(Push(f.h.in, p), 1);  // still refused, but tried again
}
