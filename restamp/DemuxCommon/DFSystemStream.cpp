#include "restamp/DemuxCommon/DFSystemStream.h"

namespace {

bool IsMpegMediaId(uint8_t sid) {
    return sid >= 0xC0 && sid <= 0xEF;
}

}  // namespace

uint32_t CDFSystemStream::OnPackHdr(const M2PS::PackEvent& ev) {
    CSSPositionWatcher* w = owner ? owner->PositionWatcher() : nullptr;
    if (w && !w->gop) w->pack = ev.position;
    return M2PS::CProgramStream::OnPackHdr(ev);  // no time for the SCR
}

uint32_t CDFSystemStream::OnPESPacketHdr(const M2PS::PESEvent& ev, BS::ParserControl* ctl) {
    CSSPositionWatcher* w = owner ? owner->PositionWatcher() : nullptr;
    if (w && !w->gop) w->packet = ev.position;
    return CDFProgramStream::OnPESPacketHdr(ev, ctl);
}

M2PS::CPEStream* CDFSystemStream::CreateSubStream(const M2PS::PESEvent&, const CStreamKey& key) {
    if (!IsMpegMediaId(key.streamId)) return nullptr;
    auto* det = BS::New<CDFEStreamDetector>(key, this, owner);
    if (!det) return nullptr;
    AddChild(det);
    detectors[key] = det;
    MakeCurrent(det, false);
    det->family = FamilyOf(key.streamId);
    return det;
}

void CDFEStreamDetector::OnVideoFound(const MVideo::DetectVideoStream& v) {
    if (!owner_) return;
    auto* e = BS::New<CDFESVideo>(Key(), owner);
    if (owner && !v.runCopy.empty()) owner->SetPendingSeqHeader(v.runCopy.data(), uint32_t(v.runCopy.size()));
    if (e) owner_->AddSubStream(e);
}

uint32_t CDFESVideo::OnPESPacketHdr(const M2PS::PESEvent& ev, BS::ParserControl* ctl) {
    M2PS::CPEStream::OnPESPacketHdr(ev, ctl);
    if (!wrapped) CreateSubElement(&ev);
    const uint32_t p = ev.header->payloadOffset;
    if (wrapped && lastTaken > p) video.Parse(ev.position + p, ev.data + p, lastTaken - p, 0);
    if (ev.header->ptsValid) pendingTime = ClockToRefTime(ev.header->pts);
    if (owner) owner->OnPayload(payload.data, payload.length, pendingTime, Key());
    pendingTime = kNoTime;
    return 1;
}

uint32_t CDFESVideo::OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) {
    if (!M2PS::CPEStream::OnData(pos, d, len, ctl, flag)) return 1;
    if (wrapped && lastLen) video.Parse(payload.position, lastPtr, lastLen, flag);
    if (owner) owner->OnPayload(lastPtr, lastLen, pendingTime, Key());
    return 1;
}

BS::AStreamElement* CDFESVideo::CreateSubElement(const BS::CBaseEvent*) {
    wrapped = video.GetStream();
    AddChild(wrapped);
    SetState(2, nullptr);
    NotifyStateChange();
    return wrapped;
}

void CDFESVideo::Activate() {
    if (wrapped) {
        SetState(2, nullptr);
        NotifyStateChange();
    } else {
        CreateSubElement(nullptr);
    }
}
