// Elements of the elementary streams that program-stream detection finds
// besides MPEG audio, MPEG video and AC-3: ADTS AAC frames, DVD LPCM,
// subpicture and AES3 packets (one header at the start of each PES payload),
// H.264 and MPEG-4 Part 2 video; and the PES elements that carry them.
#pragma once

#include "restamp/parsers/M2PS.h"
#include "restamp/parsers/MH264.h"

#include "codec/common/Mpeg4VideoHeaders.h"

namespace AAC {

inline uint32_t FrameLengthOf(const CAACHeader& h) {
    return h.frameLength;
}

// The 12-bit ADTS syncword with more than 10 bytes from it.
class CAACParserImpl : public BS::CScannerBase {
public:
    const uint8_t* FindNext();
};
using CAACParserHandlerImpl = MAudio::CFrameHandler<CAACHeader>;

class CAACStreamType : public BS::CBaseType {
public:
    CAACStreamType() : BS::CBaseType("AAC_Stream") {}
    DetectAACStream detect;
};

// State 1 with the event of each frame; the frame is stepped over whole.
class CAACStream : public MAudio::CFrameStream<CAACHeader, CAACStreamType> {
public:
    uint32_t OnData(uint64_t, const uint8_t*, uint32_t, BS::ParserControl*, uint32_t) override { return 1; }
};

}  // namespace AAC

namespace SUBP {

// The start of a DVD subpicture unit: sub-stream id 0x20..0x3F and the
// unit's size.
class CSUBPHeader : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { valid = 0; }
    bool IsValid() const override { return valid != 0; }
    uint32_t unitSize = 0;
    uint32_t valid = 0;
};

}  // namespace SUBP

namespace M2PS {

// Stream of a PES stream that carries one header at the start of each
// packet's payload: state 1 with the header's event.
template <class Hdr>
class CHeaderStream : public BS::CBaseStream<BS::CBaseState, BS::CBaseType> {
public:
    explicit CHeaderStream(const char* typeName) : BS::CBaseStream<BS::CBaseState, BS::CBaseType>(typeName) {}
    uint32_t OnEvent(const BS::CBaseEvent& e, BS::ParserControl*) override {
        SetState(0, nullptr);
        if (!BS::EventAs<Hdr>(e)) return 0;
        SetState(1, &e);
        NotifyStateChange();
        return 1;
    }
    uint32_t OnData(uint64_t, const uint8_t*, uint32_t, BS::ParserControl*, uint32_t) override { return 1; }
    Hdr format;  // what detection found, when it was given
};

// The PES element of such a stream: the payload's header goes to the stream
// before the stream is linked; the packet's bytes are published by the PES
// element itself.
template <class Hdr, uint32_t TypeCode>
class CPESWithHeader : public CPEStream {
public:
    CPESWithHeader(const CStreamKey& k, const char* typeName, const Hdr* format = nullptr)
        : CPEStream(k), stream(typeName) {
        if (format) stream.format = *format;
    }
    ~CPESWithHeader() override {
        if (wrapped) RemoveChild(wrapped);
        stream.Release();
    }
    uint32_t OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl) override {
        CPEStream::OnPESPacketHdr(ev, ctl);
        const uint32_t p = ev.header->payloadOffset;
        if (lastTaken > p && header.Parse(ev.data + p, lastTaken - p)) {
            event.Set(&header, ev.position + p, ev.data + p, lastTaken - p, 0);
            BS::ParserControl none;
            stream.OnEvent(event, &none);
        }
        if (!wrapped) CreateSubElement(&ev);
        return 1;
    }
    BS::AStreamElement* CreateSubElement(const BS::CBaseEvent*) override {
        wrapped = &stream;
        AddChild(wrapped);
        SetState(2, nullptr);
        NotifyStateChange();
        return wrapped;
    }
    void Activate() override {
        typeCode = TypeCode;
        if (wrapped) {
            SetState(2, nullptr);
            NotifyStateChange();
        } else
            CreateSubElement(nullptr);
    }
    Hdr header;
    BS::CParserEvent<Hdr> event;
    CHeaderStream<Hdr> stream;
};

class CPESLpcm : public CPESWithHeader<LPCM::CLPCMHeader, 8> {
public:
    CPESLpcm(const CStreamKey& k, const LPCM::CLPCMHeader* f) : CPESWithHeader(k, "AudioElementaryStream", f) {}
};
class CPESSubPicture : public CPESWithHeader<SUBP::CSUBPHeader, 10> {
public:
    explicit CPESSubPicture(const CStreamKey& k) : CPESWithHeader(k, "SubpictureElementaryStream") {}
};
class CPESAes3 : public CPESWithHeader<AES3::CAES3Header, 14> {
public:
    explicit CPESAes3(const CStreamKey& k) : CPESWithHeader(k, "AES3ElementaryStream") {}
};

using CPESAAC =
    CPESWithParser<BS::CParserTemplateImplEx<AAC::CAACParserImpl, AAC::CAACParserHandlerImpl, AAC::CAACStream>, 11>;

