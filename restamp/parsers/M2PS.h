// MPEG-2 program streams: pack, system and PES headers, the container
// element with its sub-stream maps, PES stream elements, the PES stream
// detector and the program-stream format tests.
#pragma once

#include "restamp/parsers/StreamDetector.h"

#include <map>

namespace M2PS {

class CPackHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CPackHdr(); }
    bool IsValid() const override { return valid; }
    uint64_t scr = 0;  // system_clock_reference_base, 33 bits
    uint32_t programMuxRate = 0;
    uint32_t muxRateBytes = 0;  // bytes per second
    bool valid = false;
};

class CSysHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CSysHdr(); }
    bool IsValid() const override { return valid; }
    uint32_t headerLength = 0, rateBound = 0, rate = 0, audioBound = 0;
    uint32_t fixedFlag = 0, cspsFlag = 0, audioLockFlag = 0, videoLockFlag = 0;
    uint32_t videoBound = 0, packetRateRestrictionFlag = 0;
    std::vector<uint32_t> streamIds;
    bool valid = false;
};

class CPESPacketHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CPESPacketHdr(); }
    bool IsValid() const override { return valid; }
    uint8_t streamId = 0;
    uint32_t packetLength = 0;
    uint32_t priority = 0, dataAlignment = 0, copyright = 0, originalOrCopy = 0, extensionFlag = 0;
    uint32_t ptsDtsFlags = 0;
    uint32_t ptsValid = 0, dtsValid = 0;
    uint64_t pts = 0, dts = 0;  // 33-bit, 90 kHz
    uint16_t headerDataLength = 0;
    uint16_t payloadOffset = 0;
    uint8_t subStreamId = 0;
    bool valid = false;
};

using PackEvent = BS::CParserEvent<CPackHdr>;
using SysEvent = BS::CParserEvent<CSysHdr>;
using PESEvent = BS::CParserEvent<CPESPacketHdr>;

class CPSParserImpl : public BS::CStartCodeScanner<35> {};

class CPSParserHandlerImpl {
public:
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail);
    BS::CBaseEvent* GetEvent() { return last_; }
    void ResetHandler() {}
    CPackHdr pack;
    CPESPacketHdr pes;
    CSysHdr sys;
    PackEvent evPack;
    PESEvent evPes;
    SysEvent evSys;

private:
    BS::CBaseEvent* last_ = nullptr;
};

// Program-stream format tests.
class DetectPS {
public:
    int DetectProgramStream(const uint8_t* d, uint32_t len);
    int DetectProgramStreamPES(const uint8_t* d, uint32_t len);
    uint32_t programMuxRate = 0, muxRateBytes = 0;
};

// PES stream elements -------------------------------------------------------

class CPEStreamType : public BS::CBaseType {
public:
    explicit CPEStreamType(const CStreamKey& k);
    CStreamKey key;
    uint32_t typeCode = 5;  // index into PesStreamTypeName
};

class CPEStream : public BS::CBaseWrapperStream<BS::CBaseState, CPEStreamType> {
    using Base = BS::CBaseWrapperStream<BS::CBaseState, CPEStreamType>;

public:
    explicit CPEStream(const CStreamKey& k) : Base(k), unbounded(k.byPid != 0) {}

    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    virtual uint32_t OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl);
    uint32_t RemainingInPacket() const { return workRemaining; }
    const CStreamKey& Key() const { return key; }

    // Offset of the next PES start or MPEG-2 pack header; 0xFFFFFFFF none.
    static uint32_t FindNextPacketStart(const uint8_t* d, uint32_t len);

    bool unbounded;
    // Bytes the last call handed on (taken from the data in hand).
    uint32_t lastTaken = 0;
};

class CProgramStream;

class CPEStreamDetector : public CPEStream, public BSUtils::CStreamDetector {
public:
    CPEStreamDetector(const CStreamKey& k, CProgramStream* owner)
        : CPEStream(k), BSUtils::CStreamDetector(k), owner_(owner) {}
    uint32_t OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    // Ends detection: makes the elements of what was found.
    virtual uint32_t CreateStreams();
    bool DetectFinal(bool final) { return BSUtils::CStreamDetector::Detect(final); }

protected:
    CProgramStream* owner_;
};

