// PMT descriptors of inputs and programs, and the MPEG-4 systems
// information of DMB streams read back by the scanning library.
#include "codec/common/tests/h264_writer.h"
#include "codec/multiplexer/Descriptors.h"
#include "codec/multiplexer/Mpeg4DescriptorGenerator.h"
#include "codec/multiplexer/Multiplexer.h"

#include <gtest/gtest.h>

#include <set>

using namespace muxcore;
using NS_DESCR::CDescriptorBase;
using NS_DESCR::DescriptorList;

namespace {

std::vector<uint8_t> Bytes(const CDescriptorBase& d) {
    std::vector<uint8_t> out;
    d.AppendTo(out);
    return out;
}

struct NullSink : IMuxSink {
    HRESULT_T Deliver(const OutputSample&) override { return kS_OK; }
    void EndOfStream() override {}
};

}  // namespace

TEST(Descriptors, PayloadAndSubEntriesOnTheWire) {
    const uint8_t vc1[] = {'V', 'C', '-', '1'};
    CDescriptorBase reg(5, vc1, sizeof vc1);
    const uint8_t level = 0x91;
    ASSERT_TRUE(reg.AddSubEntry(0x01, &level, 1));
    EXPECT_EQ(reg.Size(), 8u);
    EXPECT_EQ(Bytes(reg), (std::vector<uint8_t>{0x05, 0x06, 'V', 'C', '-', '1', 0x01, 0x91}));
    // A copy keeps the payload and every sub-entry.
    const CDescriptorBase copy = reg;
    EXPECT_EQ(Bytes(copy), Bytes(reg));

    const uint8_t data[17] = {};
    CDescriptorBase d(0x40, nullptr, 0);
    EXPECT_FALSE(d.AddSubEntry(1, data, 17)) << "at most 16 data bytes";
    for (int i = 0; i < 15; ++i) ASSERT_TRUE(d.AddSubEntry(1, data, 16)) << i;
    EXPECT_FALSE(d.AddSubEntry(1, data, 16)) << "past the length byte's reach";
    EXPECT_EQ(Bytes(d).size(), d.Size());
    EXPECT_EQ(Bytes(d)[1], 255);

    DescriptorList empty;
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_TRUE(empty.Bytes().empty());
    uint8_t buf[4] = {0xEE};
    SPL::BitstreamWriter w;
    w.Attach(buf, sizeof buf);
    empty.Write(w);
    EXPECT_EQ(w.GetPosition(), 0);
}

TEST(Descriptors, ListFromThePinsBytes) {
    const std::vector<uint8_t> raw = {0x05, 0x04, 'T', 'E', 'S', 'T', 0x0A, 0x04, 'e', 'n', 'g', 0x00, 0x52, 0x05, 1};
    const DescriptorList list = DescriptorList::FromBytes(raw.data(), raw.size());
    ASSERT_EQ(list.Count(), 2u) << "the cut third one is dropped";
    EXPECT_EQ(list[1].Tag(), 0x0A);
    EXPECT_EQ(list.Size(), 12u);
    EXPECT_EQ(list.Bytes(), std::vector<uint8_t>(raw.begin(), raw.begin() + 12));
}

