// The muxing pass on small built streams: end of stream, missing inputs,
// table entries, packet boundaries, sample framing and structure rules.
#include "codec/multiplexer/IdAllocation.h"
#include "codec/multiplexer/Multiplexer.h"
#include "codec/multiplexer/PesIdRules.h"
#include "es_builder.h"
#include "stream_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

using namespace muxcore;
using muxtest::Bytes;

namespace {

struct MemorySink : IMuxSink {
    Bytes bytes;
    std::vector<uint32_t> samples;
    bool ended = false;
    HRESULT_T Deliver(const OutputSample& s) override {
        bytes.insert(bytes.end(), s.data, s.data + s.length);
        samples.push_back(s.length);
        return kS_OK;
    }
    void EndOfStream() override { ended = true; }
};

StreamSettings Type(int32_t t) {
    StreamSettings s;
    s.streamType = t;
    return s;
}

// Payload bytes of one stream_id in a program stream.
Bytes PsPayload(const Bytes& ps, uint8_t id) {
    Bytes out;
    const muxtest::ProgramStream p = muxtest::ParseProgramStream(ps);
    EXPECT_EQ(p.error, "");
    for (const auto& pk : p.packs)
        for (const auto& pes : pk.pes)
            if (pes.streamId == id) out.insert(out.end(), pes.payload.begin(), pes.payload.end());
    return out;
}

}  // namespace

TEST(MuxPass, EndsOnlyWhenEveryInputHasDrained) {
    for (int output : {kProgramStream, kTransportStream}) {
        SCOPED_TRACE(output);
        Multiplexer mux;
        mux.Settings().output = output;
        InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
        InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
        MemorySink sink;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        const Bytes vb = muxtest::SimpleGop(4);
        const Bytes ab = muxtest::Mp2Frames(40);
        ASSERT_EQ(v->Push(vb.data(), vb.size()), kS_OK);
        ASSERT_EQ(a->Push(ab.data(), ab.size()), kS_OK);
        a->EndOfStream();
        EXPECT_FALSE(mux.RunUntilIdle()) << "the video input has not ended";
        EXPECT_FALSE(sink.ended);
        v->EndOfStream();
        EXPECT_TRUE(mux.RunUntilIdle());
        EXPECT_TRUE(sink.ended);
        if (output == kProgramStream) {
            EXPECT_EQ(PsPayload(sink.bytes, 0xE0), vb);
            EXPECT_EQ(PsPayload(sink.bytes, 0xC0), ab);
            EXPECT_EQ(Bytes(sink.bytes.end() - 4, sink.bytes.end()), (Bytes{0, 0, 1, 0xB9}));
        } else {
            // Count the elementary bytes per PID.
            std::string err;
            const auto pk = muxtest::ParseTransportStream(sink.bytes, 188, err);
            ASSERT_EQ(err, "");
            std::map<int, size_t> bytes;
            for (const auto& t : pk) {
                if (t.pid == v->Pid() || t.pid == a->Pid()) {
                    size_t n = t.payloadSize;
                    if (t.pusi) {
                        muxtest::Pes pes;
                        size_t hs = 0;
                        ASSERT_TRUE(muxtest::ParsePesHeader(t.payload, t.payloadSize, pes, hs));
                        n -= hs;
                    }
                    bytes[t.pid] += n;
                }
            }
            EXPECT_EQ(bytes[v->Pid()], vb.size());
            EXPECT_EQ(bytes[a->Pid()], ab.size());
        }
    }
}

TEST(MuxPass, AnEmptyInputHoldsBackTheOthersUnlessAllowed) {
    for (int allow : {0, 1}) {
        Multiplexer mux;
        mux.Settings().allowMissingInputs = allow;
        InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
        InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
        MemorySink sink;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        const Bytes vb = muxtest::SimpleGop(2);
        v->Push(vb.data(), vb.size());
        v->EndOfStream();
        // The audio input has not even learned its format yet.
        const Bytes ab = muxtest::Mp2Frames(2);
        a->Push(ab.data(), 576);
        EXPECT_FALSE(mux.RunUntilIdle());
        std::string err;
        size_t video = 0;
        for (const auto& t : muxtest::ParseTransportStream(sink.bytes, 188, err))
            video += t.pid == v->Pid() && t.payload;
        EXPECT_EQ(video > 0, allow == 1) << "allow " << allow;
    }
}

TEST(MuxPass, TablesListOnlyConnectedInputs) {
    for (int output : {kProgramStream, kTransportStream}) {
        Multiplexer mux;
        mux.Settings().output = output;
        mux.AddInput(StreamSettings());  // a free input, as the filter keeps one
        StreamSettings vs = Type(kPinMpeg2Video);
        vs.esInfo = {0x05, 0x04, 'T', 'E', 'S', 'T'};
        InputStream* v = mux.AddInput(vs);
        InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
        MemorySink sink;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        const Bytes vb = muxtest::SimpleGop(1), ab = muxtest::Mp2Frames(4);
        v->Push(vb.data(), vb.size());
        a->Push(ab.data(), ab.size());
        v->EndOfStream();
        a->EndOfStream();
        ASSERT_TRUE(mux.RunUntilIdle());
        if (output == kProgramStream) {
            const auto ps = muxtest::ParseProgramStream(sink.bytes);
            ASSERT_FALSE(ps.packs.empty());
            EXPECT_EQ(ps.packs[0].bounds.size(), 2u);
        } else {
            std::string err;
            const auto pk = muxtest::ParseTransportStream(sink.bytes, 188, err);
            const int pmtPid = mux.Programs().front()->Settings().programId;
            bool seen = false;
            for (const auto& t : pk)
                if (t.pid == pmtPid && t.pusi) {
                    const uint8_t* s = t.payload + 1;
                    const int len = ((s[1] & 0x0F) << 8) | s[2];
                    EXPECT_EQ(len, 13 + 2 * 5 + 6) << "two entries, one descriptor";
                    seen = true;
                    break;
                }
            EXPECT_TRUE(seen);
        }
    }
}

