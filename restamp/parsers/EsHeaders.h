// Header decoders and format tests of the elementary streams that are only
// detected so far: H.264, MPEG-4 Part 2 video, ADTS AAC, DVD LPCM and AES3.
#pragma once

#include "restamp/parsers/BSParser.h"

#include <vector>

namespace MH264 {

// Values the slice header needs from the parameter sets.
struct CH264SharedParams {
    uint32_t log2MaxFrameNumMinus4 = 0;
    uint8_t picOrderCntType = 0;
    uint32_t log2MaxPicOrderCntLsbMinus4 = 0;
    uint32_t deltaPicOrderAlwaysZeroFlag = 0;
    uint32_t frameMbsOnlyFlag = 0;
    uint8_t entropyCodingModeFlag = 0;
    uint32_t bottomFieldPicOrderInFramePresentFlag = 0;
    uint32_t numSliceGroupsMinus1 = 0;
    uint32_t sliceGroupMapType = 0;
    uint32_t separateColourPlaneFlag = 0;
    bool seen = false;
};

// Each Parse gets the NAL unit from its header byte on.
class CH264SeqParamSet {
public:
    bool Parse(const uint8_t* nal, uint32_t len, CH264SharedParams& sp);
    uint8_t profileIdc = 0, levelIdc = 0;
    uint32_t spsId = 0, chromaFormatIdc = 1;
    uint32_t picWidthInMbsMinus1 = 0, picHeightInMapUnitsMinus1 = 0;
    bool valid = false;
};

class CH264PicParamSet {
public:
    bool Parse(const uint8_t* nal, uint32_t len, CH264SharedParams& sp);
    uint32_t ppsId = 0, spsId = 0;
    bool valid = false;
};

class CH264SliceStart {
public:
    bool Parse(const uint8_t* nal, uint32_t len, const CH264SharedParams& sp);
    uint32_t firstMbInSlice = 0, sliceType = 0, ppsId = 0, frameNum = 0;
    bool valid = false;
};

// Detection record of an H.264 byte stream.
class DetectH264 {
public:
    int Detect(const uint8_t* d, uint32_t len);
    CH264SharedParams shared;
    CH264SeqParamSet sps;
    CH264PicParamSet pps;
    CH264SliceStart slice;
    std::vector<uint8_t> paramCopy;  // SPS to the start code after the PPS
    uint32_t spsPosition = 0;
    uint32_t resume = 0;
};

}  // namespace MH264

namespace DIVX {

class CMPEG4VidObjLayer {
public:
    bool Parse(const uint8_t* d, uint32_t len);  // from the start code
    uint32_t objectType = 0, timeIncrementResolution = 0, shape = 0;
    bool valid = false;
};

class CMPEG4VidObjPlane {
public:
    bool Parse(const uint8_t* d, uint32_t len);
    uint32_t codingType = 0;
    bool valid = false;
};

class DetectDiv4Stream {
public:
    int Detect(const uint8_t* d, uint32_t len);
    CMPEG4VidObjLayer vol;
    CMPEG4VidObjPlane vop;
    std::vector<uint8_t> volCopy;
    uint32_t volPosition = 0;
    uint32_t resume = 0;
};

}  // namespace DIVX

namespace AAC {

class CAACHeader : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { valid = 0; }
    bool IsValid() const override { return valid != 0; }
    uint32_t id = 0, layer = 0, protectionAbsent = 0, profile = 0;
    uint8_t samplingFrequencyIndex = 0;
    uint32_t channelConfiguration = 0, frameLength = 0, bufferFullness = 0, rawDataBlocks = 0;
    uint32_t sampleRate = 0, channels = 0, duration = 0;
    uint32_t valid = 0;
};

class DetectAACStream {
public:
    int Detect(const uint8_t* d, uint32_t len);
    CAACHeader header;
    uint32_t resume = 0;
    std::vector<uint8_t> firstFrame;
};

}  // namespace AAC

namespace LPCM {

class CLPCMHeader : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { valid = 0; }
    bool IsValid() const override { return valid != 0; }
    uint8_t numberOfFrameHeaders = 0;
    uint16_t firstAccessUnitPointer = 0;
    uint32_t emphasis = 0, mute = 0;
    uint8_t frameNumber = 0, quantizationCode = 0, samplingFrequencyCode = 0, channelCode = 0, dynamicRangeControl = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
    uint32_t duration = 0;
    uint32_t valid = 0;
};

}  // namespace LPCM

namespace AES3 {

class CAES3Header : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CAES3Header(); }
    bool IsValid() const override { return valid != 0; }
    uint16_t audioPacketSize = 0;
    uint8_t numberChannels = 0, channelIdentification = 0, bitsPerSample = 0, alignmentBits = 0;
    uint8_t channels = 0, sampleSize = 0;
    uint32_t valid = 0;
};

}  // namespace AES3
