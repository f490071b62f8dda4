// PMT descriptors of inputs and programs, and the MPEG-4 systems
// information of DMB streams read back by the scanning library.
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

// The streams are not SL-packetised: a DMB run is refused with its reason
// instead of writing a stream no DMB receiver can use.
TEST(Descriptors, DmbRunIsRefusedWithItsReason) {
    Multiplexer mux;
    StreamSettings s;
    s.streamType = kPinH264;
    ASSERT_NE(mux.AddInput(s), nullptr);
    ASSERT_EQ(mux.SetDmbCompatibility(1), kS_OK);
    NullSink sink;
    EXPECT_EQ(mux.Start(&sink), kE_FAIL);
    EXPECT_NE(mux.LastError().find("DMB"), std::string::npos) << mux.LastError();
    mux.Reset();
    ASSERT_EQ(mux.SetDmbCompatibility(0), kS_OK);
    EXPECT_EQ(mux.Start(&sink), kS_OK);
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
