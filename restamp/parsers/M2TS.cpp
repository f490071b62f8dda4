#include "restamp/parsers/M2TS.h"

#include "codec/common/TimeStamps.h"

#include <algorithm>

namespace M2TS {
namespace {

constexpr uint32_t kMaxAdaptationLength = 183;
constexpr uint32_t kClockFieldSize = 6;
constexpr uint8_t kPatTableId = 0x00;
constexpr uint8_t kPmtTableId = 0x02;
constexpr uint8_t kStuffingTableId = 0xFF;
constexpr uint32_t kPatEntrySize = 4;
constexpr uint32_t kPmtElementHeader = 5;

uint16_t Pid13(const uint8_t* d) {
    return uint16_t(((d[0] & 0x1F) << 8) | d[1]);
}
uint16_t Length12(const uint8_t* d) {
    return uint16_t(((d[0] & 0x0F) << 8) | d[1]);
}

uint32_t PidClass(uint16_t pid) {
    if (pid <= 6) return pid;
    if (pid < kFirstElementaryPid) return 7;
    if (pid < kNullPid) return 8;
    return 9;
}

}  // namespace

// --- packet layer --------------------------------------------------------------

bool CAdaptionalField::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    size = 1;
    if (!len) return false;
    length = d[0];
    if (length > kMaxAdaptationLength) return false;
    valid = true;
    // The optional parts are read only inside the field and the data in hand.
    const uint32_t end = std::min<uint32_t>(length + 1u, len);
    if (length >= 1 && end >= 2) {
        const uint8_t f = d[1];
        discontinuity = f >> 7;
        randomAccess = (f >> 6) & 1;
        esPriority = (f >> 5) & 1;
        pcrFlag = (f >> 4) & 1;
        opcrFlag = (f >> 3) & 1;
        splicingPoint = (f >> 2) & 1;
        privateData = (f >> 1) & 1;
        extension = f & 1;
        uint32_t at = 2;
        auto fits = [&](uint32_t n) { return at + n <= end; };
        if (pcrFlag) {
            if (!fits(kClockFieldSize)) {
                pcrFlag = 0;
            } else {
                MpegCommon::DecodePcr(d + at, pcrBase, pcrExtension);
                at += kClockFieldSize;
            }
        }
        if (opcrFlag) {
            if (!fits(kClockFieldSize)) {
                opcrFlag = 0;
            } else {
                MpegCommon::DecodePcr(d + at, opcrBase, opcrExtension);
                at += kClockFieldSize;
            }
        }
        if (splicingPoint && fits(1)) spliceCountdown = d[at++];
        if (privateData && fits(1)) {
            privateDataLength = d[at];
            at += 1u + privateDataLength;
        }
        if (extension && fits(1)) extensionLength = d[at];
    }
    size = uint8_t(length + 1);
    return valid;
}

bool CTransportHdr::Parse(const uint8_t* d, uint32_t len) {
    if (len < 4 || d[0] != kSyncByte) return false;
    // Every field is written below (no Clear: this runs for every packet).
    errorIndicator = d[1] >> 7;
    unitStart = (d[1] >> 6) & 1;
    priority = (d[1] >> 5) & 1;
    pid = Pid13(d + 1);
    scrambling = d[3] >> 6;
    adaptationFieldControl = (d[3] >> 4) & 3;
    continuityCounter = d[3] & 15;
    pidClass = PidClass(pid);
    const uint32_t end = std::min(len, kPacketSize);
    if (adaptationFieldControl >= 2) {
        valid = af.Parse(d + 4, end - 4);
    } else {
        af.valid = false;
        af.pcrFlag = 0;
        af.size = 1;
        valid = true;
    }
    return valid;
}