// A PES element with an elementary-stream parser behind it.
template <class Tmpl, uint32_t TypeCode>
class CPESWithParser : public CPEStream {
public:
    explicit CPESWithParser(const CStreamKey& k) : CPEStream(k) {}
    uint32_t OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl) override {
        CPEStream::OnPESPacketHdr(ev, ctl);
        if (!wrapped) CreateSubElement(&ev);
        if (!wrapped) return 1;
        const uint32_t p = ev.header->payloadOffset;
        if (lastTaken > p) tmpl.Parse(ev.position + p, ev.data + p, lastTaken - p, 0);
        return 1;
    }
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override {
        if (!CPEStream::OnData(pos, d, len, ctl, flag)) return 0;
        if (wrapped && lastLen) tmpl.Parse(payload.position, lastPtr, lastLen, flag);
        return 1;
    }
    BS::AStreamElement* CreateSubElement(const BS::CBaseEvent*) override {
        wrapped = tmpl.GetStream();
        AddChild(wrapped);
        SetState(2, nullptr);
        NotifyStateChange();
        return wrapped;
    }
    void Activate() override {
        if (TypeCode != 0xFFFFFFFFu) typeCode = TypeCode;
        if (wrapped) {
            SetState(2, nullptr);
            NotifyStateChange();
        } else
            CreateSubElement(nullptr);
    }
    void Reset() override { tmpl.Reset(); }
    Tmpl tmpl;
};

using CPESVideo = CPESWithParser<
    BS::CParserTemplateImplEx<MVideo::CVideoParserImpl, MVideo::CVideoParserHandlerImpl, MVideo::CVEStream>,
    0xFFFFFFFFu>;
using CPESAudio = CPESWithParser<
    BS::CParserTemplateImplEx<MAudio::CAudioParserImpl, MAudio::CAudioParserHandlerImpl, MAudio::CAEStream>,
    0xFFFFFFFFu>;
using CPESAC3 =
    CPESWithParser<BS::CParserTemplateImplEx<AC3::CAC3ParserImpl, AC3::CAC3ParserHandlerImpl, AC3::CAC3Stream>, 6>;

// Container ------------------------------------------------------------------

class CProgramStreamState : public BS::CBaseState {
public:
    void ResetState() override {
        BS::CBaseState::ResetState();
        current = nullptr;
    }
    std::map<CStreamKey, CPEStream*> active;
    std::map<CStreamKey, CPEStreamDetector*> detectors;
    CPEStream* current = nullptr;
};

// State codes: 1 sub-stream identified, 2 pack header, 3 system header,
// 4 current sub-stream changed.
class CProgramStream : public BS::CBaseWrapperStream<CProgramStreamState, BS::CBaseType> {
public:
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    BS::AStreamElement* GetSubElement() override { return current; }
    void RemoveChild(BS::AStreamElement* c) override;

    virtual uint32_t ProgramNumber() const { return 0; }
    virtual void AdjustKey(CStreamKey&) {}
    virtual bool DetectSubStreams(bool final);
    virtual void FinishDetection();
    virtual void AddSubStream(CPEStream* e);
    virtual bool IsMediaStreamId(uint8_t sid) const {
        return (sid >= 0xC0 && sid <= 0xEF) || sid == 0xBD || sid == 0xFA;
    }
    virtual uint32_t OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl);
    virtual uint32_t OnPackHdr(const PackEvent& ev);
    virtual uint32_t OnSysHdr(const SysEvent& ev);
    virtual CPEStream* CreateSubStream(const PESEvent& ev, const CStreamKey& key);

    static uint32_t FamilyOf(uint8_t sid) {
        if (sid >= 0xE0 && sid <= 0xEF) return kFormatMpegVideo;
        if (sid >= 0xC0 && sid <= 0xDF) return kFormatMpegAudio;
        if (sid == 0xBD) return kFormatSubStreams;
        return kFormatUnknown;
    }

protected:
    void MakeCurrent(CPEStream* e, bool notify);
};

}  // namespace M2PS
