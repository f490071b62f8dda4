// MPEG-4 systems: object descriptors, the IOD descriptor and the SL header,
// written and read back.
#include "codec/scanning/Mpeg4Systems.h"

#include <gtest/gtest.h>

using namespace SPL_MPEG4;
using MpegCommon::mp4sys::AvcRecord;

namespace {

EsDescriptor AvcEs(size_t spsBytes) {
    AvcRecord rec;
    rec.profile = 100;
    rec.level = 40;
    rec.sps.push_back(std::vector<uint8_t>(spsBytes, 0x67));
    rec.pps.push_back({0x68, 0xEB, 0xE3, 0xCB});
    EsDescriptor es;
    es.esId = 201;
    es.ocrStreamFlag = 1;
    es.ocrEsId = 101;
    es.streamPriority = 4;
    es.hasDecoderConfig = true;
    es.decoderConfig.objectTypeIndication = 0x21;
    es.decoderConfig.streamType = 4;
    es.decoderConfig.specificInfo = rec.Write();
    es.slConfig.predefined = 0;
    es.slConfig.useTimeStampsFlag = 1;
    es.slConfig.timeStampResolution = 90000;
    es.slConfig.timeStampLength = 33;
    return es;
}

SLConfig FullConfig() {
    SLConfig c;
    c.predefined = 0;
    c.useAccessUnitStartFlag = c.useAccessUnitEndFlag = c.useRandomAccessPointFlag = 1;
    c.usePaddingFlag = c.useTimeStampsFlag = c.useIdleFlag = 1;
    c.timeStampResolution = c.OCRResolution = 90000;
    c.timeStampLength = c.OCRLength = 33;
    c.AU_Length = 24;
    c.instantBitrateLength = 10;
    c.degradationPriorityLength = 4;
    c.AU_seqNumLength = 5;
    c.packetSeqNumLength = 7;
    return c;
}

}  // namespace

TEST(Mpeg4Systems, ObjectDescriptorWithABodyOver128Bytes) {
    ObjectDescriptor od;
    od.objectDescriptorId = 0x2A5;
    od.es.push_back(AvcEs(200));
    uint8_t buf[512] = {};
    SPL::BitstreamWriter w;
    w.Attach(buf, sizeof buf);
    od.Write(w);
    ASSERT_FALSE(w.Overflow());
    const size_t n = static_cast<size_t>(w.GetPosition());
    EXPECT_EQ(buf[0], kObjectDescriptorTag);
    EXPECT_EQ(buf[1] & 0x80, 0x80) << "the size takes a second byte";

    ObjectDescriptor back;
    size_t used = 0;
    ASSERT_TRUE(back.Parse(buf, n, used));
    EXPECT_EQ(used, n);
    EXPECT_EQ(back.objectDescriptorId, 0x2A5);
    ASSERT_EQ(back.es.size(), 1u);
    EXPECT_EQ(back.es[0].ocrEsId, 101);
    AvcRecord rec;
    ASSERT_TRUE(rec.Parse(back.es[0].decoderConfig.specificInfo.data(), back.es[0].decoderConfig.specificInfo.size()));
    EXPECT_EQ(rec.sps[0].size(), 200u);
    EXPECT_EQ(back.Bytes(), od.Bytes()) << "written again, the same bytes";
    for (size_t cut = 1; cut < n; cut += 9) EXPECT_FALSE(back.Parse(buf, cut, used)) << cut;
}

TEST(Mpeg4Systems, IodDescriptorCarriesProfilesAndEsDescriptors) {
    IodDescriptor iod;
    iod.iodLabel = 7;
    iod.objectDescriptorId = 1;
    iod.includeInlineProfileLevelFlag = 1;
    const uint8_t profiles[5] = {0xFE, 0xFE, 0x0F, 0x15, 0xFF};
    std::copy(profiles, profiles + 5, iod.profiles);
    iod.es.push_back(AvcEs(20));
    const std::vector<uint8_t> b = iod.Bytes();
    ASSERT_GE(b.size(), 13u);
    EXPECT_EQ(b[0], kIodDescriptorTag);
    EXPECT_EQ(b[1], b.size() - 2);
    EXPECT_EQ(b[4], kInitialObjectDescriptorTag);
    IodDescriptor back;
    size_t used = 0;
    ASSERT_TRUE(back.Parse(b.data(), b.size(), used));
    EXPECT_EQ(used, b.size());
    EXPECT_EQ(back.scopeOfIodLabel, 0x10);
    EXPECT_EQ(back.iodLabel, 7);
    EXPECT_EQ(back.includeInlineProfileLevelFlag, 1);
    EXPECT_TRUE(std::equal(profiles, profiles + 5, back.profiles));
    ASSERT_EQ(back.es.size(), 1u);
    EXPECT_EQ(back.es[0].esId, 201);
    EXPECT_FALSE(back.Parse(b.data(), b.size() - 1, used));
    // A body past the one-byte length of a PMT descriptor is not written.
    iod.es.push_back(AvcEs(300));
    uint8_t buf[1024];
    SPL::BitstreamWriter w;
    w.Attach(buf, sizeof buf);
    EXPECT_FALSE(iod.Write(w));
    EXPECT_EQ(w.GetPosition(), 0);
}