TEST(MuxPass, OnePesBeginsPerTransportPacket) {
    Multiplexer mux;
    InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
    MemorySink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    const Bytes ab = muxtest::Mp2Frames(30);
    a->Push(ab.data(), ab.size());
    a->EndOfStream();
    ASSERT_TRUE(mux.RunUntilIdle());
    std::string err;
    size_t starts = 0;
    for (const auto& t : muxtest::ParseTransportStream(sink.bytes, 188, err)) {
        if (t.pid != a->Pid() || !t.payload) continue;
        for (size_t i = 0; i + 4 <= t.payloadSize; ++i) {
            if (t.payload[i] == 0 && t.payload[i + 1] == 0 && t.payload[i + 2] == 1 && t.payload[i + 3] == 0xC0) {
                EXPECT_EQ(i, 0u) << "a PES begins at the first payload byte only";
                EXPECT_TRUE(t.pusi);
                ++starts;
            }
        }
    }
    EXPECT_EQ(starts, 30u);
}

TEST(MuxPass, SamplesHoldWholePackets) {
    OutputFramer f;
    MemorySink sink;
    f.Configure(&sink, 1000, 6, false);  // 6 packets do not fit in 1000 bytes
    uint8_t pkt[188] = {0x47};
    for (int i = 0; i < 13; ++i) ASSERT_EQ(f.Deliver(pkt, 188, i, true), kS_OK);
    f.Flush(99);
    EXPECT_EQ(sink.samples, (std::vector<uint32_t>{940, 940, 564}));

    MemorySink five;
    f.Configure(&five, 100000, 5, true);
    for (int i = 0; i < 10; ++i) f.Deliver(pkt, 188, 0, true);
    EXPECT_EQ(five.samples, (std::vector<uint32_t>{940, 940}));
}

TEST(MuxStructure, OutputAndCompatibilityRules) {
    Multiplexer ps;
    ps.Settings().output = kProgramStream;
    InputStream* a1 = ps.AddInput(Type(kPinAc3));
    InputStream* a2 = ps.AddInput(Type(kPinAc3));
    InputStream* pcm = ps.AddInput(Type(kPinPcm));
    ASSERT_TRUE(a1 && a2 && pcm);
    EXPECT_EQ(a1->PesId(), 0xBD);
    EXPECT_EQ(a1->SubId(), 0x80);
    EXPECT_EQ(a2->SubId(), 0x81);
    EXPECT_EQ(pcm->SubId(), 0xA0);
    EXPECT_EQ(ps.SetOutput(kTransportStream), kE_FAIL) << "PCM needs a program stream";
    EXPECT_EQ(ps.SetCompatibility(kCompatDvd), kS_OK);
    EXPECT_EQ(a1->Settings().pesPacketSize, 2028);

    Multiplexer ts;
    EXPECT_EQ(ts.SetCompatibility(kCompatDvd), kE_FAIL);
    EXPECT_EQ(ts.AddInput(Type(kPinPcm)), nullptr);
    Program* p1 = ts.AddProgram();
    Program* p2 = ts.AddProgram();
    Program* p3 = ts.AddProgram();
    EXPECT_EQ(p1->Settings().programNumber, 1);
    EXPECT_EQ(p2->Settings().programNumber, 2);
    EXPECT_EQ(p3->Settings().programNumber, 3);
    EXPECT_NE(p1->Settings().programId, p2->Settings().programId);
    ASSERT_EQ(ts.RemoveProgram(p2), kS_OK);
    EXPECT_EQ(ts.AddProgram()->Settings().programNumber, 2) << "the lowest free number";
    InputStream* v = ts.AddInput(Type(kPinMpeg2Video), p1);
    EXPECT_EQ(ts.RemoveProgram(p1), kE_FAIL) << "it has a connected input";
    EXPECT_EQ(v->PesId(), 0xE0);
    EXPECT_EQ(ts.SetOutput(kProgramStream), kS_OK);
    EXPECT_EQ(ts.Programs().size(), 1u);
}