const uint8_t* CTSParserImpl::FindNext() {
    const uint32_t n = packetSize;
    if (len_ < n || pos_ > len_ - n) return nullptr;  // a packet is offered only whole
    if (pos_ == expect_ && data_[pos_] == kSyncByte) {
        hit_ = pos_;
        pos_ = hit_ + 1;
        expect_ = hit_ + n;
        inPhase_ = true;
        return data_ + hit_;
    }
    inPhase_ = false;
    const uint32_t last = len_ - n;  // last offset a whole packet starts at
    uint32_t i = pos_;
    while (i <= last) {
        const void* p = std::memchr(data_ + i, kSyncByte, last - i + 1);
        if (!p) break;
        i = uint32_t(static_cast<const uint8_t*>(p) - data_);
        if (i + n >= len_ || data_[i + n] == kSyncByte) {
            hit_ = i;
            pos_ = i + 1;
            expect_ = i + n;
            return data_ + hit_;
        }
        ++i;
    }
    pos_ = last + 1;
    expect_ = kNone;
    return nullptr;
}

// --- PSI -----------------------------------------------------------------------------

bool CSection::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < kHeaderSize || (d[0] & 0x40)) return false;
    tableId = d[0];
    syntaxIndicator = d[1] >> 7;
    sectionLength = Length12(d + 1);
    tableIdExtension = uint16_t((d[3] << 8) | d[4]);
    version = (d[5] >> 1) & 0x1F;
    currentNext = d[5] & 1;
    sectionNumber = d[6];
    lastSectionNumber = d[7];
    return valid = true;
}

uint32_t CSection::BodyEnd(uint32_t len) const {
    const uint32_t total = TotalLength();
    const uint32_t body = total > kCrcSize ? total - kCrcSize : 0;
    return std::min(body, len);
}

bool CPATSection::Parse(const uint8_t* d, uint32_t len) {
    entries.clear();
    if (!CSection::Parse(d, len) || tableId != kPatTableId) return valid = false;
    const uint32_t end = BodyEnd(len);
    for (uint32_t at = kHeaderSize; at + kPatEntrySize <= end; at += kPatEntrySize) {
        PATProgramEntry e;
        e.programNumber = uint16_t((d[at] << 8) | d[at + 1]);
        const uint16_t pid = Pid13(d + at + 2);
        if (e.programNumber)
            e.programMapPid = pid;
        else
            e.networkPid = pid;
        entries.push_back(e);
    }
    return valid;
}

bool CPMTSection::Parse(const uint8_t* d, uint32_t len) {
    elements.clear();
    programInfoLength = 0;
    if (!CSection::Parse(d, len) || tableId != kPmtTableId) return valid = false;
    const uint32_t end = BodyEnd(len);
    if (end < kHeaderSize + 4) return valid = false;
    programNumber = tableIdExtension;
    pcrPid = Pid13(d + kHeaderSize);
    const uint32_t infoLength = Length12(d + kHeaderSize + 2);
    uint32_t at = kHeaderSize + 4;
    const uint32_t info = std::min({infoLength, PMTElement::kInfoSize, end - at});
    std::memcpy(programInfo, d + at, info);
    programInfoLength = info;
    at += infoLength;
    // Signed: a section_length smaller than the program info leaves nothing.
    int64_t left = int64_t(end) - int64_t(at);
    while (left >= int64_t(kPmtElementHeader)) {
        PMTElement e;
        e.streamType = d[at];
        e.pid = Pid13(d + at + 1);
        const uint32_t esLength = Length12(d + at + 3);
        const uint32_t in = std::min<uint32_t>({esLength, PMTElement::kInfoSize, end - at - kPmtElementHeader});
        std::memcpy(e.esInfo, d + at + kPmtElementHeader, in);
        e.esInfoLength = in;
        elements.push_back(e);
        at += kPmtElementHeader + esLength;
        left -= int64_t(kPmtElementHeader + esLength);
    }
    return valid;
}

template <class F>
uint32_t CSectionAssembler::Take(const uint8_t* d, uint32_t len, F& onSection) {
    uint32_t used = 0;
    if (!need_) {
        const uint32_t want = std::min(3u - have_, len);
        std::memcpy(buf_ + have_, d, want);
        have_ += want;
        used = want;
        if (have_ < 3) return used;
        if (buf_[0] == kStuffingTableId) {
            Reset();
            return len;  // the rest of the packet is stuffing
        }
        need_ = 3u + Length12(buf_ + 1);
        if (need_ > kMaxSection) {
            Reset();
            return len;
        }
    }
    const uint32_t want = std::min(need_ - have_, len - used);
    std::memcpy(buf_ + have_, d + used, want);
    have_ += want;
    used += want;
    if (have_ == need_) {
        onSection(buf_, have_);
        Reset();
    }
    return used;
}

