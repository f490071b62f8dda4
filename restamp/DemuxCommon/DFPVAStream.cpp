#include "restamp/DemuxCommon/DFPVAStream.h"

PVA::CPVAESStream* CDFPVAStream::CreateSubStream(const PVA::AVEvent& ev, const CStreamKey& key) {
    if (ev.header->kind == PVA::kOther) return nullptr;
    auto* det = BS::New<CDFPVAStreamDetector>(key, this, owner);
    if (!det) return nullptr;
    det->family = ev.header->kind == PVA::kVideo ? kFormatMpegVideo : kFormatMpegAudio;
    AddChild(det);
    detectors[key] = det;
    MakeCurrent(det, false);
    return det;
}

void CDFPVAStreamDetector::OnVideoFound(const MVideo::DetectVideoStream&) {
    if (owner_)
        if (auto* e = BS::New<CDFPVAPayloadVideo>(Key(), owner)) owner_->AddSubStream(e);
}

void CDFPVAStreamDetector::OnAudioFound(const MAudio::CAudioFormat&) {
    if (owner_)
        if (auto* e = BS::New<CDFPVAPayloadAudio>(Key(), owner)) owner_->AddSubStream(e);
}

void CDFPVAPayloadStream::Report(const uint8_t* d, uint32_t len) {
    if (owner) owner->OnPayload(d, len, pendingTime, Key());
    pendingTime = kNoTime;
}

uint32_t CDFPVAPayloadStream::OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl,
                                     uint32_t flag) {
    if (!PVA::CPVAESStream::OnData(pos, d, len, ctl, flag)) return 0;
    Report(lastPtr, lastLen);
    return 1;
}

uint32_t CDFPVAPayloadVideo::OnAVHeader(const PVA::AVEvent& ev, BS::ParserControl* ctl) {
    PVA::CPVAESStream::OnAVHeader(ev, ctl);
    const PVA::CAVHeader& h = *ev.header;
    if (h.ptsFlag) pendingTime = ClockToRefTime(h.pts);
    const uint32_t hs = h.HeaderSize();
    Report(ev.data + hs, taken_ > hs ? taken_ - hs : 0);
    return 1;
}

uint32_t CDFPVAPayloadAudio::OnAVHeader(const PVA::AVEvent& ev, BS::ParserControl* ctl) {
    PVA::CPVAESStream::OnAVHeader(ev, ctl);
    const PVA::CAVHeader& h = *ev.header;
    const uint32_t hs = h.HeaderSize();
    if (taken_ <= hs) return 1;
    const uint8_t* p = ev.data + hs;
    uint32_t n = taken_ - hs;
    M2PS::CPESPacketHdr pes;
    const uint32_t skip = PVA::ParseAudioPes(h, p, n, &pes);
    if (skip && pes.ptsValid) pendingTime = ClockToRefTime(pes.pts);
    p += skip;
    n -= skip;
    if (!n) {
        pendingTime = kNoTime;
        return 1;
    }
    Report(p, n);
    return 1;
}