// One multiplexer serves run after run: Reset keeps the structure and the
// configured settings, and the next run writes the same stream. What a run
// decides (stream ids, fixed PIDs, a compatibility mode's packet size, the
// carrier of a user-defined PCR PID) stays the run's own.
TEST(MuxStructure, ResetKeepsTheStructureForTheNextRun) {
    for (int32_t output : {kProgramStream, kTransportStream, kTransportFixedPids}) {
        SCOPED_TRACE(output);
        Multiplexer mux;
        mux.Settings().output = output;
        mux.Settings().compatibility = output == kProgramStream ? kCompatDvd : kCompatNone;
        InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
        InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
        ASSERT_TRUE(v && a);
        Program* p = mux.Programs().front().get();
        constexpr int32_t kPcrCarrier = 0x1F0;
        if (output == kTransportStream) p->Settings().userDefinedPcrPid = kPcrCarrier;
        v->MutableSettings().pesPacketSize = 0;
        const int32_t videoPid = v->Settings().streamId, pcrPid = p->Settings().pcrPid;
        auto run = [&] {
            MemorySink sink;
            EXPECT_EQ(mux.Start(&sink), kS_OK);
            const Bytes vb = muxtest::SimpleGop(2), ab = muxtest::Mp2Frames(6);
            v->Push(vb.data(), vb.size(), 0);
            a->Push(ab.data(), ab.size(), 0);
            v->EndOfStream();
            a->EndOfStream();
            EXPECT_TRUE(mux.RunUntilIdle());
            EXPECT_TRUE(sink.ended);
            return sink.bytes;
        };
        const Bytes first = run();
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(v->Settings().streamPesId, 0) << "the configured request stays 'choose'";
        EXPECT_EQ(v->Settings().pesPacketSize, 0);
        EXPECT_EQ(v->Settings().streamId, videoPid);
        EXPECT_EQ(p->Settings().pcrPid, pcrPid);
        EXPECT_EQ(mux.AddInput(Type(kPinMpeg1Audio)), nullptr) << "no structure change while started";
        mux.Reset();
        EXPECT_EQ(mux.Inputs().size(), 2u) << "the run's PCR carriers are gone";
        EXPECT_EQ(p->Inputs().size(), 2u);
        EXPECT_EQ(run(), first);
        mux.Reset();
        InputStream* more = mux.AddInput(Type(kPinMpeg1Audio));
        ASSERT_NE(more, nullptr) << "the structure changes again after Reset";
        EXPECT_EQ(mux.RemoveInput(more), kS_OK);
    }
}

// DMB carries H.264 and AAC only, in a transport stream of one program.
TEST(MuxStructure, DmbCompatibilityRules) {
    Multiplexer ts;
    InputStream* v = ts.AddInput(Type(kPinMpeg2Video));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(ts.SetDmbCompatibility(2), kE_FAIL);
    EXPECT_EQ(ts.SetDmbCompatibility(1), kS_FALSE) << "MPEG-2 video is not DMB";
    EXPECT_EQ(ts.Settings().dmbCompatibility, 0);
    ASSERT_EQ(ts.RemoveInput(v), kS_OK);
    EXPECT_EQ(ts.SetDmbCompatibility(1), kS_OK);
    EXPECT_EQ(ts.AddProgram(), nullptr) << "one program";
    EXPECT_EQ(ts.SetDmbCompatibility(0), kS_OK);
    EXPECT_NE(ts.AddProgram(), nullptr);
}

// A host that keeps views on programs and inputs (the filter) gets what the
// core lets go of; free inputs of a removed program move to the first, and
// "PCR PID" follows an input that moves between programs.
TEST(MuxStructure, RemovedPartsGoToTheHostAndInputsMove) {
    Multiplexer ts;
    Program* p1 = ts.AddProgram();
    Program* p2 = ts.AddProgram();
    InputStream* free = ts.AddInput(StreamSettings(), p2);
    InputStream* v = ts.AddInput(Type(kPinMpeg2Video), p1);
    ASSERT_TRUE(free && v);
    std::unique_ptr<Program> gone;
    ASSERT_EQ(ts.RemoveProgram(p2, &gone), kS_OK);
    EXPECT_EQ(gone.get(), p2);
    EXPECT_EQ(free->GetProgram(), p1) << "a free input moves to the first program";
    Program* p3 = ts.AddProgram();
    ASSERT_EQ(ts.MoveInput(v, p3), kS_OK);
    EXPECT_EQ(p3->Settings().pcrPid, v->Pid());
    EXPECT_EQ(p1->Settings().pcrPid, 0) << "no input with a stream type is left in the first";
    std::vector<std::unique_ptr<Program>> merged;
    ASSERT_EQ(ts.SetOutput(kProgramStream, &merged), kS_OK);
    ASSERT_EQ(merged.size(), 1u);
    EXPECT_EQ(merged[0].get(), p3);
    EXPECT_EQ(v->GetProgram(), p1);
    std::unique_ptr<InputStream> taken = ts.TakeInput(free);
    EXPECT_EQ(taken.get(), free);
    EXPECT_EQ(ts.Inputs().size(), 1u);
}

TEST(MuxPass, RequiredBitrateSetsThePacketTime) {
    Multiplexer mux;
    mux.Settings().requiredBitrate = 1504000;
    mux.Settings().usePadding = 1;
    InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
    MemorySink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    const Bytes ab = muxtest::Mp2Frames(10);
    a->Push(ab.data(), ab.size());
    a->EndOfStream();
    ASSERT_TRUE(mux.RunUntilIdle());
    EXPECT_DOUBLE_EQ(mux.PacketTime(), 27000.0) << "1 ms per packet";
    EXPECT_EQ(mux.MuxerTime(), static_cast<int64_t>(mux.Clock() * 10 / 27));
    EXPECT_GT(mux.PaddingPackets(), 0u);
    EXPECT_NEAR(static_cast<double>(mux.RealOutputBitrate()), 1504000.0, 1504000.0 * 0.05);
}

TEST(MuxPass, ThreadRunnerGivesTheSameStream) {
    auto run = [](bool threaded) {
        Multiplexer mux;
        mux.Settings().output = kProgramStream;
        InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
        InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
        auto sink = std::make_unique<MemorySink>();
        EXPECT_EQ(mux.Start(sink.get()), kS_OK);
        if (threaded) mux.StartThread();
        const Bytes vb = muxtest::SimpleGop(6, 3000), ab = muxtest::Mp2Frames(60);
        // Small pieces, alternating, as two streaming threads would deliver them.
        for (size_t i = 0, j = 0; i < vb.size() || j < ab.size();) {
            const size_t n = std::min<size_t>(1000, vb.size() - i), m = std::min<size_t>(700, ab.size() - j);
            if (n && v->Push(vb.data() + i, n) == kS_OK) i += n;
            if (m && a->Push(ab.data() + j, m) == kS_OK) j += m;
            if (!threaded) mux.RunUntilIdle();
        }
        v->EndOfStream();
        a->EndOfStream();
        if (threaded)
            mux.WaitFinished();
        else
            mux.RunUntilIdle();
        EXPECT_TRUE(mux.Finished());
        return sink->bytes;
    };
    const Bytes direct = run(false);
    const Bytes threaded = run(true);
    ASSERT_EQ(threaded.size(), direct.size());
    size_t at = 0;
    while (at < direct.size() && direct[at] == threaded[at]) ++at;
    EXPECT_EQ(at, direct.size()) << "first difference";
}

