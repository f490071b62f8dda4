#include "restamp/parsers/M2PS.h"

#include "restamp/parsers/EsStreams.h"

#include "codec/common/BitReader.h"
#include "codec/common/TimeStamps.h"

namespace M2PS {
namespace {

bool StartCode(const uint8_t* d, uint32_t len, uint8_t code) {
    return len >= 4 && !d[0] && !d[1] && d[2] == 1 && d[3] == code;
}

// Next 00 00 01 at or after i with at least minLeft bytes from it; len when none.
uint32_t NextStartCode(const uint8_t* d, uint32_t len, uint32_t i, uint32_t minLeft) {
    if (len < minLeft) return len;
    const uint32_t last = len - minLeft;
    while (i <= last) {
        const void* p = std::memchr(d + i + 2, 1, last - i + 1);
        if (!p) return len;
        uint32_t j = uint32_t(static_cast<const uint8_t*>(p) - d);
        if (!d[j - 1] && !d[j - 2]) return j - 2;
        i = j - 1;
    }
    return len;
}

}  // namespace

bool CPackHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 13 || !StartCode(d, len, 0xBA) || (d[4] & 0xC0) != 0x40) return false;
    if (!(d[4] & 0x04) || !(d[8] & 0x04)) return false;
    uint32_t ext = 0;
    MpegCommon::DecodePackScr(d + 4, scr, ext);
    programMuxRate = (uint32_t(d[10]) << 14) | (uint32_t(d[11]) << 6) | (d[12] >> 2);
    muxRateBytes = programMuxRate * 50;
    return valid = true;
}

bool CSysHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 12 || !StartCode(d, len, 0xBB)) return false;
    headerLength = (uint32_t(d[4]) << 8) | d[5];
    if (len < headerLength + 6) return false;
    MpegCommon::BitReader br;
    br.Attach(d + 6, headerLength);
    if (!br.ReadBit()) return false;
    rateBound = br.Read(22);
    rate = rateBound * 400;
    if (!br.ReadBit()) return false;
    audioBound = br.Read(6);
    fixedFlag = br.ReadBit();
    cspsFlag = br.ReadBit();
    audioLockFlag = br.ReadBit();
    videoLockFlag = br.ReadBit();
    if (!br.ReadBit()) return false;
    videoBound = br.Read(5);
    packetRateRestrictionFlag = br.ReadBit();
    br.Skip(7);
    if (br.Overrun()) return false;
    while (br.BitsLeft() >= 24 && br.Peek(1) == 1) {
        uint32_t sid = br.Read(8);
        if (br.Read(2) != 3) return false;
        br.Skip(14);
        streamIds.push_back(sid);
    }
    return valid = true;
}

bool CPESPacketHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 6 || d[0] || d[1] || d[2] != 1 || d[3] < 0xBC || d[3] == 0xFF) return false;
    streamId = d[3];
    packetLength = (uint32_t(d[4]) << 8) | d[5];
    payloadOffset = 6;
    if (streamId == 0xBF || streamId == 0xBE) return valid = true;
    if (len < 9 || (d[6] & 0xC0) != 0x80) return false;
    priority = (d[6] >> 3) & 1;
    dataAlignment = (d[6] >> 2) & 1;
    copyright = (d[6] >> 1) & 1;
    originalOrCopy = d[6] & 1;
    extensionFlag = d[7] & 1;
    headerDataLength = d[8];
    payloadOffset = uint16_t(9 + d[8]);
    ptsDtsFlags = d[7] >> 6;
    if (ptsDtsFlags >= 2) {
        if (len < 14) return false;
        pts = MpegCommon::DecodeTimeStamp(d + 9);
        ptsValid = MpegCommon::TimeStampMarkersSet(d + 9);
    }
    if (ptsDtsFlags == 3) {
        if (len < 19) return false;
        dts = MpegCommon::DecodeTimeStamp(d + 14);
        dtsValid = MpegCommon::TimeStampMarkersSet(d + 14);
    }
    if (streamId == 0xBD) subStreamId = payloadOffset < len ? d[payloadOffset] : 0;
    valid = (ptsDtsFlags < 2 || ptsValid) && (ptsDtsFlags != 3 || dtsValid);
    return valid;
}

bool CPSParserHandlerImpl::ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
    last_ = nullptr;
    if (avail < 4) return false;
    const uint8_t c = d[3];
    if (c == 0xBA) {
        if (!pack.Parse(d, avail)) return false;
        last_ = &evPack.Set(&pack, pos, d, 0, 0);
    } else if (c >= 0xBC) {
        if (!pes.Parse(d, avail)) return false;
        last_ = &evPes.Set(&pes, pos, d, avail, 0);
    } else if (c == 0xBB) {
        if (!sys.Parse(d, avail)) return false;
        last_ = &evSys.Set(&sys, pos, d, 0, 0);
    }
    return last_ != nullptr;
}