// H.264 in PES packets; the SL form is made without a detector.
class CPESH264
    : public CPESWithParser<
          BS::CParserTemplateImplEx<MH264::CH264ParserImpl, MH264::CH264ParserHandlerImpl, MH264::CH264Stream>, 9> {
public:
    CPESH264(const CStreamKey& k, const MH264::DetectH264* det) : CPESWithParser(k) {
        if (!det) return;
        tmpl.stream.detect = *det;
        tmpl.stream.detected = true;
    }
};

}  // namespace M2PS

namespace DIVX {

// MPEG-4 Part 2 visual headers, each from its start code on, over the shared
// decoders.
template <uint8_t First, uint8_t Last>
class CStartCodeHdr : public BS::AHeader {
public:
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    bool valid = false;

protected:
    static bool Starts(const uint8_t* d, uint32_t len) {
        return len >= 4 && !d[0] && !d[1] && d[2] == 1 && d[3] >= First && d[3] <= Last;
    }
};

class CVolHdr : public CStartCodeHdr<MpegCommon::mpeg4::kFirstVol, MpegCommon::mpeg4::kLastVol> {
public:
    // A time-increment resolution of 0 is refused (14496-2 forbids it).
    bool Parse(const uint8_t* d, uint32_t len) override;
    MpegCommon::mpeg4::Vol vol;
};

class CVopHdr : public CStartCodeHdr<MpegCommon::mpeg4::kVop, MpegCommon::mpeg4::kVop> {
public:
    explicit CVopHdr(const CVolHdr* v = nullptr) : vol(v) {}
    bool Parse(const uint8_t* d, uint32_t len) override;
    MpegCommon::mpeg4::Vop vop;
    // The coding type, or 4 for a VOP that is not coded.
    uint8_t CodingValue() const { return vop.vop_coded ? uint8_t(vop.vop_coding_type) : 4; }
    const CVolHdr* vol;
};

class CGovHdr : public CStartCodeHdr<MpegCommon::mpeg4::kGroupOfVop, MpegCommon::mpeg4::kGroupOfVop> {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    MpegCommon::mpeg4::Gov gov;
};

// Recognised only.
template <uint8_t Code>
class CMarkerHdr : public CStartCodeHdr<Code, Code> {
public:
    bool Parse(const uint8_t* d, uint32_t len) override { return this->valid = this->Starts(d, len); }
};
using CVOSeqStartHdr = CMarkerHdr<0xB0>;
using CVOSeqEndHdr = CMarkerHdr<0xB1>;
using CUserDataHdr = CMarkerHdr<0xB2>;
using CVisObjHdr = CMarkerHdr<0xB5>;

class CDIVXParserImpl : public BS::CStartCodeScanner<11> {};

class CDIVXParserHandlerImpl {
public:
    CDIVXParserHandlerImpl() : vop(&vol) {}
    CDIVXParserHandlerImpl(const CDIVXParserHandlerImpl&) = delete;
    CDIVXParserHandlerImpl& operator=(const CDIVXParserHandlerImpl&) = delete;
    virtual ~CDIVXParserHandlerImpl() = default;
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail);
    BS::CBaseEvent* GetEvent() { return last_; }
    void ResetHandler() {}

    CVolHdr vol;
    CVopHdr vop;
    CVOSeqStartHdr seqStart;
    CVOSeqEndHdr seqEnd;
    CVisObjHdr visObj;
    CGovHdr gov;
    CUserDataHdr userData;
    BS::CParserEvent<CVolHdr> evVol;
    BS::CParserEvent<CVopHdr> evVop;
    BS::CParserEvent<CVOSeqStartHdr> evSeqStart;
    BS::CParserEvent<CVOSeqEndHdr> evSeqEnd;
    BS::CParserEvent<CVisObjHdr> evVisObj;
    BS::CParserEvent<CGovHdr> evGov;
    BS::CParserEvent<CUserDataHdr> evUserData;

private:
    BS::CBaseEvent* last_ = nullptr;
};

class CDIVXStreamType : public BS::CBaseType {
public:
    CDIVXStreamType() : BS::CBaseType("DIVX_VideoElementaryStream") {}
    DetectDiv4Stream detect;
};

// State codes: 1 VOL, 2 VOP, 3 sequence start, 4 sequence end, 5 visual
// object, 6 GOV, 7 user data; the payload is the event.
class CDIVXStream : public BS::CBaseStream<BS::CBaseState, CDIVXStreamType> {
public:
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t, const uint8_t*, uint32_t, BS::ParserControl*, uint32_t) override { return 1; }
};

}  // namespace DIVX

namespace M2PS {

class CPESDiv4
    : public CPESWithParser<
          BS::CParserTemplateImplEx<DIVX::CDIVXParserImpl, DIVX::CDIVXParserHandlerImpl, DIVX::CDIVXStream>, 12> {
public:
    CPESDiv4(const CStreamKey& k, const DIVX::DetectDiv4Stream* det) : CPESWithParser(k) {
        if (det) tmpl.stream.detect = *det;
    }
};

}  // namespace M2PS