TEST(Mpeg4Systems, SyncLayerHeaders) {
    struct Case {
        const char* name;
        SLConfig config;
        MPEG4HdrSyncLayer h;
        uint32_t size;
    };
    std::vector<Case> cases;
    {
        // Every field with 33-bit stamps above 2^32.
        Case c{"full", FullConfig(), {}, 0};
        MPEG4HdrSyncLayer& h = c.h;
        h.accessUnitStartFlag = 1;
        h.OCRflag = 1;
        h.packetSequenceNumber = 99;
        h.DegPrioflag = 1;
        h.degradationPriority = 9;
        h.objectClockReference = 0x1FFFFFFFEull;
        h.randomAccessPointFlag = 1;
        h.AU_sequenceNumber = 17;
        h.decodingTimeStampFlag = h.compositionTimeStampFlag = h.instantBitrateFlag = 1;
        h.decodingTimeStamp = 0x123456789ull;
        h.compositionTimeStamp = 0x1A0000001ull;
        h.accessUnitLength = 0xABCDE;
        h.instantBitrate = 1000;
        // 5 flags, 7, 1 + 4, 33, 1 + 5 + 2 + 1, 33 + 33, 24, 10 = 160 bits.
        c.size = 20;
        cases.push_back(c);
    }
    {
        Case c{"padding only", FullConfig(), {}, 1};
        c.h.accessUnitStartFlag = 1;
        c.h.paddingFlag = 1;
        c.h.paddingBits = 0;
        cases.push_back(c);
    }
    {
        // Neither start nor end flag in use: both are set; a 32-bit DTS.
        SLConfig cfg;
        cfg.predefined = 0;
        cfg.useTimeStampsFlag = 1;
        cfg.timeStampLength = 32;
        Case c{"no start or end flags", cfg, {}, 5};
        c.h.decodingTimeStampFlag = 1;
        c.h.decodingTimeStamp = 0xFEDCBA98u;
        cases.push_back(c);
    }
    for (Case& c : cases) {
        uint8_t buf[64] = {};
        SPL::BitstreamWriter w;
        w.Attach(buf, sizeof buf);
        EXPECT_EQ(c.h.Write(w, c.config), c.size) << c.name;
        MPEG4HdrSyncLayer back;
        ASSERT_TRUE(back.Parse(buf, c.size, c.config)) << c.name;
        EXPECT_EQ(back.headerSize, c.size) << c.name;
        EXPECT_EQ(back.decodingTimeStamp, c.h.decodingTimeStamp) << c.name;
        EXPECT_EQ(back.compositionTimeStamp, c.h.compositionTimeStamp) << c.name;
        EXPECT_EQ(back.objectClockReference, c.h.objectClockReference) << c.name;
        EXPECT_EQ(back.accessUnitLength, c.h.accessUnitLength) << c.name;
        EXPECT_EQ(back.instantBitrate, c.h.instantBitrate) << c.name;
        EXPECT_EQ(back.AU_sequenceNumber, c.h.AU_sequenceNumber) << c.name;
        EXPECT_EQ(back.packetSequenceNumber, c.h.packetSequenceNumber) << c.name;
        EXPECT_EQ(back.degradationPriority, c.h.degradationPriority) << c.name;
        EXPECT_EQ(back.paddingFlag, c.h.paddingFlag) << c.name;
        if (!c.config.useAccessUnitStartFlag && !c.config.useAccessUnitEndFlag) {
            EXPECT_EQ(back.accessUnitStartFlag, 1) << c.name;
            EXPECT_EQ(back.accessUnitEndFlag, 1) << c.name;
        }
        if (c.size > 1) {
            EXPECT_FALSE(back.Parse(buf, c.size - 1, c.config)) << c.name;
            EXPECT_TRUE(back.IsTruncated()) << c.name;
        }
    }
}
