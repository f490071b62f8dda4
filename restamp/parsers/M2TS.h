// MPEG-2 transport streams: packet headers and the sync scan, PAT and PMT
// sections (assembled across packets), the transport-stream element and the
// PID elements that run the program-stream machinery over one PID's PES
// packets. Per-packet work is array lookups by PID.
#pragma once

#include "restamp/parsers/M2PS.h"
#include "restamp/parsers/Mpeg4Systems.h"

#include <array>
#include <map>
#include <vector>

namespace M2TS {

constexpr uint32_t kPacketSize = 188;
constexpr uint32_t kPacketSize204 = 204;
constexpr uint8_t kSyncByte = 0x47;
constexpr uint32_t kPidCount = 8192;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr uint16_t kFirstElementaryPid = 0x0010;
// MPEG-4 systems stream types: SL packets in PES packets, in sections.
constexpr uint8_t kSLPesStreamType = 0x12, kSLSectionStreamType = 0x13;

class CAdaptionalField : public BS::AHeader {
public:
    // d: the adaptation_field_length byte; len: bytes up to the packet's end.
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CAdaptionalField(); }
    bool IsValid() const override { return valid; }
    uint8_t length = 0;
    uint32_t discontinuity = 0, randomAccess = 0, esPriority = 0, pcrFlag = 0, opcrFlag = 0, splicingPoint = 0,
             privateData = 0, extension = 0;
    uint64_t pcrBase = 0, opcrBase = 0;
    uint32_t pcrExtension = 0, opcrExtension = 0;
    uint8_t spliceCountdown = 0, privateDataLength = 0, extensionLength = 0;
    uint8_t size = 0;  // bytes the field takes: length + 1
    bool valid = false;
};

class CTransportHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override {
        const uint32_t keep = packetSize;
        *this = CTransportHdr();
        packetSize = keep;
    }
    bool IsValid() const override { return valid; }
    bool HasPayload() const { return adaptationFieldControl == 1 || adaptationFieldControl == 3; }
    // First payload byte from the sync byte; 188 when the packet has none.
    uint32_t PayloadOffset() const {
        if (adaptationFieldControl == 1) return 4;
        if (adaptationFieldControl == 3) return 4u + af.size;
        return kPacketSize;
    }
    uint32_t errorIndicator = 0, unitStart = 0, priority = 0;
    uint16_t pid = 2;
    uint8_t scrambling = 0, adaptationFieldControl = 0, continuityCounter = 0;
    uint32_t pidClass = 2;
    uint32_t packetSize = kPacketSize;  // kept by Clear
    bool valid = false;
    CAdaptionalField af;
};

using TSEvent = BS::CParserEvent<CTransportHdr>;

// Sync scan: a 0x47 is taken when the byte one packet on is 0x47 too (or lies
// beyond the data), and then the packet phase is kept, so stray 0x47 bytes
// inside a cut packet never start a packet. A packet is offered only whole.
class CTSParserImpl : public BS::CScannerBase {
public:
    void SetData(const uint8_t* d, uint32_t len) {
        BS::CScannerBase::SetData(d, len);
        expect_ = inPhase_ ? 0 : kNone;
    }
    void ResetScanner() {
        BS::CScannerBase::ResetScanner();
        inPhase_ = false;
        expect_ = kNone;
    }
    const uint8_t* FindNext();
    uint32_t packetSize = kPacketSize;

private:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;
    uint32_t expect_ = kNone;  // where the next packet starts when in phase
    bool inPhase_ = false;     // the data ended on a packet boundary
};

class CTSParserHandlerImpl {
public:
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
        if (!hdr.Parse(d, avail)) return false;
        ev.Set(&hdr, pos, d, avail, 0);
        return true;
    }
    BS::CBaseEvent* GetEvent() { return &ev; }
    void ResetHandler() {}
    CTransportHdr hdr;
    TSEvent ev;
};

// PSI ------------------------------------------------------------------------

