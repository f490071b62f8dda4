// PVA: "AV" packets of one MPEG video stream (PTS in the packet header) and
// one MPEG audio stream (PES packets in the payload). The container element,
// a detector per kind while detection runs, and the payload streams.
#pragma once

#include "restamp/parsers/M2PS.h"

#include <map>

namespace PVA {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kPtsSize = 4;

enum Kind : uint32_t { kVideo = 0, kAudio = 1, kOther = 2 };

class CAVHeader : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CAVHeader(); }
    bool IsValid() const override { return valid; }
    uint32_t HeaderSize() const { return kind == kVideo && ptsFlag ? kHeaderSize + kPtsSize : kHeaderSize; }
    uint32_t PayloadLength() const {
        const uint32_t extra = HeaderSize() - kHeaderSize;
        return length > extra ? length - extra : 0;
    }
    uint32_t PacketSize() const { return length + kHeaderSize; }

    uint32_t kind = kOther;
    uint8_t counter = 0, flags = 0;
    uint16_t length = 0;
    uint64_t pts = 0;
    uint32_t ptsFlag = 0;
    uint8_t preBytes = 0, postBytes = 0;
    bool valid = false;
};

using AVEvent = BS::CParserEvent<CAVHeader>;

// "AV" with at least 8 bytes from it.
class CPVAParserImpl : public BS::CScannerBase {
public:
    const uint8_t* FindNext();
};

class CPVAParserHandlerImpl {
public:
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
        if (!hdr.Parse(d, avail)) return false;
        ev.Set(&hdr, pos, d, avail, 0);
        return true;
    }
    BS::CBaseEvent* GetEvent() { return &ev; }
    void ResetHandler() {}
    CAVHeader hdr;
    AVEvent ev;
};

// Payload streams -------------------------------------------------------------

class CPVAESStreamType : public BS::CBaseType {
public:
    explicit CPVAESStreamType(const CStreamKey& k) : BS::CBaseType("PVADispatcher"), key(k) {}
    CStreamKey key;
};

// State codes: 1 packet header, 2 element linked, 3 payload run.
class CPVAESStream : public BS::CBaseWrapperStream<BS::CBaseState, CPVAESStreamType> {
    using Base = BS::CBaseWrapperStream<BS::CBaseState, CPVAESStreamType>;

public:
    explicit CPVAESStream(const CStreamKey& k) : Base(k) {}
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    virtual uint32_t OnAVHeader(const AVEvent& ev, BS::ParserControl* ctl);
    const CStreamKey& Key() const { return key; }

protected:
    uint32_t taken_ = 0;  // bytes of the packet in the last header event
};

class CPVAStream;

class CPVAStreamDetector : public CPVAESStream, public BSUtils::CStreamDetector {
public:
    CPVAStreamDetector(const CStreamKey& k, CPVAStream* owner)
        : CPVAESStream(k), BSUtils::CStreamDetector(k), owner_(owner) {}
    uint32_t OnAVHeader(const AVEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    // Ends detection: the payload stream of what was found.
    virtual uint32_t CreateStreams();
    bool DetectFinal(bool final) { return BSUtils::CStreamDetector::Detect(final); }

protected:
    CPVAStream* owner_;
};

// The audio payload: a PES header at its start (PTS flag set) whose length is
// passed over; *hdr gets it. Returns the header's size, 0 when none.
uint32_t ParseAudioPes(const CAVHeader& h, const uint8_t* payload, uint32_t len, M2PS::CPESPacketHdr* hdr);

// Container --------------------------------------------------------------------

class CPVAStreamState : public BS::CBaseState {
public:
    void ResetState() override {
        BS::CBaseState::ResetState();
        current = nullptr;
    }
    std::map<CStreamKey, CPVAESStream*> active;
    std::map<CStreamKey, CPVAStreamDetector*> detectors;
    CPVAESStream* current = nullptr;
};

// State codes: 1 payload stream added, 2 PVA header, 3 current sub-stream changed.
// Every parsed header makes the parse step over its whole packet, whoever takes it.
class CPVAStream : public BS::CBaseWrapperStream<CPVAStreamState, BS::CBaseType> {
public:
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    BS::AStreamElement* GetSubElement() override { return current; }
    void RemoveChild(BS::AStreamElement* c) override;
    void Reset() override {
        skipRemaining_ = 0;
        BS::CBaseWrapperStream<CPVAStreamState, BS::CBaseType>::Reset();
    }

    virtual bool DetectSubStreams(bool final);
    virtual void AddSubStream(CPVAESStream* e);
    virtual void FinishDetection();
    virtual uint32_t OnAVHeader(const AVEvent& ev, BS::ParserControl* ctl);
    virtual CPVAESStream* CreateSubStream(const AVEvent& ev, const CStreamKey& key);

protected:
    void MakeCurrent(CPVAESStream* e, bool notify);
    uint32_t skipRemaining_ = 0;  // bytes of a packet nobody took, beyond the last call
};

}  // namespace PVA

// PVA test: a chain of "AV" packets that runs up to the end of the data.
int DetectPVAStream(const uint8_t* d, uint32_t len);