TEST(MuxPass, FixedPidTransportStream) {
    Multiplexer mux;
    mux.Settings().output = kTransportFixedPids;
    InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
    InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
    MemorySink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    EXPECT_EQ(v->Pid(), 0x1011);
    EXPECT_EQ(a->Pid(), 0x1100);
    const Bytes vb = muxtest::SimpleGop(2), ab = muxtest::Mp2Frames(10);
    v->Push(vb.data(), vb.size());
    a->Push(ab.data(), ab.size());
    v->EndOfStream();
    a->EndOfStream();
    ASSERT_TRUE(mux.RunUntilIdle());
    EXPECT_EQ(sink.bytes.size() % (32 * 188), 0u) << "whole units of 32 packets";
    for (uint32_t n : sink.samples) EXPECT_EQ(n, 188u) << "one packet per sample";
    std::string err;
    size_t pcrs = 0, pmts = 0;
    for (const auto& t : muxtest::ParseTransportStream(sink.bytes, 188, err)) {
        if (t.hasPcr) {
            EXPECT_EQ(t.pid, 0x1001);
            EXPECT_EQ(t.afc, 2) << "PCR-only packets";
            ++pcrs;
        }
        pmts += t.pid == 256;
    }
    EXPECT_GT(pcrs, 0u);
    EXPECT_GT(pmts, 0u);
}

TEST(MuxPass, StopWithoutEndOfStreamClosesTheProgramStream) {
    Multiplexer mux;
    mux.Settings().output = kProgramStream;
    InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
    InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
    MemorySink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    mux.StartThread();
    const Bytes vb = muxtest::SimpleGop(3), ab = muxtest::Mp2Frames(30);
    v->Push(vb.data(), vb.size());
    a->Push(ab.data(), ab.size());
    mux.StopAndFinish();  // a graph Stop: no end of stream came
    EXPECT_TRUE(mux.Finished());
    EXPECT_EQ(PsPayload(sink.bytes, 0xE0), vb);
    EXPECT_EQ(PsPayload(sink.bytes, 0xC0), ab);
    ASSERT_GE(sink.bytes.size(), 4u);
    EXPECT_EQ(Bytes(sink.bytes.end() - 4, sink.bytes.end()), (Bytes{0, 0, 1, 0xB9}));
}

// The owner's own muxing thread waits for a first time stamp that never
// comes (the audio carries none); ending every input ends that wait, and the
// next pass writes everything and the end code.
TEST(MuxPass, EndAllInputsEndsTheFirstDataWaitAndClosesTheStream) {
    Multiplexer mux;
    mux.Settings().output = kProgramStream;
    mux.Settings().initialDataWaitMs = 1000;
    InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
    InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
    MemorySink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    const Bytes vb = muxtest::SimpleGop(3), ab = muxtest::Mp2Frames(30);
    v->Push(vb.data(), vb.size(), 0);
    a->Push(ab.data(), ab.size());
    EXPECT_FALSE(mux.FirstDataArrived());
    mux.EndAllInputs();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(mux.WaitFirstData());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_TRUE(mux.RunUntilIdle());
    EXPECT_EQ(PsPayload(sink.bytes, 0xE0), vb);
    EXPECT_EQ(PsPayload(sink.bytes, 0xC0), ab);
    ASSERT_GE(sink.bytes.size(), 4u);
    EXPECT_EQ(Bytes(sink.bytes.end() - 4, sink.bytes.end()), (Bytes{0, 0, 1, 0xB9}));
}

// A closing stop with an end time: an input far ahead of the others (a
// source faster than real time) is cut there; the stream still ends whole.
TEST(MuxPass, EndAllInputsLeavesOutUnitsAfterTheEndTime) {
    Multiplexer mux;
    mux.Settings().output = kProgramStream;
    InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
    InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
    MemorySink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    const Bytes vb = muxtest::SimpleGop(3);
    const Bytes ab = muxtest::Mp2Frames(30);
    const size_t frame = ab.size() / 30;
    constexpr int64_t kFrameTime = 240000;  // 1152 samples at 48 kHz
    v->Push(vb.data(), vb.size(), 0);
    for (size_t i = 0; i < 30; ++i) a->Push(ab.data() + i * frame, frame, static_cast<int64_t>(i) * kFrameTime);
    mux.EndAllInputs(9 * kFrameTime);  // 0.216 s: the first pictures and ten audio frames
    EXPECT_TRUE(mux.WaitFirstData());
    EXPECT_TRUE(mux.RunUntilIdle());
    const Bytes video = PsPayload(sink.bytes, 0xE0);
    EXPECT_GT(video.size(), 0u);
    EXPECT_LT(video.size(), vb.size());
    EXPECT_EQ(video, Bytes(vb.begin(), vb.begin() + static_cast<long>(video.size())));
    EXPECT_EQ(PsPayload(sink.bytes, 0xC0), Bytes(ab.begin(), ab.begin() + static_cast<long>(10 * frame)));
    ASSERT_GE(sink.bytes.size(), 4u);
    EXPECT_EQ(Bytes(sink.bytes.end() - 4, sink.bytes.end()), (Bytes{0, 0, 1, 0xB9}));
}