TEST(Descriptors, DmbGeneratorIdsAndClockReference) {
    DmbInput aac1, aac2, avc, none;
    aac1.streamType = aac2.streamType = kPinAac;
    aac1.pid = 0x101;
    aac2.pid = 0x102;
    aac1.audioConfig = {0x12, 0x10};
    avc.streamType = kPinH264;
    avc.pid = 0x100;
    // A sequence set long enough that the ES descriptor passes 128 bytes.
    std::vector<uint8_t> sps = {0x67, 0x64, 0x00, 0x28};
    sps.resize(160, 0xAC);
    avc.sps = {sps};
    avc.pps = {{0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0}};
    MPEG4DescriptorGenerator gen;
    // The H.264 input first: the AAC streams still come first.
    ASSERT_TRUE(gen.Build({avc, none, aac1, aac2}));
    const auto& ods = gen.ObjectDescriptors();
    ASSERT_EQ(ods.size(), 3u);
    std::set<uint16_t> odIds;
    for (const auto& od : ods) odIds.insert(od.objectDescriptorId);
    EXPECT_EQ(odIds.size(), 3u) << "each object descriptor has its own ID";
    EXPECT_EQ(ods[0].es[0].esId, 101);
    EXPECT_EQ(ods[1].es[0].esId, 102);
    EXPECT_EQ(ods[0].es[0].decoderConfig.specificInfo, aac1.audioConfig);
    EXPECT_EQ(ods[0].es[0].slConfig.timeStampLength, 33) << "audio is SL-configured too";
    const auto& video = ods[2].es[0];
    EXPECT_EQ(video.esId, 201);
    EXPECT_EQ(video.ocrStreamFlag, 1);
    EXPECT_EQ(video.ocrEsId, 101);
    EXPECT_EQ(video.streamPriority, 4);
    EXPECT_EQ(video.decoderConfig.objectTypeIndication, 0x21);

    // SL descriptors: the object-descriptor and scene streams, then one per input.
    const auto& sl = gen.SlDescriptors();
    ASSERT_EQ(sl.size(), 5u);
    EXPECT_EQ(Bytes(sl[0]), (std::vector<uint8_t>{30, 2, 0, 17}));
    EXPECT_EQ(Bytes(sl[1]), (std::vector<uint8_t>{30, 2, 0, 18}));
    EXPECT_EQ(sl[4].EsId(), 201);
    EXPECT_EQ(sl[4].Pid(), 0x100);
    EXPECT_EQ(Bytes(sl[4]), (std::vector<uint8_t>{30, 2, 0, 201}));

    // The video object descriptor read back: its AVC record holds both sets.
    const std::vector<uint8_t> b = ods[2].Bytes();
    SPL_MPEG4::ObjectDescriptor back;
    size_t used = 0;
    ASSERT_TRUE(back.Parse(b.data(), b.size(), used));
    ASSERT_EQ(back.es.size(), 1u);
    EXPECT_EQ(back.es[0].slConfig.timeStampResolution, 90000u);
    EXPECT_EQ(back.es[0].slConfig.OCRLength, 33);
    MpegCommon::mp4sys::AvcRecord rec;
    const auto& info = back.es[0].decoderConfig.specificInfo;
    ASSERT_TRUE(rec.Parse(info.data(), info.size()));
    EXPECT_EQ(rec.profile, 0x64);
    EXPECT_EQ(rec.level, 0x28);
    EXPECT_EQ(rec.sps, avc.sps);
    EXPECT_EQ(rec.pps, avc.pps);

    // The audio configuration is written once: the ES reads back with it alone.
    const std::vector<uint8_t> ab = ods[0].Bytes();
    ASSERT_TRUE(back.Parse(ab.data(), ab.size(), used));
    EXPECT_EQ(back.es[0].decoderConfig.specificInfo, aac1.audioConfig);
    EXPECT_EQ(back.Bytes(), ab);

    // Without audio the video has no clock reference.
    ASSERT_TRUE(gen.Build({avc}));
    EXPECT_EQ(gen.ObjectDescriptors()[0].es[0].ocrStreamFlag, 0);
    // Another type fails the DMB test and keeps nothing.
    DmbInput mp2;
    mp2.streamType = kPinMpeg2Audio;
    EXPECT_FALSE(gen.Build({avc, mp2}));
    EXPECT_TRUE(gen.ObjectDescriptors().empty());
    EXPECT_TRUE(gen.SlDescriptors().empty());
}

