// MPEG-1/MPEG-2 video elementary streams: headers, scanner, handler, the
// elementary-stream element, the bare-stream dispatcher and the detector.
#pragma once

#include "restamp/parsers/BSParser.h"

#include <vector>

namespace MVideo {

// Every Parse gets the bytes from the start code's first byte on.
class CSeqHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CSeqHdr(); }
    bool IsValid() const override { return valid; }
    uint32_t horizontalSizeValue = 0, horizontalSize = 0;
    uint32_t verticalSizeValue = 0, verticalSize = 0;
    uint32_t bitRateValue = 0;
    uint8_t aspectRatioCode = 0, frameRateCode = 0;
    double pixelAspectRatio = 0, frameRate = 0;
    uint32_t frameDuration = 0;  // 100-ns units
    uint32_t bitRate = 0;        // bit/s
    bool valid = false;
};

class CSequenceExt : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CSequenceExt(); }
    bool IsValid() const override { return valid; }
    uint32_t profile = 0, level = 0, progressiveSequence = 0, chromaFormat = 0;
    uint8_t horizontalSizeExtension = 0, verticalSizeExtension = 0;
    bool valid = false;
};

class CGopHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CGopHdr(); }
    bool IsValid() const override { return valid; }
    uint8_t hours = 0, minutes = 0, seconds = 0, pictures = 0;
    int64_t timeCode = 0;  // whole seconds
    uint32_t dropFrameFlag = 0, closedGop = 0, brokenLink = 0;
    bool valid = false;
};

class CPictHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CPictHdr(); }
    bool IsValid() const override { return valid; }
    uint32_t temporalReference = 0, codingType = 0, vbvDelay = 0;
    bool valid = false;
};

class CPictCodingExt : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CPictCodingExt(); }
    bool IsValid() const override { return valid; }
    uint8_t fCode[2][2] = {{0, 0}, {0, 0}};
    uint8_t intraDcPrecision = 0, pictureStructure = 0;
    uint32_t topFieldFirst = 0, framePredFrameDct = 0, concealmentMotionVectors = 0, qScaleType = 0, intraVlcFormat = 0,
             alternateScan = 0, repeatFirstField = 0, chroma420Type = 0, progressiveFrame = 0, compositeDisplayFlag = 0;
    bool valid = false;
};

// Headers that are only recognised.
template <uint8_t Code, int ExtId>
class CMarkerHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override {
        valid = false;
        if (len < 5 || d[0] || d[1] || d[2] != 1 || d[3] != Code) return false;
        if (ExtId >= 0 && (d[4] >> 4) != ExtId) return false;
        return valid = true;
    }
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    bool valid = false;
};
using CSeqDisplayExt = CMarkerHdr<0xB5, 2>;
using CQuantMatrixExt = CMarkerHdr<0xB5, 3>;
using CSeqScalableExt = CMarkerHdr<0xB5, 5>;
using CPictDisplayExt = CMarkerHdr<0xB5, 7>;
using CSpatalScalExt = CMarkerHdr<0xB5, 9>;
using CTempScalExt = CMarkerHdr<0xB5, 10>;
using CUserData = CMarkerHdr<0xB2, -1>;

class CSliceHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override {
        valid = len >= 4 && !d[0] && !d[1] && d[2] == 1 && d[3] >= 0x01 && d[3] <= 0xAF;
        return valid;
    }
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    bool valid = false;
};

class CMacroBlockHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t*, uint32_t) override { return false; }
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    bool valid = false;
};

// Detection record of an MPEG video stream (also the type part of the
// elementary stream).
class DetectVideoStream {
public:
    DetectVideoStream() = default;
    DetectVideoStream(const DetectVideoStream& o) = default;
    DetectVideoStream& operator=(const DetectVideoStream& o) = default;
    void ResetRecord();
    // 1 when the block holds a sequence header followed by an I or P picture.
    int Detect(const uint8_t* d, uint32_t len);

    CSeqHdr seqHdr;
    CSequenceExt seqExt;
    uint32_t codedWidth = 0, codedHeight = 0;
    uint32_t runPosition = 0, runLength = 0;  // sequence-header run in the block
    std::vector<uint8_t> runCopy;
    uint32_t found = 0;
    uint8_t topFieldFirst = 1;
    uint32_t resume = 0;  // where a later search may start
};

class CVideoParserImpl : public BS::CStartCodeScanner<11> {};

class CVideoParserHandlerImpl {
public:
    virtual ~CVideoParserHandlerImpl() = default;
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail);
    BS::CBaseEvent* GetEvent() { return last_; }
    void ResetHandler() {}

    CSeqHdr seqHdr;
    CSequenceExt seqExt;
    CSeqDisplayExt seqDisplayExt;
    CUserData userData;
    CSeqScalableExt seqScalableExt;
    CSpatalScalExt spatalScalExt;
    CTempScalExt tempScalExt;
    CGopHdr gopHdr;
    CPictHdr pictHdr;
    CPictDisplayExt pictDisplayExt;
    CPictCodingExt pictCodingExt;
    CQuantMatrixExt quantMatrixExt;
    CSliceHdr sliceHdr;

    BS::CParserEvent<CSeqHdr> evSeqHdr;
    BS::CParserEvent<CSequenceExt> evSeqExt;
    BS::CParserEvent<CSeqDisplayExt> evSeqDisplayExt;
    BS::CParserEvent<CUserData> evUserData;
    BS::CParserEvent<CSeqScalableExt> evSeqScalableExt;
    BS::CParserEvent<CSpatalScalExt> evSpatalScalExt;
    BS::CParserEvent<CTempScalExt> evTempScalExt;
    BS::CParserEvent<CGopHdr> evGopHdr;
    BS::CParserEvent<CPictHdr> evPictHdr;
    BS::CParserEvent<CPictDisplayExt> evPictDisplayExt;
    BS::CParserEvent<CPictCodingExt> evPictCodingExt;
    BS::CParserEvent<CQuantMatrixExt> evQuantMatrixExt;
    BS::CParserEvent<CSliceHdr> evSliceHdr;

protected:
    BS::CBaseEvent* last_ = nullptr;
};

class CVEStreamType : public BS::CBaseType {
public:
    CVEStreamType() : BS::CBaseType("VideoElementaryStream") {}
    DetectVideoStream detect;
};

// State codes: 1 sequence header, 2 sequence extension, 3 sequence display
// extension, 4 user data, 5 picture coding extension, 6 picture display
// extension, 7 quant matrix extension, 8 sequence scalable, 9 spatial
// scalable, 10 temporal scalable, 11 GOP, 12 picture, 13 slice.
class CVEStream : public BS::CBaseStream<BS::CBaseState, CVEStreamType> {
public:
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t, const uint8_t*, uint32_t, BS::ParserControl*, uint32_t) override { return 1; }

protected:
    uint32_t Raise(uint32_t code, const BS::CBaseEvent& ev) {
        SetState(code, &ev);
        NotifyStateChange();
        return 1;
    }
};

class CVideoDispatcher : public BS::CBaseWrapperStream<BS::CBaseState, BS::CBaseType> {
public:
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    CVEStream* CreateVEStream(const DetectVideoStream* det);
    void AttachVEStream(CVEStream* s);
    CVEStream* GetVEStream() { return dynamic_cast<CVEStream*>(wrapped); }
    virtual CVEStream* NewVEStream(const DetectVideoStream*) { return BS::New<CVEStream>(); }
};

}  // namespace MVideo