template <class F>
void CSectionAssembler::Feed(const uint8_t* d, uint32_t len, bool unitStart, F&& onSection) {
    if (!len) return;
    if (!unitStart) {
        if (active_) Take(d, len, onSection);
        return;
    }
    const uint32_t pointer = d[0];
    if (1u + pointer > len) {
        Reset();
        return;
    }
    // The bytes before the pointer end the section in progress.
    if (active_ && pointer) Take(d + 1, pointer, onSection);
    Reset();
    uint32_t at = 1 + pointer;
    while (at < len && d[at] != kStuffingTableId) {
        active_ = true;
        const uint32_t used = Take(d + at, len - at, onSection);
        at += used;
        if (active_) break;  // the section runs on in the next packet
    }
}

bool IsSupportedStreamType(uint8_t t) {
    switch (t) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x06:
        case 0x0F:
        case 0x10:
        case 0x12:
        case 0x13:
        case 0x1B:
        case 0x81:
            return true;
        default:
            return false;
    }
}

uint32_t FamilyOf(uint8_t sid, uint8_t streamType) {
    uint32_t f = M2PS::CProgramStream::FamilyOf(sid);
    if (sid == 0xBD) f = kFormatAC3;
    switch (streamType) {
        case 0x06:
            return kFormatAES3;
        case 0x0F:
            return kFormatAAC;
        case 0x10:
            return kFormatMpeg4Video;
        case 0x1B:
            return kFormatH264;
        case 0x81:
            return kFormatAC3;
        default:
            return f;
    }
}

// --- transport stream element ----------------------------------------------------------

CTransportStream::CTransportStream() {
    lastCounter.fill(kNoCounter);
    elementaryProgram_.fill(kNoProgram);
    pcrProgram_.fill(kNoProgram);
}

void CTransportStream::Reset() {
    for (auto& kv : assemblers_) kv.second.Reset();
    header_ = nullptr;
    BS::CBaseStream<CTransportStreamState, BS::CBaseType>::Reset();
}

void CTransportStream::MakeCurrent(CProgramElement* e, bool notify) {
    if (current == e) return;
    current = e;
    SetState(7, e ? e->GetStream() : nullptr);
    if (notify) NotifyStateChange();
}

uint32_t CTransportStream::OnEvent(const BS::CBaseEvent& bev, BS::ParserControl* ctl) {
    const TSEvent* ev = BS::EventAs<CTransportHdr>(bev);
    if (!ev) return 0;
    const CTransportHdr& h = *ev->header;
    header_ = &h;
    if (h.pid == kNullPid) {
        continuityStatus = 0;
    } else {
        const uint8_t last = lastCounter[h.pid];
        if (last == kNoCounter || ((last + 1) & 15) == h.continuityCounter)
            continuityStatus = 0;
        else
            continuityStatus = last == h.continuityCounter ? 2 : 1;
        lastCounter[h.pid] = h.continuityCounter;
    }
    SetState(1, ev);
    if (!handlers_.empty()) NotifyStateChange();
    uint32_t r = 1;
    if (h.pid == 0)
        OnPSIPacket(*ev, true);
    else if (isPmtPid_[h.pid])
        OnPSIPacket(*ev, false);
    else if (isSystemPid_[h.pid])
        r = OnSystemPIDPacket(*ev);
    else
        r = OnPayloadPacket(*ev, continuityStatus == 1);
    if (ctl) ctl->skip = h.packetSize;
    header_ = nullptr;
    return r;
}

void CTransportStream::OnPSIPacket(const TSEvent& ev, bool pat) {
    const CTransportHdr& h = *ev.header;
    if (!h.HasPayload()) return;
    const uint32_t off = h.PayloadOffset();
    const uint32_t end = std::min(ev.length, kPacketSize);
    if (off >= end) return;
    assemblers_[h.pid].Feed(ev.data + off, end - off, h.unitStart != 0, [&](const uint8_t* s, uint32_t n) {
        if (pat)
            OnPATSection(s, n);
        else
            OnPMTSection(s, n);
    });
}

