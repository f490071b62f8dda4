// MPEG-4 systems in transport streams: SL packet headers, descriptors, the
// system PIDs and the SL-packetized PID element.
#include "restamp/parsers/M2TS.h"
#include "restamp/parsers/Mpeg4Systems.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

namespace mp4sys = MpegCommon::mp4sys;

class Bits {
public:
    void Put(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes.push_back(0);
            bytes.back() |= uint8_t(((v >> i) & 1) << (7 - used_ % 8));
            ++used_;
        }
    }
    std::vector<uint8_t> bytes;

private:
    size_t used_ = 0;
};

mp4sys::SLConfig TimedConfig(uint8_t length, uint32_t resolution) {
    mp4sys::SLConfig c;
    c.predefined = 0;
    c.useTimeStampsFlag = 1;
    c.timeStampResolution = resolution;
    c.timeStampLength = length;
    return c;
}

TEST(SyncLayerHeader, InfersTheStartFlagAndKeeps33BitStamps) {
    // No access-unit flags configured: every packet starts a unit, so its
    // time stamps are read; a 33-bit stamp stays whole.
    DIVX::CSyncLayerHeader h(TimedConfig(33, 1000));
    Bits b;
    b.Put(1, 1);  // decodingTimeStampFlag
    b.Put(1, 1);  // compositionTimeStampFlag
    b.Put(0x100000007ull, 33);
    b.Put(0x123456789ull, 33);
    ASSERT_TRUE(h.Parse(b.bytes.data(), uint32_t(b.bytes.size())));
    EXPECT_EQ(h.accessUnitStartFlag, 1);
    EXPECT_EQ(h.decodingTimeStamp, 0x100000007ull);
    EXPECT_EQ(h.compositionTimeStamp, 0x123456789ull);
    EXPECT_EQ(h.headerSize, 9u);  // 68 bits
    EXPECT_EQ(h.To90kHz(1000), 90000u);
    EXPECT_EQ(h.To90kHz(0x123456789ull), 0x123456789ull * 90);
    EXPECT_FALSE(h.Parse(b.bytes.data(), 8));  // cut: no header
}

TEST(SyncLayerHeader, StartFlagFollowsTheEndFlagBefore) {
    mp4sys::SLConfig c = TimedConfig(32, 90000);
    c.useAccessUnitEndFlag = 1;
    DIVX::CSyncLayerHeader h(c);
    const uint8_t notEnded[1] = {0x00};  // end 0 (and, when a unit starts, no time stamps)
    const uint8_t ended[1] = {0x80};     // end 1
    Bits timed;
    timed.Put(0, 1);  // end 0
    timed.Put(0, 1);  // no DTS
    timed.Put(1, 1);  // CTS
    timed.Put(777, 32);
    ASSERT_TRUE(h.Parse(notEnded, 1));
    EXPECT_EQ(h.accessUnitStartFlag, 1);  // the first packet starts a unit
    ASSERT_TRUE(h.Parse(notEnded, 1));
    EXPECT_EQ(h.accessUnitStartFlag, 0);
    EXPECT_EQ(h.headerSize, 1u);
    ASSERT_TRUE(h.Parse(ended, 1));
    ASSERT_TRUE(h.Parse(timed.bytes.data(), uint32_t(timed.bytes.size())));
    EXPECT_EQ(h.accessUnitStartFlag, 1);
    EXPECT_EQ(h.compositionTimeStampFlag, 1);
    EXPECT_EQ(h.compositionTimeStamp, 777u);
    EXPECT_EQ(h.headerSize, 5u);
}