// Video payload of a transport stream: the PES packets of stream id 0xE0,
// without their headers.
Bytes TsVideoPayload(const Bytes& ts) {
    std::string error;
    const std::vector<muxtest::TsPacket> packets = muxtest::ParseTransportStream(ts, 188, error);
    EXPECT_EQ(error, "");
    Bytes out;
    int videoPid = -1;
    for (const auto& t : packets) {
        if (!t.payload || t.payloadSize < 9) continue;
        if (videoPid < 0 && t.pusi && t.payload[0] == 0 && t.payload[1] == 0 && t.payload[2] == 1 &&
            t.payload[3] == 0xE0)
            videoPid = t.pid;
        if (t.pid != videoPid) continue;
        const size_t skip = t.pusi ? 9u + t.payload[8] : 0u;
        if (skip < t.payloadSize) out.insert(out.end(), t.payload + skip, t.payload + t.payloadSize);
    }
    return out;
}

// A closing stop that comes while a picture is half written finishes that
// picture: a cut picture does not decode, whatever its presentation time.
TEST(MuxPass, EndAllInputsFinishesTheUnitItInterrupts) {
    struct StoppingSink : MemorySink {
        Multiplexer* mux = nullptr;
        size_t stopAfter = 0;
        HRESULT_T Deliver(const OutputSample& s) override {
            MemorySink::Deliver(s);
            if (bytes.size() >= stopAfter && stopAfter != 0) {
                mux->EndAllInputs(0);  // inside the first picture
                stopAfter = 0;
            }
            return kS_OK;
        }
    };
    for (int output : {kProgramStream, kTransportStream}) {
        SCOPED_TRACE(output);
        Multiplexer mux;
        mux.Settings().output = output;
        InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
        StoppingSink sink;
        sink.mux = &mux;
        sink.stopAfter = output == kProgramStream ? 2 * 2048 : 12 * 188;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        const Bytes vb = muxtest::SimpleGop(3, 3000);  // pictures over several packets
        v->Push(vb.data(), vb.size(), 0);
        EXPECT_TRUE(mux.WaitFirstData());
        EXPECT_TRUE(mux.RunUntilIdle());
        const Bytes video = output == kProgramStream ? PsPayload(sink.bytes, 0xE0) : TsVideoPayload(sink.bytes);
        ASSERT_GT(video.size(), 0u);
        ASSERT_LT(video.size() + 4, vb.size());
        EXPECT_EQ(video, Bytes(vb.begin(), vb.begin() + static_cast<long>(video.size())));
        // The written part ends where the next picture or sequence begins.
        const size_t at = video.size();
        EXPECT_EQ(Bytes(vb.begin() + static_cast<long>(at), vb.begin() + static_cast<long>(at) + 3), (Bytes{0, 0, 1}));
        const uint8_t code = vb[at + 3];
        EXPECT_TRUE(code == 0x00 || code == 0xB3 || code == 0xB8) << std::hex << int(code);
    }
}

TEST(MuxPass, ArbitraryBytesNeverBreakThePass) {
    // Every scanner meets noise, truncated headers and start-code storms;
    // the pass must end with every input drained.
    const int32_t types[] = {kPinMpeg2Video, kPinMpeg1Audio, kPinAc3, kPinAac, kPinPcm, kPinPesMpegAudio};
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    for (int output : {kProgramStream, kTransportStream}) {
        for (int round = 0; round < 3; ++round) {
            Multiplexer mux;
            mux.Settings().output = output;
            std::vector<std::pair<InputStream*, Bytes>> ins;
            for (int32_t t : types) {
                if (t == kPinPcm && output != kProgramStream) continue;
                Bytes b(3000 + round * 7000);
                for (auto& x : b) {
                    const uint8_t r = next();
                    // Mostly sync-like bytes so that headers are found and refused.
                    x = round == 0 ? r : (r & 3) == 0 ? 0x00 : (r & 3) == 1 ? 0x01 : (r & 3) == 2 ? 0xFF : r;
                }
                if (round == 2) b.insert(b.begin(), {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, 0x23});
                ins.push_back({mux.AddInput(Type(t)), b});
            }
            MemorySink sink;
            ASSERT_EQ(mux.Start(&sink), kS_OK);
            for (auto& [in, b] : ins) {
                for (size_t at = 0; at < b.size(); at += 1111) {
                    ASSERT_EQ(in->Push(b.data() + at, std::min<size_t>(1111, b.size() - at), at ? kNoTime : 0), kS_OK);
                    mux.RunUntilIdle();
                }
                in->EndOfStream();
            }
            EXPECT_TRUE(mux.RunUntilIdle()) << "output " << output << " round " << round;
            for (auto& [in, b] : ins)
                if (!in->IsDrained())
                    ADD_FAILURE() << "type " << in->Settings().streamType << " units " << in->Units().GetCount()
                                  << " holds " << (in->Scanner() ? in->Scanner()->HoldsData() : false) << " head "
                                  << (in->Units().GetCount() ? in->Units().Peek().size : -1) << " dts " << in->HeadDts()
                                  << " clock " << mux.Clock();
        }
    }
}