void CTransportStream::OnPATSection(const uint8_t* d, uint32_t len) {
    if (!patSection_.Parse(d, len)) return;
    if ((patSection_.currentNext || pat_.empty()) && patSection_.entries != pat_) {
        pat_ = patSection_.entries;
        isPmtPid_.fill(0);
        for (const auto& e : pat_)
            if (e.programNumber) isPmtPid_[e.programMapPid] = 1;
    }
    SetState(2, nullptr);
    NotifyStateChange();
}

void CTransportStream::OnPMTSection(const uint8_t* d, uint32_t len) {
    if (!pmtSection_.Parse(d, len)) return;
    const uint16_t program = pmtSection_.programNumber;
    auto it = programs_.find(program);
    if (it != programs_.end()) {
        it->second = pmtSection_.elements;
    } else {
        programs_.emplace(program, pmtSection_.elements);
        if (pcrProgram_[pmtSection_.pcrPid] == kNoProgram) pcrProgram_[pmtSection_.pcrPid] = program;
    }
    RebuildPidTables();
    UpdateSystemPIDs();
    SetState(3, nullptr);
    NotifyStateChange();
}

void CTransportStream::RebuildPidTables() {
    elementaryProgram_.fill(kNoProgram);
    // The first program that lists a PID owns it.
    for (const auto& kv : programs_)
        for (const auto& e : kv.second)
            if (elementaryProgram_[e.pid] == kNoProgram) elementaryProgram_[e.pid] = kv.first;
}

uint32_t CTransportStream::OnPayloadPacket(const TSEvent& ev, bool discontinuity) {
    const CTransportHdr& h = *ev.header;
    if (h.pidClass != 8) return 0;
    CProgramElement* e = elements_[h.pid];
    if (e)
        MakeCurrent(e, true);
    else if (!(e = CreatePIDParser(h)))
        return 0;
    if (!h.HasPayload()) return 0;
    return e->OnPacket(ev, discontinuity);
}

CProgramElement* CTransportStream::CreatePIDParser(const CTransportHdr& h) {
    uint16_t program = 0;
    PMTElement entry;
    if (!FindProgramNumberOfPID(h.pid, &program) || !FindPIDEntry(h.pid, &entry)) return nullptr;
    if (!IsSupportedStreamType(entry.streamType)) return nullptr;
    CPIDParserImpl* e = nullptr;
    if (entry.streamType == kSLPesStreamType || entry.streamType == kSLSectionStreamType) {
        // Only once the object descriptor naming its ES_ID has been read.
        uint16_t esId = 0;
        if (!SLDescriptorEsId(entry, &esId)) return nullptr;
        const DIVX::CMPEG4DescriptorES* es = section14496_.FindES(esId);
        if (!es) return nullptr;
        e = BS::New<CPIDParserMPEG4Impl>(h.pid, program, entry.streamType, es->es.slConfig);
    } else {
        e = BS::New<CPIDParserImpl>(h.pid, program, entry.streamType);
    }
    if (!e) return nullptr;
    Register(h.pid, e);
    return e;
}

void CTransportStream::Register(uint16_t pid, CProgramElement* e) {
    if (CProgramElement* old = elements_[pid]) old->GetStream()->Release();
    elements_[pid] = e;
    AddChild(e->GetStream());
    SetState(6, e->GetStream());
    NotifyStateChange();
    current = nullptr;
    MakeCurrent(e, true);
}

void CTransportStream::RemoveChild(BS::AStreamElement* c) {
    for (auto& e : elements_)
        if (e && e->GetStream() == c) {
            if (current == e) current = nullptr;
            e = nullptr;
            break;
        }
    BS::CBaseStream<CTransportStreamState, BS::CBaseType>::RemoveChild(c);
}

bool CTransportStream::FindProgramNumberOfPID(uint16_t pid, uint16_t* program) const {
    *program = elementaryProgram_[pid & 0x1FFF];
    return *program != kNoProgram;
}

