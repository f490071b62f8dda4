#include "restamp/parsers/PVA.h"

namespace PVA {
namespace {

constexpr uint8_t kVideoId = 1;
constexpr uint8_t kAudioId = 2;
constexpr uint8_t kPtsFlagBit = 0x10;

bool IsSync(const uint8_t* d) {
    return d[0] == 'A' && d[1] == 'V';
}

}  // namespace

bool CAVHeader::Parse(const uint8_t* d, uint32_t len) {
    if (len < kHeaderSize || !IsSync(d)) return false;
    Clear();
    kind = d[2] == kVideoId ? kVideo : d[2] == kAudioId ? kAudio : kOther;
    counter = d[3];
    flags = d[5];
    ptsFlag = (flags & kPtsFlagBit) ? 1 : 0;
    preBytes = (flags >> 2) & 3;
    postBytes = flags & 3;
    length = uint16_t((d[6] << 8) | d[7]);
    if (kind == kVideo && ptsFlag) {
        if (len < kHeaderSize + kPtsSize) return false;
        pts = (uint32_t(d[8]) << 24) | (uint32_t(d[9]) << 16) | (uint32_t(d[10]) << 8) | d[11];
    }
    return valid = true;
}

const uint8_t* CPVAParserImpl::FindNext() {
    if (len_ < kHeaderSize || pos_ > len_ - kHeaderSize) return nullptr;
    const uint32_t last = len_ - kHeaderSize;
    for (uint32_t i = pos_; i <= last;) {
        const void* p = std::memchr(data_ + i, 'A', last - i + 1);
        if (!p) break;
        i = uint32_t(static_cast<const uint8_t*>(p) - data_);
        if (data_[i + 1] == 'V') {
            hit_ = i;
            pos_ = i + 1;
            return data_ + i;
        }
        ++i;
    }
    pos_ = last + 1;  // the last 7 bytes are searched again with more data
    return nullptr;
}

uint32_t ParseAudioPes(const CAVHeader& h, const uint8_t* payload, uint32_t len, M2PS::CPESPacketHdr* hdr) {
    if (!h.ptsFlag || !hdr->Parse(payload, len)) return 0;
    return hdr->payloadOffset <= len ? hdr->payloadOffset : len;
}

// --- payload streams --------------------------------------------------------------

uint32_t CPVAESStream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    if (const AVEvent* e = BS::EventAs<CAVHeader>(ev)) return OnAVHeader(*e, ctl);
    return 0;
}

uint32_t CPVAESStream::OnAVHeader(const AVEvent& ev, BS::ParserControl* ctl) {
    const uint32_t size = ev.header->PacketSize();
    taken_ = size < ev.length ? size : ev.length;
    workRemaining = size - taken_;
    workPosition = ev.position + taken_;
    if (ctl) {
        ctl->skip = taken_;
        ctl->remaining = workRemaining;
        ctl->sink = workRemaining ? this : nullptr;
    }
    SetState(1, &ev);
    NotifyStateChange();
    return 1;
}

uint32_t CPVAESStream::OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) {
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
    if (!workRemaining || !len) {
        if (ctl) {
            ctl->remaining = 0;
            ctl->sink = nullptr;
        }
        return 0;
    }
    const uint32_t take = len < workRemaining ? len : workRemaining;
    workRemaining -= take;
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
    SetState(3, &payload);
    NotifyStateChange();
    return 1;
}

uint32_t CPVAStreamDetector::OnAVHeader(const AVEvent& ev, BS::ParserControl* ctl) {
    CPVAESStream::OnAVHeader(ev, ctl);
    const CAVHeader& h = *ev.header;
    const uint32_t hs = h.HeaderSize();
    if (taken_ <= hs) return 1;
    const uint8_t* p = ev.data + hs;
    uint32_t n = taken_ - hs;
    uint64_t at = ev.position + hs;
    if (h.kind == kAudio) {
        M2PS::CPESPacketHdr pes;
        const uint32_t skip = ParseAudioPes(h, p, n, &pes);
        p += skip;
        n -= skip;
        at += skip;
    } else if (h.kind != kVideo) {
        return 1;
    }
    if (n) AddData(at, p, n, ev.flag, true);
    return 1;
}

uint32_t CPVAStreamDetector::OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl,
                                    uint32_t flag) {
    if (!CPVAESStream::OnData(pos, d, len, ctl, flag)) return 0;
    if (lastLen) AddData(payload.position, lastPtr, lastLen, flag, false);
    return 1;
}

uint32_t CPVAStreamDetector::CreateStreams() {
    DetectFinal(true);
    if (!detected || !owner_) return 0;
    if (detected == kFormatMpegVideo || detected == kFormatMpegAudio)
        if (auto* e = BS::New<CPVAESStream>(Key())) owner_->AddSubStream(e);
    return 1;
}

// --- container ----------------------------------------------------------------------

void CPVAStream::MakeCurrent(CPVAESStream* e, bool notify) {
    if (current == e) return;
    current = e;
    SetState(3, e);
    if (notify) NotifyStateChange();
}