TEST(MuxStructure, ProgramPidsAndPcrInput) {
    Multiplexer ts;
    Program* p1 = ts.AddProgram();
    Program* p2 = ts.AddProgram();
    InputStream* v = ts.AddInput(Type(kPinMpeg2Video), p1);
    InputStream* a = ts.AddInput(Type(kPinMpeg1Audio), p1);
    InputStream* other = ts.AddInput(Type(kPinMpeg1Audio), p2);
    EXPECT_EQ(p1->Settings().pcrPid, v->Pid()) << "the first connected input";
    EXPECT_EQ(p2->SetProgramId(other->Pid()), kE_FAIL) << "an input of another program has it";
    EXPECT_EQ(p2->SetProgramId(p1->Settings().programId), kE_FAIL);
    EXPECT_EQ(p2->SetProgramId(4000), kS_OK);
    EXPECT_EQ(p1->SetPcrPid(other->Pid()), kE_FAIL) << "not an input of this program";
    EXPECT_EQ(p1->SetPcrPid(a->Pid()), kS_OK);
    ASSERT_EQ(ts.RemoveInput(a), kS_OK);
    EXPECT_EQ(p1->Settings().pcrPid, v->Pid()) << "the PCR moves to the next connected input";
    ASSERT_EQ(ts.RemoveInput(v), kS_OK);
    EXPECT_EQ(p1->Settings().pcrPid, 0);
}

TEST(MuxPass, PesInputPassesThroughUnchanged) {
    // PES-packetised Layer II: each packet goes out as it came, one per pack.
    Bytes pes;
    const Bytes frames = muxtest::Mp2Frames(12);
    for (int i = 0; i < 12; ++i) {
        const uint64_t pts = 90000 + 2160ull * i;
        const uint8_t h[14] = {0x00,
                               0x00,
                               0x01,
                               0xC0,
                               static_cast<uint8_t>((576 + 8) >> 8),
                               static_cast<uint8_t>(576 + 8),
                               0x80,
                               0x80,
                               0x05,
                               static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)),
                               static_cast<uint8_t>(pts >> 22),
                               static_cast<uint8_t>((pts >> 14) | 1),
                               static_cast<uint8_t>(pts >> 7),
                               static_cast<uint8_t>((pts << 1) | 1)};
        pes.insert(pes.end(), h, h + 14);
        pes.insert(pes.end(), frames.begin() + i * 576, frames.begin() + (i + 1) * 576);
    }
    Multiplexer mux;
    mux.Settings().output = kProgramStream;
    InputStream* in = mux.AddInput(Type(kPinPesMpegAudio));
    MemorySink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    in->Push(pes.data(), pes.size());
    in->EndOfStream();
    ASSERT_TRUE(mux.RunUntilIdle());
    const auto ps = muxtest::ParseProgramStream(sink.bytes);
    ASSERT_EQ(ps.error, "");
    Bytes back;
    size_t packets = 0;
    for (const auto& pk : ps.packs)
        for (size_t i = 0; i < pk.pes.size(); ++i) {
            const size_t at = pk.offset + pk.pesOffsets[i];
            back.insert(back.end(), sink.bytes.begin() + static_cast<long>(at),
                        sink.bytes.begin() + static_cast<long>(at + 6 + pk.pes[i].packetLength));
            ++packets;
        }
    EXPECT_EQ(packets, 12u);
    EXPECT_EQ(back, pes);
    EXPECT_TRUE(ps.packs.front().systemHeader);
}

TEST(MuxPass, ProducersWaitForRoomWhileTheThreadMuxes) {
    auto run = [](bool threaded) {
        Multiplexer mux;
        mux.Settings().output = kTransportStream;
        StreamSettings vs = Type(kPinMpeg2Video), as = Type(kPinMpeg1Audio);
        vs.inputBufferSize = as.inputBufferSize = 100000;  // the smallest: fills up quickly
        InputStream* v = mux.AddInput(vs);
        InputStream* a = mux.AddInput(as);
        auto sink = std::make_unique<MemorySink>();
        EXPECT_EQ(mux.Start(sink.get()), kS_OK);
        if (threaded) mux.StartThread();
        const Bytes vb = muxtest::SimpleGop(40, 6000), ab = muxtest::Mp2Frames(400);
        auto feed = [&](InputStream* in, const Bytes& b, size_t chunk) {
            for (size_t at = 0; at < b.size();) {
                const size_t n = std::min(chunk, b.size() - at);
                const HRESULT_T hr = in->Push(b.data() + at, n);
                if (hr == kS_OK)
                    at += n;
                else if (threaded)
                    mux.WaitForRoom(50);
                else
                    mux.RunUntilIdle();
            }
            in->EndOfStream();
        };
        if (threaded) {
            std::thread tv([&] { feed(v, vb, 30000); });
            std::thread ta([&] { feed(a, ab, 20000); });
            tv.join();
            ta.join();
            mux.WaitFinished();
        } else {
            // One producer at a time would stall: alternate chunks instead.
            size_t i = 0, j = 0;
            while (i < vb.size() || j < ab.size()) {
                if (i < vb.size() && v->Push(vb.data() + i, std::min<size_t>(30000, vb.size() - i)) == kS_OK)
                    i += std::min<size_t>(30000, vb.size() - i);
                if (j < ab.size() && a->Push(ab.data() + j, std::min<size_t>(20000, ab.size() - j)) == kS_OK)
                    j += std::min<size_t>(20000, ab.size() - j);
                mux.RunUntilIdle();
            }
            v->EndOfStream();
            a->EndOfStream();
            mux.RunUntilIdle();
        }
        EXPECT_TRUE(mux.Finished());
        return sink->bytes;
    };
    const Bytes threaded = run(true);
    EXPECT_GT(threaded.size(), 40u * 4 * 6000);
    const Bytes direct = run(false);
    size_t at = 0;
    while (at < direct.size() && at < threaded.size() && direct[at] == threaded[at]) ++at;
    EXPECT_EQ(at, direct.size()) << "first difference in packet " << at / 188;
    EXPECT_EQ(threaded.size(), direct.size());
}