// The IOD for the PMT mirrors the object descriptors' ES descriptors (the
// video's without its AVC record) and keeps within one length byte: long
// decoder configurations go first, then the whole IOD.
TEST(Descriptors, DmbProgramInfoFitsItsLengthByte) {
    struct Case {
        const char* what;
        int aacInputs;
        size_t configBytes;
        bool fits;      // IOD written
        bool withInfo;  // audio configurations kept
    };
    const Case cases[] = {
        {"one AAC with H.264", 1, 2, true, true},
        {"long audio configurations", 3, 60, true, false},
        {"more streams than fit", 12, 2, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<DmbInput> inputs;
        DmbInput avc;
        avc.streamType = kPinH264;
        avc.pid = 0x100;
        avc.sps = {{0x67, 0x42, 0x00, 0x1E, 0x95}};
        avc.pps = {{0x68, 0xCE, 0x38, 0x80}};
        inputs.push_back(avc);
        for (int i = 0; i < c.aacInputs; ++i) {
            DmbInput a;
            a.streamType = kPinAac;
            a.pid = 0x101 + i;
            a.audioConfig.assign(c.configBytes, 0x12);
            inputs.push_back(a);
        }
        MPEG4DescriptorGenerator gen;
        ASSERT_TRUE(gen.Build(inputs));
        ASSERT_EQ(gen.Iod().es.size(), gen.ObjectDescriptors().size());
        EXPECT_TRUE(gen.Iod().es.back().decoderConfig.specificInfo.empty());
        EXPECT_FALSE(gen.ObjectDescriptors().back().es[0].decoderConfig.specificInfo.empty());
        const std::vector<uint8_t> info = gen.ProgramInfo();
        ASSERT_EQ(!info.empty(), c.fits);
        if (!c.fits) continue;
        ASSERT_LE(info.size(), 257u);
        SPL_MPEG4::IodDescriptor back;
        size_t used = 0;
        ASSERT_TRUE(back.Parse(info.data(), info.size(), used));
        EXPECT_EQ(used, info.size());
        ASSERT_EQ(back.es.size(), static_cast<size_t>(c.aacInputs + 1));
        EXPECT_EQ(back.es[0].decoderConfig.specificInfo.empty(), !c.withInfo);
        EXPECT_EQ(back.es.back().esId, 201);
    }
}

// The DMB set-up at each start: the SL descriptors of the object-descriptor
// and scene streams first, then one per input with its PID; the PMT carries
// the IOD and each entry its SL descriptor. Any input DMB does not carry (a
// PCR-only carrier included) drops the set-up, and the PMT is plain again.
TEST(Descriptors, DmbSetUpAtEachStart) {
    Multiplexer mux;
    StreamSettings v, a;
    v.streamType = kPinH264;
    a.streamType = kPinAac;
    a.hasAacConfig = true;
    a.aacConfig[0] = 0x11;
    a.aacConfig[1] = 0x90;
    InputStream* video = mux.AddInput(v);
    InputStream* audio = mux.AddInput(a);
    ASSERT_TRUE(video && audio);
    ASSERT_EQ(mux.SetDmbCompatibility(1), kS_OK);
    NullSink sink;

    // The program's PMT section, read back (table_id on).
    SPL_TS::TSTablePMT t;
    auto readPmt = [&mux, &t]() {
        Program* p = mux.Programs().front().get();
        p->BuildPmt();
        const std::vector<uint8_t>& sec = p->Pmt().section;
        ASSERT_TRUE(t.Parse(sec.data() + 1, static_cast<uint32_t>(sec.size() - 1)));
    };

    ASSERT_EQ(mux.Start(&sink), kS_OK);
    const MPEG4DescriptorGenerator* dmb = mux.DmbSetup();
    ASSERT_NE(dmb, nullptr);
    const auto& sl = dmb->SlDescriptors();
    ASSERT_EQ(sl.size(), 4u);
    const std::vector<std::pair<uint16_t, int32_t>> ids = {{17, 0}, {18, 0}, {101, audio->Pid()}, {201, video->Pid()}};
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_EQ(sl[i].EsId(), ids[i].first) << i;
        EXPECT_EQ(sl[i].Pid(), ids[i].second) << i;
    }
    ASSERT_EQ(dmb->Iod().es.size(), 2u);
    EXPECT_EQ(dmb->Iod().es[0].decoderConfig.specificInfo, (std::vector<uint8_t>{0x11, 0x90}))
        << "the AudioSpecificConfig of a raw AAC input";
    EXPECT_EQ(dmb->Iod().es[1].ocrEsId, 101);
    readPmt();
    ASSERT_EQ(t.streams.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(t.program_info, t.program_info + t.program_info_length), dmb->ProgramInfo());
    EXPECT_EQ(t.program_info[0], 29);
    EXPECT_EQ(t.streams[0].info, (std::vector<uint8_t>{30, 2, 0, 201}));
    EXPECT_EQ(t.streams[1].info, (std::vector<uint8_t>{30, 2, 0, 101}));

    // Once the scanner has the parameter sets, the video's object descriptor
    // holds them in its AVC record (the IOD's copy goes without).
    h264test::SpsOptions o;
    const std::vector<uint8_t> sps = h264test::SpsNal(o), pps = h264test::PpsNal();
    std::vector<uint8_t> es = sps;
    h264test::Add(es, pps);
    for (uint32_t i = 0; i < 4; ++i) {
        h264test::SliceOptions so;
        so.idr = i == 0;
        so.sliceType = i == 0 ? 7 : 5;
        so.frameNum = i;
        so.pocLsb = 2 * i;
        h264test::Add(es, h264test::SliceNal(o, so));
    }
    ASSERT_EQ(video->Push(es.data(), es.size()), kS_OK);
    video->EndOfStream();
    audio->EndOfStream();
    mux.RunUntilIdle();
    ASSERT_EQ(mux.DmbSetup(), dmb);
    const auto& videoEs = dmb->ObjectDescriptors()[1].es[0];
    MpegCommon::mp4sys::AvcRecord rec;
    ASSERT_TRUE(rec.Parse(videoEs.decoderConfig.specificInfo.data(), videoEs.decoderConfig.specificInfo.size()));
    EXPECT_EQ(rec.sps, (std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(sps.begin() + 4, sps.end())}));
    EXPECT_EQ(rec.pps, (std::vector<std::vector<uint8_t>>{std::vector<uint8_t>(pps.begin() + 4, pps.end())}));
    EXPECT_TRUE(dmb->Iod().es[1].decoderConfig.specificInfo.empty());

    mux.Reset();
    EXPECT_EQ(mux.DmbSetup(), nullptr) << "a reset ends the run's set-up";

    struct Case {
        const char* what;
        int32_t dmb;
        int32_t extraType;  // 0: none
        int32_t userPcrPid;
        bool kept;
    };
    const Case cases[] = {
        {"DMB off", 0, 0, 0, false},
        {"an MPEG-1 audio input", 1, kPinMpeg1Audio, 0, false},
        {"a user-defined PCR PID", 1, 0, 0x1FF0, false},
        {"H.264 and AAC again", 1, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mux.Settings().dmbCompatibility = c.dmb;
        mux.Programs().front()->Settings().userDefinedPcrPid = c.userPcrPid;
        InputStream* extra = nullptr;
        if (c.extraType != 0) {
            StreamSettings e;
            e.streamType = c.extraType;
            extra = mux.AddInput(e);
            ASSERT_NE(extra, nullptr);
        }
        ASSERT_EQ(mux.Start(&sink), kS_OK);
        EXPECT_EQ(mux.DmbSetup() != nullptr, c.kept);
        if (c.dmb == 1 && !c.kept) {
            EXPECT_NE(mux.LastError().find("DMB"), std::string::npos) << mux.LastError();
        }
        readPmt();
        EXPECT_EQ(t.program_info_length != 0, c.kept);
        for (const auto& e : t.streams) {
            EXPECT_EQ(e.info.empty(), !c.kept) << "PID " << e.elementary_PID;
        }
        mux.Reset();
        if (extra) {
            ASSERT_EQ(mux.RemoveInput(extra), kS_OK);
        }
    }
}

// Descriptors a scanner adds reach the PMT entry whole.
TEST(Descriptors, ScannerDescriptorsJoinThePinsOwn) {
    Multiplexer mux;
    StreamSettings s;
    s.streamType = kPinVc1;
    s.esInfo = {0x0A, 0x04, 'e', 'n', 'g', 0x00};
    InputStream* in = mux.AddInput(s);
    ASSERT_NE(in, nullptr);
    NullSink sink;
    ASSERT_EQ(mux.Start(&sink), kS_OK);
    in->AddEsInfoDescriptor({0x05, 0x06, 'V', 'C', '-', '1', 0x01, 0x91});
    in->AddEsInfoDescriptor({0x05, 0x09, 'c', 'u', 't'});  // runs past its bytes: not added
    const DescriptorList list =
        DescriptorList::FromBytes(in->RunSettings().esInfo.data(), in->RunSettings().esInfo.size());
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(in->RunSettings().esInfo.size(), 14u);
}
