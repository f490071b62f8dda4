#include "restamp/DemuxCommon/DFProgramStream.h"

uint32_t CDFProgramStream::OnPackHdr(const M2PS::PackEvent& ev) {
    if (owner) owner->OnTime(CStreamKey(), ClockToRefTime(ev.header->scr));
    return M2PS::CProgramStream::OnPackHdr(ev);
}

M2PS::CPEStream* CDFProgramStream::CreateSubStream(const M2PS::PESEvent&, const CStreamKey& key) {
    // Padding, private stream 2 and data streams get no element here.
    if (!IsMediaStreamId(key.streamId)) return nullptr;
    auto* det = BS::New<CDFPEStreamDetector>(key, this, owner);
    if (!det) return nullptr;
    AddChild(det);
    detectors[key] = det;
    MakeCurrent(det, false);
    det->family = FamilyOf(key.streamId);
    return det;
}

template <class T>
void CDFPEStreamDetector::Add(const CStreamKey& k) {
    if (!owner_) return;
    if (T* e = BS::New<T>(k, owner)) owner_->AddSubStream(e);
}

void CDFPEStreamDetector::OnVideoFound(const MVideo::DetectVideoStream&) {
    Add<CDFPESVideo>(Key());
}
void CDFPEStreamDetector::OnAudioFound(const MAudio::CAudioFormat&) {
    Add<CDFPESAudio>(Key());
}
void CDFPEStreamDetector::OnAACFound(const AAC::DetectAACStream&) {
    Add<CDFPEStream>(Key());
}
void CDFPEStreamDetector::OnSubstreamAC3Found(const AC3::DetectAC3&, const CStreamKey& k) {
    Add<CDFPESAC3>(k);
}
void CDFPEStreamDetector::OnAC3Found(const AC3::DetectAC3&) {
    Add<CDFPESAC3>(Key());
}
void CDFPEStreamDetector::OnLPCMFound(const LPCM::CLPCMHeader&, const CStreamKey&) {
    Add<CDFPEStream>(Key());
}
void CDFPEStreamDetector::OnAES3Found(const AES3::CAES3Header&) {
    Add<CDFPEStream>(Key());
}
void CDFPEStreamDetector::OnH264Found(const MH264::DetectH264&) {
    Add<CDFPEStream>(Key());
}
void CDFPEStreamDetector::OnMPEG4VideoFound(const DIVX::DetectDiv4Stream&) {
    Add<CDFPEStream>(Key());
}

uint32_t CDFPEStream::OnPESPacketHdr(const M2PS::PESEvent& ev, BS::ParserControl* ctl) {
    M2PS::CPEStream::OnPESPacketHdr(ev, ctl);
    if (ev.header->ptsValid) pendingTime = ClockToRefTime(ev.header->pts);
    if (owner) owner->OnPayload(payload.data, payload.length, pendingTime, Key());
    pendingTime = kNoTime;
    return 1;
}

uint32_t CDFPEStream::OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) {
    if (!M2PS::CPEStream::OnData(pos, d, len, ctl, flag)) return 1;
    if (owner) owner->OnPayload(lastPtr, lastLen, pendingTime, Key());
    return 1;
}