TEST(MuxPass, FlushStartsTheInputsOver) {
    for (int output : {kProgramStream, kTransportStream}) {
        SCOPED_TRACE(output);
        Multiplexer mux;
        mux.Settings().output = output;
        InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
        InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
        MemorySink sink;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        const Bytes v1 = muxtest::SimpleGop(3), a1 = muxtest::Mp2Frames(20);
        v->Push(v1.data(), v1.size() / 2);
        a->Push(a1.data(), a1.size() / 2);
        mux.RunUntilIdle();
        mux.BeginFlush();
        mux.EndFlush();
        const size_t before = sink.bytes.size();
        const Bytes v2 = muxtest::SimpleGop(2, 300), a2 = muxtest::Mp2Frames(10);
        v->Push(v2.data(), v2.size());
        a->Push(a2.data(), a2.size());
        v->EndOfStream();
        a->EndOfStream();
        ASSERT_TRUE(mux.RunUntilIdle());
        const Bytes after(sink.bytes.begin() + static_cast<long>(before), sink.bytes.end());
        if (output == kProgramStream) {
            // The new stream comes whole, with its own system header.
            EXPECT_EQ(PsPayload(after, 0xE0), v2);
            EXPECT_EQ(PsPayload(after, 0xC0), a2);
            EXPECT_TRUE(muxtest::ParseProgramStream(after).packs.front().systemHeader);
        } else {
            std::string err;
            bool discontinuity = false;
            for (const auto& t : muxtest::ParseTransportStream(after, 188, err))
                if (t.hasPcr) {
                    discontinuity = (t.afFlags & 0x80) != 0;
                    break;
                }
            EXPECT_TRUE(discontinuity) << "the first PCR after the flush";
        }
    }
}

// ------------------------------------------------------------------ first data

