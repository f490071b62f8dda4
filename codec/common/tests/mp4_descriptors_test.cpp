// MPEG-4 systems descriptors: written and read back.
#include "codec/common/Mpeg4Descriptors.h"

#include <gtest/gtest.h>

using namespace MpegCommon::mp4sys;

TEST(Mp4Descriptors, SizesTakeAsManyBytesAsTheyNeed) {
    struct Case {
        size_t body;
        size_t headerBytes;
    } cases[] = {{0, 2}, {127, 2}, {128, 3}, {16383, 3}, {16384, 4}};
    for (const Case& c : cases) {
        std::vector<uint8_t> out;
        AppendDescriptor(out, 0x05, std::vector<uint8_t>(c.body, 0xAB));
        ASSERT_EQ(out.size(), c.body + c.headerBytes) << c.body;
        uint8_t tag = 0;
        uint32_t size = 0;
        size_t header = 0;
        ASSERT_TRUE(ReadDescriptorHeader(out.data(), out.size(), tag, size, header)) << c.body;
        EXPECT_EQ(tag, 0x05);
        EXPECT_EQ(size, c.body);
        EXPECT_EQ(header, c.headerBytes);
        // One byte short: the body runs past the bytes.
        EXPECT_FALSE(ReadDescriptorHeader(out.data(), out.size() - 1, tag, size, header) && c.body > 0) << c.body;
    }
    const uint8_t endless[] = {0x03, 0x80, 0x80, 0x80, 0x80, 0x01};
    uint8_t tag = 0;
    uint32_t size = 0;
    size_t header = 0;
    EXPECT_FALSE(ReadDescriptorHeader(endless, sizeof endless, tag, size, header));
}

TEST(Mp4Descriptors, EsDescriptorWithAnAvcRecordOver128Bytes) {
    AvcRecord rec;
    rec.profile = 100;
    rec.level = 30;
    rec.sps.push_back(std::vector<uint8_t>(150, 0x67));
    rec.pps.push_back({0x68, 0xEE, 0x3C, 0x80});
    EsDescriptor es;
    es.esId = 0x101;
    es.streamDependenceFlag = 1;
    es.dependsOnEsId = 0x0102;
    es.ocrStreamFlag = 1;
    es.ocrEsId = 101;
    es.hasDecoderConfig = true;
    es.decoderConfig.objectTypeIndication = 0x21;
    es.decoderConfig.streamType = 4;
    es.decoderConfig.bufferSizeDB = 1500000;
    es.decoderConfig.maxBitrate = 8000000;
    es.decoderConfig.specificInfo = rec.Write();
    es.slConfig.predefined = 0;
    es.slConfig.useAccessUnitStartFlag = 1;
    es.slConfig.useTimeStampsFlag = 1;
    es.slConfig.timeStampResolution = 90000;
    es.slConfig.timeStampLength = 33;
    es.slConfig.AU_seqNumLength = 5;
    std::vector<uint8_t> out(3, 0xEE);  // bytes before it stay as they are
    es.Append(out);
    EXPECT_EQ(out[3], kEsDescriptorTag);
    EXPECT_EQ(out[4] & 0x80, 0x80) << "a body over 127 bytes has a two-byte size";
    EXPECT_EQ(out[9], 0x01);
    EXPECT_EQ(out[10], 0x02) << "dependsOn_ES_ID is written";

    EsDescriptor back;
    size_t used = 0;
    ASSERT_TRUE(back.Parse(out.data() + 3, out.size() - 3, used));
    EXPECT_EQ(used, out.size() - 3);
    EXPECT_EQ(back.esId, 0x101);
    EXPECT_EQ(back.dependsOnEsId, 0x0102);
    EXPECT_EQ(back.ocrEsId, 101);
    ASSERT_TRUE(back.hasDecoderConfig);
    EXPECT_EQ(back.decoderConfig.bufferSizeDB, 1500000u);
    EXPECT_EQ(back.decoderConfig.maxBitrate, 8000000u);
    AvcRecord rb;
    ASSERT_TRUE(rb.Parse(back.decoderConfig.specificInfo.data(), back.decoderConfig.specificInfo.size()));
    EXPECT_EQ(rb.sps, rec.sps);
    EXPECT_EQ(rb.pps, rec.pps);
    EXPECT_EQ(back.slConfig.timeStampResolution, 90000u);
    EXPECT_EQ(back.slConfig.timeStampLength, 33);
    EXPECT_EQ(back.slConfig.AU_seqNumLength, 5);
    EXPECT_EQ(back.slConfig.useAccessUnitStartFlag, 1);

    // Cut anywhere, it is refused rather than read past its end.
    for (size_t cut = 4; cut < out.size(); cut += 7) EXPECT_FALSE(back.Parse(out.data() + 3, cut - 3, used)) << cut;
}

TEST(Mp4Descriptors, PredefinedSlConfigurations) {
    const uint8_t one[] = {0x03, 0x06, 0x00, 0x01, 0x00, 0x06, 0x01, 0x01};
    EsDescriptor es;
    size_t used = 0;
    ASSERT_TRUE(es.Parse(one, sizeof one, used));
    EXPECT_EQ(es.slConfig.timeStampResolution, 1000u);
    EXPECT_EQ(es.slConfig.timeStampLength, 32);
    EXPECT_EQ(es.slConfig.useTimeStampsFlag, 0);
}