TEST(SyncLayerHeader, PaddingAndImpossibleLengths) {
    mp4sys::SLConfig c;
    c.predefined = 0;
    c.usePaddingFlag = 1;
    DIVX::CSyncLayerHeader pad(c);
    const uint8_t onlyPadding[1] = {0x80};  // paddingFlag 1, paddingBits 0
    ASSERT_TRUE(pad.Parse(onlyPadding, 1));
    EXPECT_EQ(pad.headerSize, 1u);
    const uint8_t many[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (int which = 0; which < 3; ++which) {
        mp4sys::SLConfig bad = TimedConfig(which == 0 ? 65 : 32, 1000);
        if (which == 1) bad.OCRLength = 200;
        if (which == 2) bad.AU_Length = 40;
        DIVX::CSyncLayerHeader h(bad);
        EXPECT_FALSE(h.Parse(many, sizeof many)) << which;
    }
}

// An ES descriptor as the multiplexer's writer makes it, with a body over
// 128 bytes (its size takes two bytes), reads back.
TEST(Mpeg4Descriptors, WriterOutputReadsBack) {
    mp4sys::AvcRecord avc;
    avc.profile = 100;
    avc.level = 40;
    avc.sps.push_back(std::vector<uint8_t>(150, 0x67));
    avc.pps.push_back({0x68, 0xEE, 0x3C, 0x80});
    mp4sys::EsDescriptor w;
    w.esId = 201;
    w.hasDecoderConfig = true;
    w.decoderConfig.objectTypeIndication = 0x21;
    w.decoderConfig.streamType = 4;
    w.decoderConfig.specificInfo = avc.Write();
    w.slConfig = TimedConfig(33, 90000);
    std::vector<uint8_t> bytes;
    w.Append(bytes);
    ASSERT_GT(bytes.size(), 160u);
    DIVX::CMPEG4DescriptorES es;
    size_t used = 0;
    ASSERT_TRUE(es.Parse(bytes.data(), bytes.size(), used));
    EXPECT_EQ(used, bytes.size());
    EXPECT_EQ(es.EsId(), 201);
    ASSERT_TRUE(es.avcValid);
    EXPECT_EQ(es.avc.profile, 100);
    ASSERT_EQ(es.avc.sps.size(), 1u);
    EXPECT_EQ(es.avc.sps[0].size(), 150u);
    EXPECT_EQ(es.es.slConfig.timeStampLength, 33);

    // AAC with an explicit sampling frequency (index 15).
    Bits asc;
    asc.Put(2, 5);
    asc.Put(15, 4);
    asc.Put(44056, 24);
    asc.Put(2, 4);
    DIVX::AudioSpecificConfig a;
    ASSERT_TRUE(a.Parse(asc.bytes.data(), asc.bytes.size()));
    EXPECT_EQ(a.samplingFrequency, 44056u);
    EXPECT_EQ(a.channelConfiguration, 2u);
}

// --- a hand-built transport stream --------------------------------------------

constexpr uint16_t kPmtPid = 0x100, kOdPid = 0x101, kAudioPid = 0x102;
constexpr uint16_t kOdEsId = 101, kAudioEsId = 201;

std::vector<uint8_t> Packet(uint16_t pid, bool unitStart, std::vector<uint8_t> payload, uint8_t counter) {
    std::vector<uint8_t> p = {0x47, uint8_t((unitStart ? 0x40 : 0) | (pid >> 8)), uint8_t(pid),
                              uint8_t(0x10 | counter)};
    payload.resize(184, 0xFF);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

// A long-form section: header, body, CRC (not checked by the reader).
std::vector<uint8_t> Section(uint8_t tableId, uint16_t ext, const std::vector<uint8_t>& body) {
    const size_t length = 5 + body.size() + 4;
    std::vector<uint8_t> s = {
        0, tableId, uint8_t(0xB0 | (length >> 8)), uint8_t(length), uint8_t(ext >> 8), uint8_t(ext), 0xC1, 0, 0};
    s.insert(s.end(), body.begin(), body.end());
    s.insert(s.end(), 4, 0);
    return s;  // from the pointer_field
}

std::vector<uint8_t> SLDescriptor(uint16_t esId) {
    return {0x1E, 2, uint8_t(esId >> 8), uint8_t(esId)};
}

std::vector<uint8_t> BuildStream(uint32_t ctsMs) {
    std::vector<uint8_t> ts;
    auto add = [&](const std::vector<uint8_t>& p) { ts.insert(ts.end(), p.begin(), p.end()); };
    add(Packet(0, true, Section(0x00, 1, {0, 1, uint8_t(0xE0 | (kPmtPid >> 8)), uint8_t(kPmtPid)}), 0));

    // The IOD names the object-descriptor stream (ES_ID 101, no SL fields).
    mp4sys::EsDescriptor odEs;
    odEs.esId = kOdEsId;
    odEs.hasDecoderConfig = true;
    odEs.decoderConfig.objectTypeIndication = 1;
    odEs.decoderConfig.streamType = 1;
    odEs.slConfig.predefined = 0;
    std::vector<uint8_t> iodBody = {0x00, 0x4F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    odEs.Append(iodBody);
    std::vector<uint8_t> iod;
    mp4sys::AppendDescriptor(iod, 0x02, iodBody);
    iod.insert(iod.begin(), {0x1D, uint8_t(iod.size() + 2), 0x10, 0x01});

    std::vector<uint8_t> pmt = {0xFF, 0xFF, uint8_t(0xF0 | (iod.size() >> 8)), uint8_t(iod.size())};
    pmt.insert(pmt.end(), iod.begin(), iod.end());
    for (auto e : {std::make_pair(uint8_t(0x13), kOdPid), std::make_pair(uint8_t(0x12), kAudioPid)}) {
        const auto sl = SLDescriptor(e.second == kOdPid ? kOdEsId : kAudioEsId);
        pmt.insert(pmt.end(), {e.first, uint8_t(0xE0 | (e.second >> 8)), uint8_t(e.second), 0xF0, uint8_t(sl.size())});
        pmt.insert(pmt.end(), sl.begin(), sl.end());
    }
    add(Packet(kPmtPid, true, Section(0x02, 1, pmt), 0));

    // The audio's PES packets before its object descriptor is known are dropped.
    std::vector<uint8_t> pes = {0, 0, 1, 0xC0, 0, 178, 0x80, 0x00, 0x00};
    Bits sl;
    sl.Put(0, 1);  // no DTS
    sl.Put(1, 1);  // CTS
    sl.Put(ctsMs, 32);
    pes.insert(pes.end(), sl.bytes.begin(), sl.bytes.end());
    pes.resize(184, 0x11);
    add(Packet(kAudioPid, true, pes, 0));

    // The object descriptor: ES_ID 201, AAC, times at 1,000 Hz.
    mp4sys::EsDescriptor audio;
    audio.esId = kAudioEsId;
    audio.hasDecoderConfig = true;
    audio.decoderConfig.objectTypeIndication = 0x40;
    audio.decoderConfig.streamType = 5;
    audio.decoderConfig.specificInfo = {0x11, 0x90};  // AAC LC, 48 kHz, stereo
    audio.slConfig = TimedConfig(32, 1000);
    std::vector<uint8_t> odBody = {0x00, 0x5F};  // ObjectDescriptorID 1
    audio.Append(odBody);
    std::vector<uint8_t> od;
    mp4sys::AppendDescriptor(od, 0x01, odBody);
    std::vector<uint8_t> update;
    mp4sys::AppendDescriptor(update, 0x01, od);  // ObjectDescriptorUpdate
    add(Packet(kOdPid, true, Section(0x05, kOdEsId, update), 0));
    add(Packet(kAudioPid, true, pes, 1));
    add(Packet(kAudioPid, true, pes, 2));
    return ts;
}

TEST(Mpeg4SystemsTransport, SystemPidsDescriptorsAndConvertedTimes) {
    const auto ts = BuildStream(5000);
    BS::CParserTemplateImpl<M2TS::CTSParserImpl, M2TS::CTSParserHandlerImpl, M2TS::CTransportStream> t;
    t.Reset();
    t.Parse(0, ts.data(), uint32_t(ts.size()), 0);
    EXPECT_EQ(t.stream.SystemPIDs(), std::vector<uint16_t>{kOdPid});
    ASSERT_TRUE(t.stream.Iod().valid);
    EXPECT_EQ(t.stream.Iod().scope, 0x10);
    EXPECT_EQ(t.stream.ElementOf(kOdPid), nullptr);
    const DIVX::CMPEG4DescriptorES* es = t.stream.ObjectDescriptors().FindES(kAudioEsId);
    ASSERT_NE(es, nullptr);
    EXPECT_EQ(es->audio.samplingFrequency, 48000u);
    EXPECT_EQ(es->audio.channelConfiguration, 2u);
    EXPECT_EQ(es->es.slConfig.timeStampResolution, 1000u);
    auto* e = dynamic_cast<M2TS::CPIDParserMPEG4Impl*>(t.stream.ElementOf(kAudioPid));
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->pes.ptsValid);
    EXPECT_EQ(e->pes.pts, 5000u * 90);  // 5 s
    EXPECT_EQ(e->pes.payloadOffset, 9u + 5u);
}

// Two updates of one object descriptor leave one ES descriptor, the later one.
TEST(Mpeg4SystemsTransport, LaterObjectDescriptorReplacesEsDescriptor) {
    M2TS::CSection14496 s;
    mp4sys::SLConfig none;  // no SL header fields
    none.predefined = 0;
    for (uint32_t res : {1000u, 90000u}) {
        mp4sys::EsDescriptor e;
        e.esId = kAudioEsId;
        e.slConfig = TimedConfig(32, res);
        std::vector<uint8_t> body = {0x00, 0x5F}, od, update;
        e.Append(body);
        mp4sys::AppendDescriptor(od, 0x01, body);
        mp4sys::AppendDescriptor(update, 0x01, od);
        auto payload = Section(0x05, kOdEsId, update);
        ASSERT_TRUE(s.Parse(payload.data(), uint32_t(payload.size()), none));
    }
    ASSERT_EQ(s.ods.size(), 1u);
    ASSERT_EQ(s.ods[0].es.size(), 1u);
    EXPECT_EQ(s.FindES(kAudioEsId)->es.slConfig.timeStampResolution, 90000u);
    // A scene-description section is not read.
    auto scene = Section(0x04, kOdEsId, {0x01, 0x00});
    EXPECT_FALSE(s.Parse(scene.data(), uint32_t(scene.size()), none));
}

// Flipped bits and cut packets of the hand-built stream: the parse stays in
// its bounds (the sanitizers watch) whatever the descriptors and SL headers say.
TEST(Mpeg4SystemsTransport, DamagedStreamsStayInBounds) {
    const auto clean = BuildStream(5000);
    std::mt19937 rng(23);
    for (int variant = 0; variant < 300; ++variant) {
        auto d = clean;
        std::uniform_int_distribution<size_t> pos(0, d.size() - 1);
        for (int k = 0; k < 1 + variant % 8; ++k) d[pos(rng)] ^= uint8_t(1u << (rng() % 8));
        if (variant % 3 == 0) d.resize(pos(rng));
        BS::CParserTemplateImpl<M2TS::CTSParserImpl, M2TS::CTSParserHandlerImpl, M2TS::CTransportStream> t;
        t.Reset();
        t.Parse(0, d.data(), uint32_t(d.size()), 0);
        t.stream.AllSubStreamsDetected(true);
    }
}

}  // namespace