struct PATProgramEntry {
    uint16_t programNumber = 0, networkPid = 0, programMapPid = 0;
    bool operator==(const PATProgramEntry& o) const {
        return programNumber == o.programNumber && networkPid == o.networkPid && programMapPid == o.programMapPid;
    }
};

struct PMTElement {
    static constexpr uint32_t kInfoSize = 260;
    uint8_t streamType = 0;
    uint16_t pid = 0;
    uint8_t esInfo[kInfoSize] = {};
    uint32_t esInfoLength = 0;
};

// Common section header. Every Parse gets the section from its table_id on,
// len bytes of it in hand; nothing is read past them.
class CSection : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CSection(); }
    bool IsValid() const override { return valid; }
    // Bytes from the table_id to the end of the section, CRC included.
    uint32_t TotalLength() const { return 3u + sectionLength; }
    uint8_t tableId = 0;
    uint32_t syntaxIndicator = 0;
    uint16_t sectionLength = 0, tableIdExtension = 0;
    uint8_t version = 0;
    uint32_t currentNext = 0;
    uint8_t sectionNumber = 0, lastSectionNumber = 0;
    bool valid = false;

protected:
    static constexpr uint32_t kHeaderSize = 8;  // table_id to last_section_number
    static constexpr uint32_t kCrcSize = 4;
    // End of the section's body (before the CRC), bounded by the bytes in hand.
    uint32_t BodyEnd(uint32_t len) const;
};

class CPATSection : public CSection {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    std::vector<PATProgramEntry> entries;
};

class CPMTSection : public CSection {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    uint8_t programInfo[PMTElement::kInfoSize] = {};
    uint32_t programInfoLength = 0;
    uint16_t programNumber = 0, pcrPid = 0;
    std::vector<PMTElement> elements;
};

// Joins the sections of one PSI PID across packets (the CRC is not checked).
class CSectionAssembler {
public:
    static constexpr uint32_t kMaxSection = 4096;
    // One packet's payload; calls onSection(data, len) for each whole section.
    template <class F>
    void Feed(const uint8_t* d, uint32_t len, bool unitStart, F&& onSection);
    void Reset() {
        have_ = 0;
        need_ = 0;
        active_ = false;
    }

private:
    template <class F>
    uint32_t Take(const uint8_t* d, uint32_t len, F& onSection);
    uint8_t buf_[kMaxSection];
    uint32_t have_ = 0;
    uint32_t need_ = 0;  // 0 until the 3 bytes with section_length are in
    bool active_ = false;
};

bool IsSupportedStreamType(uint8_t streamType);

// PID elements ----------------------------------------------------------------

class CTransportStream;

class CProgramElement {
public:
    virtual ~CProgramElement() = default;
    virtual uint32_t OnPacket(const TSEvent& ev, bool discontinuity) = 0;
    virtual bool DetectSubStreams(bool final) = 0;
    virtual void FinishDetection() = 0;
    virtual BS::AStreamElement* GetStream() = 0;
};

// Expected-kind hint of a PID's detector: by stream_id, then by stream_type.
uint32_t FamilyOf(uint8_t streamId, uint8_t streamType);

// A PID's PES packets through a program stream keyed by the PID. A PES header
// must lie whole in the payload of the packet that starts the PES packet.
template <class ProgramStream>
class CPIDParser : public ProgramStream, public CProgramElement {
public:
    CPIDParser(uint16_t p, uint16_t program, uint8_t type) : pid(p), programNumber(program), streamType(type) {}