// --- format tests --------------------------------------------------------------

int DetectPS::DetectProgramStream(const uint8_t* d, uint32_t len) {
    bool packSeen = false, pesSeen = false;
    CPackHdr pack;
    CPESPacketHdr pes;
    uint32_t i = 0;
    for (;;) {
        const uint32_t h = NextStartCode(d, len, i, 35);
        if (h >= len) return 0;
        const uint32_t left = len - h;
        if (d[h + 3] == 0xBA && pack.Parse(d + h, left)) {
            programMuxRate = pack.programMuxRate;
            muxRateBytes = pack.muxRateBytes;
            if (pesSeen) return 1;
            packSeen = true;
            i = h + 1;
            continue;
        }
        if (d[h + 3] >= 0xBC && pes.Parse(d + h, left)) {
            const uint32_t l = pes.packetLength;
            if (l == 0) {
                pesSeen = true;
                i = h + 1;
                continue;
            }
            if (left <= l + 38) {
                i = h + 1;
                continue;
            }
            const uint32_t n = NextStartCode(d, len, h + l + 6, 35);
            if (n >= len) return 0;
            if (d[n + 3] == 0xBA && pack.Parse(d + n, len - n)) return 1;
            if (d[n + 3] >= 0xBC && pes.Parse(d + n, len - n)) {
                pesSeen = true;
                if (packSeen) return 1;
            }
            i = n + 1;
            continue;
        }
        i = h + 1;
    }
}

int DetectPS::DetectProgramStreamPES(const uint8_t* d, uint32_t len) {
    CPESPacketHdr pes;
    uint32_t h = 0;
    for (;;) {
        h = NextStartCode(d, len, h, 35);
        if (h >= len) return 0;
        if (d[h + 3] >= 0xBC && pes.Parse(d + h, len - h)) break;
        ++h;
    }
    for (int n = 0; n < 4; ++n) {
        const uint32_t l = pes.packetLength;
        if (l) {
            const uint64_t j = uint64_t(h) + l + 6;
            if (j + 35 > len || !pes.Parse(d + j, uint32_t(len - j))) return 0;
            h = uint32_t(j);
        } else {
            uint32_t j = h + 3;
            for (;;) {
                j = NextStartCode(d, len, j, 35);
                if (j >= len) return 0;
                if (d[j + 3] >= 0xBC && pes.Parse(d + j, len - j)) break;
                ++j;
            }
            h = j;
        }
    }
    return 1;
}

// --- PES stream elements ---------------------------------------------------------

CPEStreamType::CPEStreamType(const CStreamKey& k) : BS::CBaseType("PacketizedElementaryStream"), key(k) {
    const uint8_t s = k.streamId;
    if (s >= 0xE0 && s <= 0xEF)
        typeCode = 0;
    else if (s >= 0xC0 && s <= 0xDF)
        typeCode = 1;
    else if (s == 0xBD)
        typeCode = 2;
    else if (s == 0xBF)
        typeCode = 3;
    else if (s == 0xBE)
        typeCode = 4;
    else if (s == 0x01)
        typeCode = 7;
    else
        typeCode = 5;
}

uint32_t CPEStream::FindNextPacketStart(const uint8_t* d, uint32_t len) {
    if (len < 4) return 0xFFFFFFFFu;
    for (uint32_t i = 0; i + 4 <= len; ++i) {
        // Find the 01 of a start code first.
        const void* one = std::memchr(d + i + 2, 1, len - 1 - (i + 2));
        if (!one) break;
        i = uint32_t(static_cast<const uint8_t*>(one) - d) - 2;
        if (d[i] || d[i + 1]) continue;
        const uint8_t c = d[i + 3];
        if (c >= 0xBC && c != 0xFF) return i;
        if (c == 0xBA && i + 4 < len && (d[i + 4] & 0xC0) == 0x40) return i;
    }
    return 0xFFFFFFFFu;
}

uint32_t CPEStream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    SetState(0, nullptr);
    if (const PESEvent* p = BS::EventAs<CPESPacketHdr>(ev)) return OnPESPacketHdr(*p, ctl);
    if (!wrapped) CreateSubElement(&ev);
    return wrapped ? wrapped->OnEvent(ev, ctl) : 0;
}