bool CTransportStream::FindPIDEntry(uint16_t pid, PMTElement* out) const {
    for (const auto& kv : programs_)
        for (const auto& e : kv.second)
            if (e.pid == pid) {
                *out = e;
                return true;
            }
    return false;
}

bool CTransportStream::LookupPID(uint16_t pid, uint16_t* program) const {
    *program = pcrProgram_[pid & 0x1FFF];
    return *program != kNoProgram;
}

uint32_t CTransportStream::CountPATPrograms() const {
    uint32_t n = 0;
    for (const auto& e : pat_) n += e.programNumber != 0;
    return n;
}

bool CTransportStream::ProgramsComplete(bool final) const {
    if (programs_.empty() || pat_.empty()) return false;
    return final || programs_.size() >= CountPATPrograms();
}

uint32_t CTransportStream::AllSubStreamsDetected(bool final) {
    bool any = false;
    for (auto* e : elements_) any = any || e;
    if (!any) return 0;
    if (!final)
        for (const auto& kv : programs_)
            for (const auto& pe : kv.second)
                if (IsSupportedStreamType(pe.streamType) && !elements_[pe.pid]) return 0;
    for (auto* e : elements_) {
        if (!e) continue;
        if (!e->DetectSubStreams(final) && !final) return 0;
    }
    return 1;
}

void CTransportStream::FinishDetection() {
    for (auto* e : elements_) {
        if (!e) continue;
        SetState(6, e->GetStream());
        NotifyStateChange();
        e->FinishDetection();
    }
    SetState(3, nullptr);
    NotifyStateChange();
}

}  // namespace M2TS

uint8_t DetectTransportStream(const uint8_t* d, uint32_t len) {
    if (len < 1225) return 0;
    for (uint32_t i = 0; len - i >= 1225; ++i) {
        if (d[i] != 0x47) continue;
        bool ok = true;
        for (uint32_t k = 1; k < 6 && ok; ++k) ok = d[i + 188 * k] == 0x47;
        if (ok) return 188;
        if (uint64_t(i) + 2040 < len) {
            ok = true;
            for (uint32_t k = 1; k < 11 && ok; ++k) ok = d[i + 204 * k] == 0x47;
            if (ok) return 204;
        }
    }
    return 0;
}

// --- MPEG-4 systems ------------------------------------------------------------------

