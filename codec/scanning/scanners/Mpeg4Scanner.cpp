// MPEG-4 Part 2 video (ISO/IEC 14496-2 elementary streams, "m4v").
#include "codec/scanning/scanners/ScannerBase.h"
#include "codec/scanning/scanners/StartCodeSearch.h"

#include <algorithm>
#include <cstring>

using muxcore::AccessUnit;
using muxcore::kNoTime;
namespace mpeg4 = MpegCommon::mpeg4;

namespace {

// Bytes a header is parsed from: the layer header with its VBV fields fits.
constexpr uint32_t kHeaderBytes = 64;
constexpr int64_t kDefaultFrameDuration = 400000;
// A resolution up to this many ticks per second is taken as the frame rate
// when the layer states no fixed rate (what encoders write for whole rates).
constexpr uint32_t kRateLikeResolution = 120;
constexpr double kTimeLimit = 1e15;  // 100 ns: about three years

}  // namespace

void CScannerMPEG4::Reset() {
    CScannerBase::Reset();
    vol_ = mpeg4::Vol();
    clock_.Reset();
    haveVol_ = picturePending_ = headersSinceVop_ = volSinceVop_ = false;
    pendingType_ = 0;
    pendingAfterVol_ = false;
    pendingTime_ = 0;
    haveFirstTime_ = false;
    firstTime_ = 0;
}

bool CScannerMPEG4::HoldsData() const {
    return picturePending_ || CScannerBase::HoldsData();
}

uint8_t* CScannerMPEG4::ParseData(uint8_t* pos, int32_t n) {
    if (!pos) return pos;
    if (firstCall_) {
        firstCall_ = false;
        pendingStart_ = host_->DataStart();
    }
    uint8_t* end = pos + n;
    const bool ended = host_->HasEnded();
    uint8_t* p = pos;
    for (;;) {
        if (host_->FreeUnitRecords() <= 0) return p;
        uint8_t* sc = startcode::Find(p, end);
        if (!sc) {
            if (end - p > 3) p = end - 3;
            break;
        }
        const uint32_t avail = static_cast<uint32_t>(end - sc);
        if (avail < kHeaderBytes && !ended) return sc;
        const uint8_t code = sc[3];
        if (code == mpeg4::kVop) {
            OnVop(sc);
        } else if (code >= mpeg4::kFirstVol && code <= mpeg4::kLastVol) {
            OnVol(sc);
        } else if (code == mpeg4::kGroupOfVop) {
            mpeg4::Gov g;
            if (g.Parse(sc, avail)) {
                OnHeader(sc);
                clock_.OnGov(g);
            }
        } else if (code == mpeg4::kVisualObjectSequence || code == mpeg4::kVisualObject ||
                   code <= mpeg4::kLastVideoObject) {
            OnHeader(sc);
        }
        p = sc + 3;
    }
    if (ended) FlushAtEnd();
    return ended ? end : p;
}

// A sequence-level header closes the pending VOP: it opens the next unit.
void CScannerMPEG4::OnHeader(uint8_t* at) {
    if (picturePending_ && !headersSinceVop_) {
        EmitAccessUnit(at, true);
        picturePending_ = false;
    }
    headersSinceVop_ = true;
}

void CScannerMPEG4::OnVol(uint8_t* at) {
    mpeg4::Vol v;
    if (!v.Parse(at, static_cast<uint32_t>(std::min<ptrdiff_t>(host_->DataEnd() - at, kHeaderBytes)))) return;
    OnHeader(at);
    vol_ = v;
    haveVol_ = true;
    volSinceVop_ = true;
    if (configured_) return;
    int64_t f = v.FixedDuration();
    if (f <= 0 && v.vop_time_increment_resolution <= kRateLikeResolution)
        f = 10000000 / v.vop_time_increment_resolution;
    if (f <= 0) f = host_->FrameDuration() > 0 ? host_->FrameDuration() : kDefaultFrameDuration;
    host_->SetFrameDuration(f);
    if (v.BitRate() > 0) host_->SetAnnouncedBitrate(static_cast<int32_t>(v.BitRate()));
    if (host_->CorrectEbSize() > 0)
        host_->SetElementaryBufferSize(host_->CorrectEbSize());
    else if (v.VbvBytes() > 0)
        host_->SetElementaryBufferSize(static_cast<int32_t>(v.VbvBytes()));
    // ISO/IEC 13818-1: the transport buffer of MPEG-4 video drains at 1.2 x its rate.
    const int32_t rate = host_->AnnouncedBitrate() > 0 ? host_->AnnouncedBitrate() : 2000000;
    host_->SetLeakRate(1.2 * rate / 8);
    configured_ = true;
    host_->ConfigureStream(f);
}

void CScannerMPEG4::OnVop(uint8_t* at) {
    mpeg4::Vop v;
    const uint32_t avail = static_cast<uint32_t>(std::min<ptrdiff_t>(host_->DataEnd() - at, kHeaderBytes));
    if (!haveVol_ || !v.Parse(at, avail, vol_)) return;
    if (picturePending_ && !headersSinceVop_) EmitAccessUnit(at, true);
    const int64_t t = clock_.Time(v, vol_);
    if (!haveFirstTime_) {
        haveFirstTime_ = true;
        firstTime_ = t;
    }
    picturePending_ = true;
    pendingType_ = v.vop_coding_type;
    pendingTime_ = t;
    pendingAfterVol_ = volSinceVop_;
    volSinceVop_ = false;
    headersSinceVop_ = false;
}

void CScannerMPEG4::ClassifyAccessUnit(AccessUnit& u, bool& derivedDts) {
    switch (pendingType_) {
        case mpeg4::kVopI:
            u.kind = pendingAfterVol_ ? muxcore::kUnitIWithSequence : muxcore::kUnitI;
            break;
        case mpeg4::kVopB:
            u.kind = muxcore::kUnitB;
            break;
        default:  // P and sprite VOPs are references
            u.kind = muxcore::kUnitP;
            break;
    }
    derivedDts = u.kind <= muxcore::kUnitP && u.ptsPresent;
}

int64_t CScannerMPEG4::ComputeTimestamp() {
    const uint32_t res = vol_.vop_time_increment_resolution;
    if (res == 0) return CScannerBase::ComputeTimestamp();
    // Damaged time stamps must not carry the time out of range.
    const double t = static_cast<double>(pendingTime_ - firstTime_) * 1e7 / res;
    return static_cast<int64_t>(std::clamp(t, -kTimeLimit, kTimeLimit));
}

void CScannerMPEG4::FlushAtEnd() {
    uint8_t* end = host_->DataEnd();
    if (picturePending_) {
        EmitAccessUnit(end, true);
        picturePending_ = false;
    } else if (haveFirstTime_ && pendingStart_ && end > pendingStart_) {
        // Headers after the last VOP (an end code) go out as a last unit.
        pendingType_ = mpeg4::kVopB;
        pendingTime_ += host_->FrameDuration() * vol_.vop_time_increment_resolution / 10000000;
        EmitAccessUnit(end, true);
    }
    host_->SampleTimes().Clear();
}