    uint32_t OnPacket(const TSEvent& ev, bool discontinuity) override {
        const CTransportHdr& h = *ev.header;
        if (h.pid < kFirstElementaryPid || h.pid >= kNullPid || !h.HasPayload()) return 0;
        const uint32_t off = h.PayloadOffset();
        const uint32_t end = ev.length < kPacketSize ? ev.length : kPacketSize;
        if (off >= end) return 1;
        if (waitUnitStart) {
            if (!h.unitStart) return 1;
            waitUnitStart = false;
            discontinuity = true;
        }
        const uint8_t* d = ev.data + off;
        const uint32_t len = end - off;
        if (!h.unitStart) return this->OnData(ev.position + off, d, len, &control, discontinuity);
        if (!pes.Parse(d, len) || !OnUnitStartHeader(d, len)) return 1;
        pesEvent.Set(&pes, ev.position + off, d, len, discontinuity);
        control = BS::ParserControl();
        return this->OnEvent(pesEvent, &control);
    }
    bool DetectSubStreams(bool final) override {
        return IsSupportedStreamType(streamType) ? ProgramStream::DetectSubStreams(final) : true;
    }
    void FinishDetection() override { ProgramStream::FinishDetection(); }
    BS::AStreamElement* GetStream() override { return this; }

    uint32_t ProgramNumber() const override { return programNumber; }
    void AdjustKey(CStreamKey& k) override {
        k.number = programNumber;
        k.pid = pid;
        k.byPid = 1;
    }
    bool IsMediaStreamId(uint8_t sid) const override {
        return (sid >= 0xC0 && sid <= 0xEF) || sid == 0xBD || IsSupportedStreamType(streamType);
    }
    M2PS::CPEStream* CreateSubStream(const M2PS::PESEvent& ev, const CStreamKey& key) override {
        M2PS::CPEStream* e = ProgramStream::CreateSubStream(ev, key);
        if (auto* det = dynamic_cast<M2PS::CPEStreamDetector*>(e)) det->family = FamilyOf(key.streamId, streamType);
        return e;
    }
    void Reset() override {
        waitUnitStart = true;
        control = BS::ParserControl();
        ProgramStream::Reset();
    }

    // The PES header of a unit start just read into pes; false drops the packet.
    virtual bool OnUnitStartHeader(const uint8_t*, uint32_t) { return true; }

    uint16_t pid;
    uint16_t programNumber;
    uint8_t streamType;
    bool waitUnitStart = true;
    M2PS::CPESPacketHdr pes;
    M2PS::PESEvent pesEvent;
    BS::ParserControl control;
};

// The library's PID element.
using CPIDParserImpl = CPIDParser<M2PS::CProgramStream>;

// A PID of SL-packetized MPEG-4 content (stream types 0x12, 0x13): each PES
// packet's SL header is stepped over, and its composition time stamp,
// brought to the 90 kHz clock, stands for the PES header's PTS.
class CPIDParserMPEG4Impl : public CPIDParserImpl {
public:
    CPIDParserMPEG4Impl(uint16_t p, uint16_t program, uint8_t type, const DIVX::mp4sys::SLConfig& sl)
        : CPIDParserImpl(p, program, type), slHeader(sl) {}
    bool OnUnitStartHeader(const uint8_t* d, uint32_t len) override;
    uint32_t AllSubStreamsDetected(bool final) override { return DetectSubStreams(final); }
    DIVX::CSyncLayerHeader slHeader;
};

// The SL_descriptor's ES_ID, when it is the element's first ES-info descriptor.
bool SLDescriptorEsId(const PMTElement& e, uint16_t* esId);

// Object-descriptor sections (table_id 0x05) of an MPEG-4 systems PID: the
// object descriptors, kept by id, with the ES descriptors of the media streams.
class CSection14496 : public CSection, public DIVX::CMPEG4DescriptorParser {
public:
    using CSection::Parse;
    // payload: a packet's payload from its pointer_field (0) on.
    bool Parse(const uint8_t* payload, uint32_t len, const DIVX::mp4sys::SLConfig& sl);
    void OnOD(const DIVX::CMPEG4DescriptorOD& od) override;
    const DIVX::CMPEG4DescriptorES* FindES(uint16_t esId) const;
    std::vector<DIVX::CMPEG4DescriptorOD> ods;
};

// Transport stream element ---------------------------------------------------