namespace {

// Counts what the muxing thread delivers; read from the test's thread.
struct CountingSink : IMuxSink {
    std::atomic<size_t> bytes{0};
    HRESULT_T Deliver(const OutputSample& s) override {
        bytes += s.length;
        return kS_OK;
    }
    void EndOfStream() override {}
};

long long MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

bool WaitFor(const std::function<bool()>& done, int ms) {
    const auto t0 = std::chrono::steady_clock::now();
    while (!done()) {
        if (MsSince(t0) > ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

// The first pass waits for a first time stamp on every input that carries
// them: untimed bytes do not count, nor do several stamps on one input;
// subpicture inputs are not waited for; a flush waits again.
TEST(MuxFirstData, ArrivesWithAFirstTimeOnEveryTimedInput) {
    enum Op { kTimed, kUntimed, kFlush };
    struct Step {
        Op op;
        int input;
    };
    struct Case {
        const char* what;
        std::vector<int32_t> types;
        std::vector<Step> steps;
        bool arrived;
    };
    const std::vector<int32_t> va = {kPinMpeg2Video, kPinMpeg1Audio};
    const Case cases[] = {
        {"nothing yet", va, {}, false},
        {"one input of two", va, {{kTimed, 0}}, false},
        {"twice on the same input", va, {{kTimed, 0}, {kTimed, 0}}, false},
        {"untimed bytes", va, {{kTimed, 0}, {kUntimed, 1}}, false},
        {"every input", va, {{kTimed, 0}, {kUntimed, 1}, {kTimed, 1}}, true},
        {"subtitles are not waited for", {kPinMpeg2Video, kPinDvdSubtitles}, {{kTimed, 0}}, true},
        {"no input with time stamps", {kPinDvdSubtitles}, {}, true},
        {"a flush waits again", va, {{kTimed, 0}, {kTimed, 1}, {kFlush, 0}}, false},
        {"first times after the flush", va, {{kTimed, 0}, {kTimed, 1}, {kFlush, 0}, {kTimed, 1}, {kTimed, 0}}, true},
    };
    const Bytes bytes(1000, 0x55);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Multiplexer mux;
        std::vector<InputStream*> in;
        for (int32_t t : c.types) in.push_back(mux.AddInput(Type(t)));
        MemorySink sink;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        int64_t time = 0;
        for (const Step& s : c.steps) {
            if (s.op == kFlush) {
                mux.BeginFlush();
                mux.EndFlush();
            } else {
                ASSERT_EQ(in[s.input]->Push(bytes.data(), bytes.size(), s.op == kTimed ? time += 400000 : kNoTime),
                          kS_OK);
            }
        }
        EXPECT_EQ(mux.FirstDataArrived(), c.arrived);
    }
}

// WaitFirstData, as the filter's muxing thread calls it: ends with the first
// data, at the limit (at once with 0) or on Interrupt; once it has ended with
// data or at the limit, the data count as arrived and no later call waits.
TEST(MuxFirstData, WaitEndsWithDataAtTheLimitOrOnInterrupt) {
    enum Then { kNothing, kData, kInterrupt };
    struct Case {
        const char* what;
        int32_t limitMs;
        Then then;
        bool result;
        long long atLeastMs;
    };
    // A minute stands for "never" (beyond the parameter's range, the core takes it).
    const Case cases[] = {
        {"0: no wait", 0, kNothing, true, 0},
        {"the limit", 300, kNothing, true, 300},
        {"data from another thread", 60000, kData, true, 0},
        {"interrupted", 60000, kInterrupt, false, 0},
    };
    const Bytes vb = muxtest::SimpleGop(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Multiplexer mux;
        mux.Settings().initialDataWaitMs = c.limitMs;
        InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
        MemorySink sink;
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        std::thread other([&] {
            if (c.then == kNothing) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (c.then == kData)
                EXPECT_EQ(v->Push(vb.data(), vb.size(), 0), kS_OK);
            else
                mux.Interrupt();
        });
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(mux.WaitFirstData(), c.result);
        const long long ms = MsSince(t0);
        other.join();
        EXPECT_GE(ms, c.atLeastMs);
        EXPECT_LT(ms, c.limitMs == 0 ? 250 : 30000) << "it did not wait the whole minute";
        EXPECT_EQ(mux.FirstDataArrived(), c.result);
        if (c.result) {
            const auto t1 = std::chrono::steady_clock::now();
            EXPECT_TRUE(mux.WaitFirstData());
            EXPECT_LT(MsSince(t1), 250);
        }
    }
}

// The core's own thread: no pass before the first data, although the video
// alone could be written ("Allow missing Input Streams"), then passes at once.
// Stop during the wait returns without waiting it out.
TEST(MuxFirstData, ThreadHoldsTheFirstPassAndStopEndsTheWait) {
    Multiplexer mux;
    mux.Settings().initialDataWaitMs = 60000;
    mux.Settings().allowMissingInputs = 1;
    InputStream* v = mux.AddInput(Type(kPinMpeg2Video));
    InputStream* a = mux.AddInput(Type(kPinMpeg1Audio));
    CountingSink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    mux.StartThread();
    const Bytes vb = muxtest::SimpleGop(8), ab = muxtest::Mp2Frames(20);
    ASSERT_EQ(v->Push(vb.data(), vb.size(), 0), kS_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(sink.bytes.load(), 0u) << "a pass ran before the audio input's first data";
    ASSERT_EQ(a->Push(ab.data(), ab.size(), 0), kS_OK);
    EXPECT_TRUE(WaitFor([&] { return sink.bytes.load() > 0; }, 30000));
    mux.StopThread();

    // The same without the audio data: the thread waits until Stop.
    Multiplexer idle;
    idle.Settings().initialDataWaitMs = 60000;
    idle.Settings().allowMissingInputs = 1;
    v = idle.AddInput(Type(kPinMpeg2Video));
    idle.AddInput(Type(kPinMpeg1Audio));
    CountingSink none;
    ASSERT_EQ(idle.Start(&none), kS_OK);
    idle.StartThread();
    ASSERT_EQ(v->Push(vb.data(), vb.size(), 0), kS_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto t0 = std::chrono::steady_clock::now();
    idle.StopThread();
    EXPECT_LT(MsSince(t0), 5000);
    EXPECT_EQ(none.bytes.load(), 0u);
}

// A requested "Stream PES ID" is checked against the ranges the program
// assigns from; whatever the program assigns passes the same check.
TEST(MuxStructure, PesIdRequestsFollowTheStreamType) {
    struct Case {
        int32_t type, output, id;
        bool fits;
    } cases[] = {
        {kPinMpeg2Video, kProgramStream, 0xE3, true},  {kPinMpeg2Video, kProgramStream, 0xC0, false},
        {kPinH264, kTransportStream, 0xEF, true},      {kPinMpeg1Audio, kProgramStream, 0xC5, true},
        {kPinMpeg1Audio, kProgramStream, 0xE0, false}, {kPinAac, kTransportStream, 0xDF, true},
        {kPinAc3, kProgramStream, 0xBD, true},         {kPinAc3, kProgramStream, 0xFD, false},
        {kPinAc3, kTransportStream, 0xFD, true},       {kPinVc1, kTransportStream, 0xE0, false},
        {kPinPcm, kProgramStream, 0xBD, true},         {kPinPcm, kProgramStream, 0xC0, false},
        {kPinMpeg2Video, kProgramStream, 0, true},     {kPinFree, kProgramStream, 0x1FF, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.fits, PesIdFitsType(c.type, c.output, c.id)) << c.type << " " << std::hex << c.id;
    for (int32_t output : {kProgramStream, kTransportStream}) {
        Multiplexer mux;
        mux.Settings().output = output;
        for (int32_t t : {kPinMpeg2Video, kPinMpeg1Video, kPinMpeg1Audio, kPinAac, kPinAc3, kPinPrivateData}) {
            InputStream* in = mux.AddInput(Type(t));
            ASSERT_NE(nullptr, in);
            EXPECT_TRUE(PesIdFitsType(t, output, in->Settings().streamPesId)) << t;
        }
    }
}

// The allocation rules the core and the filter's parameters share.
TEST(MuxStructure, PidAndProgramNumberAllocation) {
    const std::set<int32_t> used = {1000, 1001, 1003, 300};
    auto taken = [&](int32_t v) { return used.count(v) != 0; };
    EXPECT_EQ(500, AllocatePid(500, taken));
    EXPECT_EQ(1002, AllocatePid(300, taken));   // taken: the lowest free from 1000
    EXPECT_EQ(1002, AllocatePid(0, taken));     // none asked for
    EXPECT_EQ(1002, AllocatePid(8191, taken));  // above 8190 counts as none
    EXPECT_EQ(0, AllocatePid(0, [](int32_t) { return true; }));
    EXPECT_EQ(7, AllocateProgramNumber(7, taken));
    EXPECT_EQ(1, AllocateProgramNumber(0, taken));
    const std::set<int32_t> numbers = {1, 2, 4};
    EXPECT_EQ(3, AllocateProgramNumber(2, [&](int32_t v) { return numbers.count(v) != 0; }));
}