uint32_t CPEStream::OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl) {
    const CPESPacketHdr& h = *ev.header;
    const uint32_t avail = ev.length;
    const uint32_t total = h.packetLength ? h.packetLength + 6 : 0;
    uint32_t advance;
    if (unbounded) {
        advance = (total == 0 || total > avail) ? avail : total;
    } else if (total) {
        advance = total < avail ? total : avail;
    } else {
        uint32_t k = avail > 1 ? FindNextPacketStart(ev.data + 1, avail - 1) : 0xFFFFFFFFu;
        advance = k != 0xFFFFFFFFu ? k + 1 : (avail > 3 ? avail - 3 : avail);
    }
    const uint32_t remaining = total ? total - advance : 0xFFFFFFFFu;
    workRemaining = remaining;
    workPosition = ev.position + advance;
    lastTaken = advance;
    if (ctl) {
        ctl->skip = advance;
        ctl->remaining = remaining;
        ctl->sink = remaining ? this : nullptr;
    }
    SetState(1, &ev);
    NotifyStateChange();
    const uint32_t off = h.payloadOffset;
    payload.position = ev.position + off;
    payload.length = advance > off ? advance - off : 0;
    payload.data = payload.length ? ev.data + off : nullptr;
    payload.flag = ev.flag;
    SetState(3, &payload);
    NotifyStateChange();
    return 1;
}

uint32_t CPEStream::OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) {
    lastTaken = 0;
    lastPtr = nullptr;
    lastLen = 0;
    uint32_t over = 0;
    if (pos < workPosition) {
        const uint64_t o = workPosition - pos;
        if (o >= len) return 0;
        over = uint32_t(o);
        d += over;
        len -= over;
        pos += over;
    }
    if (!workRemaining || !len) return 0;
    uint32_t take;
    if (workRemaining != 0xFFFFFFFFu) {
        take = len < workRemaining ? len : workRemaining;
        workRemaining -= take;
    } else if (unbounded) {
        // A by-PID packet runs to the next unit start: its payload is not searched.
        take = len;
    } else {
        const uint32_t k = FindNextPacketStart(d, len);
        if (k != 0xFFFFFFFFu) {
            take = k;
            workRemaining = 0;
        } else {
            take = len > 3 ? len - 3 : 0;  // a start code cut by the block end is found next time
        }
    }
    workPosition = pos + take;
    if (ctl) {
        ctl->skip = over + take;
        ctl->remaining = workRemaining;
        if (!workRemaining) ctl->sink = nullptr;
    }
    payload.position = pos;
    payload.data = d;
    payload.length = take;
    payload.flag = uint8_t(flag);
    lastPtr = d;
    lastLen = take;
    lastTaken = take;
    SetState(3, &payload);
    NotifyStateChange();
    return 1;
}

uint32_t CPEStreamDetector::OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl) {
    CPEStream::OnPESPacketHdr(ev, ctl);
    if (payload.length) AddData(payload.position, payload.data, payload.length, ev.flag, true);
    return 1;
}

uint32_t CPEStreamDetector::OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl,
                                   uint32_t flag) {
    if (!CPEStream::OnData(pos, d, len, ctl, flag)) return 0;
    if (lastLen) AddData(payload.position, lastPtr, lastLen, flag, false);
    return 1;
}

uint32_t CPEStreamDetector::CreateStreams() {
    DetectFinal(true);
    if (!detected || !owner_) return 0;
    const CStreamKey k = Key();
    auto add = [&](CPEStream* e) {
        if (e) owner_->AddSubStream(e);
    };
    switch (detected) {
        case kFormatMpegVideo:
            if (auto* e = BS::New<CPESVideo>(k)) {
                e->tmpl.stream.detect = video;
                owner_->AddSubStream(e);
            }
            break;
        case kFormatMpegAudio:
            if (auto* e = BS::New<CPESAudio>(k)) {
                e->tmpl.stream.format = audio;
                owner_->AddSubStream(e);
            }
            break;
        case kFormatAC3:
            if (auto* e = BS::New<CPESAC3>(k)) {
                e->tmpl.stream.detect = ac3;
                owner_->AddSubStream(e);
            }
            break;
        case kFormatSubStreams:
            for (auto& kv : subStreams) {
                const CStreamKey sk = SubKey(kv.first);
                if (kv.second->result == 1) {
                    if (auto* e = BS::New<CPESAC3>(sk)) {
                        e->tmpl.stream.detect = kv.second->ac3;
                        owner_->AddSubStream(e);
                    }
                } else if (kv.second->result == 2) {
                    add(BS::New<CPESLpcm>(sk, &kv.second->lpcm));
                } else if (kv.second->result == 3) {
                    add(BS::New<CPESSubPicture>(sk));
                }
            }
            break;
        case kFormatAAC:
            if (auto* e = BS::New<CPESAAC>(k)) {
                e->tmpl.stream.detect = aac;
                owner_->AddSubStream(e);
            }
            break;
        case kFormatH264:
            add(BS::New<CPESH264>(k, &h264));
            break;
        case kFormatH264SL:
            add(BS::New<CPESH264>(k, nullptr));
            break;
        case kFormatMpeg4Video:
            add(BS::New<CPESDiv4>(k, &divx));
            break;
        case kFormatAES3:
            add(BS::New<CPESAes3>(k));
            break;
        default:
            break;
    }
    return 1;
}