class CTransportStreamState : public BS::CBaseState {
public:
    void ResetState() override {
        BS::CBaseState::ResetState();
        current = nullptr;
        continuityStatus = 0;
        lastCounter.fill(kNoCounter);
    }
    static constexpr uint8_t kNoCounter = 0xFF;
    CProgramElement* current = nullptr;
    uint32_t continuityStatus = 0;  // 0 in order or first, 1 discontinuity, 2 repeated
    std::array<uint8_t, kPidCount> lastCounter{};
};

// State codes: 1 every packet, 2 PAT, 3 PMT (and end of detection), 6 PID
// element created, 7 current PID element changed.
class CTransportStream : public BS::CBaseStream<CTransportStreamState, BS::CBaseType> {
public:
    static constexpr uint16_t kNoProgram = 0xFFFF;

    CTransportStream();
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t, const uint8_t*, uint32_t, BS::ParserControl*, uint32_t) override { return 1; }
    void RemoveChild(BS::AStreamElement* c) override;
    void Reset() override;
    uint32_t AllSubStreamsDetected(bool final) override;

    virtual bool ProgramsComplete(bool final) const;
    virtual void FinishDetection();
    virtual CProgramElement* CreatePIDParser(const CTransportHdr& h);
    virtual uint32_t OnPayloadPacket(const TSEvent& ev, bool discontinuity);
    // MPEG-4 systems: after each PMT, the PIDs of the object-descriptor and
    // scene-description streams its IOD names; their packets are read here.
    virtual void UpdateSystemPIDs();
    virtual uint32_t OnSystemPIDPacket(const TSEvent& ev);
    const std::vector<uint16_t>& SystemPIDs() const { return systemPids_; }
    const DIVX::CMPEG4DescriptorIOD& Iod() const { return iod_; }
    const CSection14496& ObjectDescriptors() const { return section14496_; }

    bool FindProgramNumberOfPID(uint16_t pid, uint16_t* program) const;
    bool FindPIDEntry(uint16_t pid, PMTElement* out) const;
    bool LookupPID(uint16_t pid, uint16_t* program) const;  // the program whose PCR_PID it is
    uint32_t CountPATPrograms() const;

    CProgramElement* ElementOf(uint16_t pid) const { return elements_[pid & 0x1FFF]; }
    const std::vector<PATProgramEntry>& Pat() const { return pat_; }
    const std::map<uint16_t, std::vector<PMTElement>>& Programs() const { return programs_; }

protected:
    // Enters a new PID element (released when the stream is).
    void Register(uint16_t pid, CProgramElement* e);
    void MakeCurrent(CProgramElement* e, bool notify);

    const CTransportHdr* header_ = nullptr;

private:
    void OnPSIPacket(const TSEvent& ev, bool pat);
    void OnPATSection(const uint8_t* d, uint32_t len);
    void OnPMTSection(const uint8_t* d, uint32_t len);
    void RebuildPidTables();

    std::vector<PATProgramEntry> pat_;
    std::map<uint16_t, std::vector<PMTElement>> programs_;
    CPATSection patSection_;
    CPMTSection pmtSection_;
    std::map<uint16_t, CSectionAssembler> assemblers_;  // PSI PIDs only
    // By PID: the PID element, the PMT PID flag, the program of an elementary
    // PID and the program whose PCR it carries.
    std::array<CProgramElement*, kPidCount> elements_{};
    std::array<uint8_t, kPidCount> isPmtPid_{};
    std::array<uint16_t, kPidCount> elementaryProgram_{};
    std::array<uint16_t, kPidCount> pcrProgram_{};
    DIVX::CMPEG4DescriptorIOD iod_;
    CSection14496 section14496_;
    std::vector<uint16_t> systemPids_;
    std::array<uint8_t, kPidCount> isSystemPid_{};
};

}  // namespace M2TS

// Transport-stream test: 188 or 204 (the packet size), 0 when none.
uint8_t DetectTransportStream(const uint8_t* d, uint32_t len);