namespace M2TS {

namespace {

constexpr uint8_t kSLDescriptorTag = 0x1E;
constexpr uint8_t kSceneSectionTableId = 0x04, kObjectDescriptorTableId = 0x05;
constexpr uint8_t kObjectDescriptorStream = 1, kSceneDescriptionStream = 3;
constexpr uint8_t kObjectDescriptorUpdateTag = 0x01;
constexpr uint32_t kSectionSLHeaderAt = 9;  // pointer_field and the 8-byte section header
constexpr uint64_t kTimeStampMask = (uint64_t(1) << 33) - 1;

bool IsSLStreamType(uint8_t t) {
    return t == kSLPesStreamType || t == kSLSectionStreamType;
}

}  // namespace

bool SLDescriptorEsId(const PMTElement& e, uint16_t* esId) {
    if (e.esInfoLength < 4 || e.esInfo[0] != kSLDescriptorTag || e.esInfo[1] != 2) return false;
    *esId = uint16_t((e.esInfo[2] << 8) | e.esInfo[3]);
    return true;
}

bool CPIDParserMPEG4Impl::OnUnitStartHeader(const uint8_t* d, uint32_t len) {
    const uint32_t at = pes.payloadOffset;
    if (at >= len || !slHeader.Parse(d + at, len - at)) return true;  // no header in hand: the payload as it is
    if (slHeader.compositionTimeStampFlag) {
        pes.pts = slHeader.To90kHz(slHeader.compositionTimeStamp) & kTimeStampMask;
        pes.ptsValid = 1;
    }
    pes.payloadOffset = uint16_t(std::min<uint32_t>(at + slHeader.headerSize, len));
    return true;
}

bool CSection14496::Parse(const uint8_t* payload, uint32_t len, const DIVX::mp4sys::SLConfig& sl) {
    if (len <= kSectionSLHeaderAt || payload[0] != 0) return false;
    if (!CSection::Parse(payload + 1, len - 1) || tableId != kObjectDescriptorTableId) return false;
    // The section's body ends before its CRC, and within the payload.
    const uint32_t end = 1 + BodyEnd(len - 1);
    if (end <= kSectionSLHeaderAt) return false;
    DIVX::CSyncLayerHeader h(sl);
    if (!h.Parse(payload + kSectionSLHeaderAt, end - kSectionSLHeaderAt)) return false;
    const uint32_t at = kSectionSLHeaderAt + h.headerSize;
    if (at + 2 <= end && payload[at] == kObjectDescriptorUpdateTag) {
        // The command's size in the expandable form; its descriptors follow.
        uint32_t size = 0, i = at + 1;
        for (int k = 0; k < 4 && i < end; ++k) {
            const uint8_t b = payload[i++];
            size = size << 7 | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
        ParseDescriptors(payload + i, std::min<uint32_t>(size, end - i));
    }
    return true;
}

void CSection14496::OnOD(const DIVX::CMPEG4DescriptorOD& od) {
    for (auto& kept : ods) {
        if (kept.objectDescriptorId != od.objectDescriptorId) continue;
        for (const auto& e : od.es) {
            auto it = std::find_if(kept.es.begin(), kept.es.end(),
                                   [&](const DIVX::CMPEG4DescriptorES& k) { return k.EsId() == e.EsId(); });
            if (it != kept.es.end())
                *it = e;
            else
                kept.es.push_back(e);
        }
        return;
    }
    ods.push_back(od);
}

const DIVX::CMPEG4DescriptorES* CSection14496::FindES(uint16_t esId) const {
    for (const auto& od : ods)
        for (const auto& e : od.es)
            if (e.EsId() == esId) return &e;
    return nullptr;
}

void CTransportStream::UpdateSystemPIDs() {
    const auto& elements = pmtSection_.elements;
    if (std::none_of(elements.begin(), elements.end(),
                     [](const PMTElement& e) { return IsSLStreamType(e.streamType); }))
        return;
    // The IOD_descriptor among the program descriptors (8-bit lengths).
    const uint8_t* d = pmtSection_.programInfo;
    const uint32_t n = pmtSection_.programInfoLength;
    bool found = false;
    for (uint32_t at = 0; at + 2 <= n && !found; at += 2u + d[at + 1])
        if (d[at] == DIVX::CMPEG4DescriptorIOD::kTag) found = iod_.Parse(d + at, n - at);
    if (!found) return;
    for (const auto& es : iod_.es) {
        const uint8_t type = es.es.decoderConfig.streamType;
        if (type != kObjectDescriptorStream && type != kSceneDescriptionStream) continue;
        for (const auto& e : elements) {
            uint16_t esId = 0;
            if (!IsSLStreamType(e.streamType) || isSystemPid_[e.pid] || !SLDescriptorEsId(e, &esId) ||
                esId != es.EsId())
                continue;
            isSystemPid_[e.pid] = 1;
            systemPids_.push_back(e.pid);
        }
    }
}

uint32_t CTransportStream::OnSystemPIDPacket(const TSEvent& ev) {
    const CTransportHdr& h = *ev.header;
    if (!h.HasPayload()) return 0;
    const uint32_t off = h.PayloadOffset();
    const uint32_t end = std::min(ev.length, kPacketSize);
    if (off + 2 > end) return 0;
    const uint8_t* payload = ev.data + off;
    if (payload[1] != kSceneSectionTableId && payload[1] != kObjectDescriptorTableId) return 0;
    const auto& elements = pmtSection_.elements;
    auto it = std::find_if(elements.begin(), elements.end(), [&](const PMTElement& e) { return e.pid == h.pid; });
    uint16_t esId = 0;
    if (it == elements.end() || !SLDescriptorEsId(*it, &esId)) return 0;
    for (const auto& es : iod_.es)
        if (es.EsId() == esId) return section14496_.Parse(payload, end - off, es.es.slConfig) ? 1 : 0;
    return 0;
}

}  // namespace M2TS