uint32_t CPVAStream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    const AVEvent* e = BS::EventAs<CAVHeader>(ev);
    if (!e) return current ? current->OnEvent(ev, ctl) : 0;
    BS::ParserControl local;
    BS::ParserControl* c = ctl ? ctl : &local;
    c->skip = 0;
    c->remaining = 0;
    c->sink = nullptr;
    OnAVHeader(*e, c);
    if (!c->skip) {
        // Nobody took the packet: step over it all the same, so that its
        // payload is never searched for headers.
        const uint32_t size = e->header->PacketSize();
        const uint32_t inHand = size < e->length ? size : e->length;
        c->skip = size;
        skipRemaining_ = size - inHand;
        c->remaining = skipRemaining_;
        c->sink = skipRemaining_ ? this : nullptr;
    }
    return 1;
}

uint32_t CPVAStream::OnData(uint64_t, const uint8_t*, uint32_t len, BS::ParserControl* ctl, uint32_t) {
    const uint32_t take = len < skipRemaining_ ? len : skipRemaining_;
    skipRemaining_ -= take;
    if (ctl) {
        ctl->skip = take;
        ctl->remaining = skipRemaining_;
        if (!skipRemaining_) ctl->sink = nullptr;
    }
    return 1;
}

uint32_t CPVAStream::OnAVHeader(const AVEvent& ev, BS::ParserControl* ctl) {
    const CStreamKey key(0, uint8_t(ev.header->kind), 0, 0, 0);
    CPVAESStream* e = nullptr;
    auto it = active.find(key);
    if (it != active.end()) {
        e = it->second;
    } else {
        auto dit = detectors.find(key);
        if (dit != detectors.end()) e = dit->second;
    }
    if (e)
        MakeCurrent(e, true);
    else
        e = CreateSubStream(ev, key);
    SetState(2, &ev);
    NotifyStateChange();
    if (e) e->OnEvent(ev, ctl);
    return 0;
}

CPVAESStream* CPVAStream::CreateSubStream(const AVEvent& ev, const CStreamKey& key) {
    if (ev.header->kind == kOther) return nullptr;
    auto* det = BS::New<CPVAStreamDetector>(key, this);
    if (!det) return nullptr;
    det->family = ev.header->kind == kVideo ? kFormatMpegVideo : kFormatMpegAudio;
    AddChild(det);
    detectors[key] = det;
    current = det;
    SetState(3, det);
    return det;
}

void CPVAStream::AddSubStream(CPVAESStream* e) {
    AddChild(e);
    active[e->Key()] = e;
    current = e;
    SetState(1, e);
    NotifyStateChange();
    SetState(3, e);
    NotifyStateChange();
    e->Activate();
    current = nullptr;
    SetState(3, nullptr);
}

bool CPVAStream::DetectSubStreams(bool final) {
    bool any = false, all = true;
    std::vector<CPVAStreamDetector*> ds;
    for (auto& kv : detectors) ds.push_back(kv.second);
    for (auto* d : ds) {
        if (d->DetectFinal(final))
            any = true;
        else
            all = false;
    }
    return final ? any : (all && !ds.empty());
}

void CPVAStream::FinishDetection() {
    std::vector<CPVAESStream*> act;
    for (auto& kv : active) act.push_back(kv.second);
    for (auto* e : act) {
        current = e;
        SetState(1, e);
        NotifyStateChange();
    }
    std::vector<CPVAStreamDetector*> ds;
    for (auto& kv : detectors) ds.push_back(kv.second);
    for (auto* d : ds) d->CreateStreams();
    detectors.clear();
    for (auto* d : ds) d->Release();
    current = nullptr;
}

void CPVAStream::RemoveChild(BS::AStreamElement* c) {
    for (auto it = active.begin(); it != active.end();) it = it->second == c ? active.erase(it) : std::next(it);
    for (auto it = detectors.begin(); it != detectors.end();)
        it = static_cast<BS::AStreamElement*>(it->second) == c ? detectors.erase(it) : std::next(it);
    if (static_cast<BS::AStreamElement*>(current) == c) current = nullptr;
    BS::CBaseWrapperStream<CPVAStreamState, BS::CBaseType>::RemoveChild(c);
}

}  // namespace PVA

int DetectPVAStream(const uint8_t* d, uint32_t len) {
    PVA::CAVHeader h;
    int result = 0;
    uint64_t off = 0, rem = len;
    while (rem > PVA::kHeaderSize) {
        if (h.Parse(d + off, uint32_t(rem))) {
            // The result changes only where a chain steps to the next packet.
            for (;;) {
                const uint64_t size = h.PacketSize();
                if (size + PVA::kHeaderSize > rem) break;
                off += size;
                rem -= size;
                if (h.Parse(d + off, uint32_t(rem))) {
                    result = 1;
                } else {
                    result = 0;
                    break;
                }
            }
        }
        off += 1;
        rem -= 1;
    }
    return result;
}