// --- container ------------------------------------------------------------------------

void CProgramStream::MakeCurrent(CPEStream* e, bool notify) {
    const bool changed = current != e;
    current = e;
    if (changed) {
        SetState(4, e);
        if (notify) NotifyStateChange();
    }
}

uint32_t CProgramStream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    if (const PESEvent* p = BS::EventAs<CPESPacketHdr>(ev)) return OnPESPacketHdr(*p, ctl);
    if (const PackEvent* p = BS::EventAs<CPackHdr>(ev)) return OnPackHdr(*p);
    if (const SysEvent* p = BS::EventAs<CSysHdr>(ev)) return OnSysHdr(*p);
    return current ? current->OnEvent(ev, ctl) : 0;
}

uint32_t CProgramStream::OnPackHdr(const PackEvent& ev) {
    SetState(2, &ev);
    NotifyStateChange();
    return 1;
}

uint32_t CProgramStream::OnSysHdr(const SysEvent& ev) {
    SetState(3, &ev);
    NotifyStateChange();
    return 1;
}

uint32_t CProgramStream::OnPESPacketHdr(const PESEvent& ev, BS::ParserControl* ctl) {
    const CPESPacketHdr& h = *ev.header;
    CStreamKey key(ProgramNumber(), h.streamId, h.subStreamId, 0, 0);
    AdjustKey(key);
    // A stream with its own sub-stream id keeps its packets; one registered
    // without a sub-stream id takes the rest of its stream_id.
    CPEStream* e = nullptr;
    auto it = active.find(key);
    if (it != active.end()) e = it->second;
    if (!e && key.subStreamId) {
        CStreamKey k0 = key;
        k0.subStreamId = 0;
        auto it0 = active.find(k0);
        if (it0 != active.end()) e = it0->second;
    }
    if (e) {
        MakeCurrent(e, true);
        return e->OnEvent(ev, ctl);
    }
    CStreamKey dkey(ProgramNumber(), h.streamId, 0, 0, 0);
    AdjustKey(dkey);
    auto dit = detectors.find(dkey);
    if (dit != detectors.end() && dit->second) {
        e = dit->second;
        MakeCurrent(e, true);
    }
    if (!e) {
        e = CreateSubStream(ev, dkey);
        if (!e) return 1;
    }
    return e->OnEvent(ev, ctl);
}

CPEStream* CProgramStream::CreateSubStream(const PESEvent&, const CStreamKey& key) {
    if (IsMediaStreamId(key.streamId)) {
        auto* det = BS::New<CPEStreamDetector>(key, this);
        if (!det) return nullptr;
        det->family = FamilyOf(key.streamId);
        AddChild(det);
        detectors[key] = det;
        MakeCurrent(det, false);
        return det;
    }
    auto* e = BS::New<CPEStream>(key);
    if (!e) return nullptr;
    AddSubStream(e);
    return e;
}

void CProgramStream::AddSubStream(CPEStream* e) {
    AddChild(e);
    active.emplace(e->Key(), e);
    current = e;
    SetState(1, e);
    NotifyStateChange();
    e->Activate();
    current = nullptr;
    SetState(4, nullptr);
}

bool CProgramStream::DetectSubStreams(bool final) {
    if (detectors.empty()) return false;
    bool any = false, all = true;
    std::vector<CPEStreamDetector*> ds;
    for (auto& kv : detectors) ds.push_back(kv.second);
    for (auto* d : ds) {
        if (d->DetectFinal(final))
            any = true;
        else
            all = false;
    }
    return final ? any : all;
}

void CProgramStream::FinishDetection() {
    std::vector<CPEStream*> act;
    for (auto& kv : active) act.push_back(kv.second);
    for (auto* e : act) {
        current = e;
        SetState(1, e);
        NotifyStateChange();
        e->Activate();
    }
    std::vector<CPEStreamDetector*> ds;
    for (auto& kv : detectors) ds.push_back(kv.second);
    for (auto* d : ds) d->CreateStreams();
    detectors.clear();
    for (auto* d : ds) d->Release();
    current = nullptr;
}

void CProgramStream::RemoveChild(BS::AStreamElement* c) {
    for (auto it = active.begin(); it != active.end();) it = it->second == c ? active.erase(it) : std::next(it);
    for (auto it = detectors.begin(); it != detectors.end();)
        it = static_cast<BS::AStreamElement*>(it->second) == c ? detectors.erase(it) : std::next(it);
    if (static_cast<BS::AStreamElement*>(current) == c) current = nullptr;
    BS::CBaseWrapperStream<CProgramStreamState, BS::CBaseType>::RemoveChild(c);
}

}  // namespace M2PS
