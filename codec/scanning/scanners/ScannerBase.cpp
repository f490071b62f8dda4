#include "codec/scanning/scanners/ScannerBase.h"

#include <cstdint>

using muxcore::AccessUnit;
using muxcore::kNoTime;

CScannerBase::CScannerBase(ScannerHost* host) : host_(host) {
    CScannerBase::Reset();
}

void CScannerBase::Reset() {
    pendingStart_ = nullptr;
    lastUnitEnd_ = nullptr;
    firstCall_ = true;
    firstDerivedDts_ = true;
    configured_ = false;
    pendingPts_ = kNoTime;
    lastSamplePts_ = kNoTime;
    lastStamp_ = 0;
    prevRefPts_ = kNoTime;
    firstDts_ = kNoTime;
    startupDelay_ = 0;
    unitDuration_ = 0;
    unitsEmitted_ = 0;
    bytesEmitted_ = 0;
    stampsConsumed_ = 0;
}

bool CScannerBase::HoldsData() const {
    return pendingStart_ && pendingStart_ < host_->DataEnd();
}

void CScannerBase::Move(ptrdiff_t d) {
    if (pendingStart_) pendingStart_ += d;
    if (lastUnitEnd_) lastUnitEnd_ += d;
}

void CScannerBase::OnDataShifted(ptrdiff_t distance) {
    Move(-distance);
}

void CScannerBase::OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) {
    Move(newBase - oldBase);
}

int64_t CScannerBase::TakeSampleStamp(const uint8_t* unitStart) {
    const uint8_t* limit = unitStart;
    if (host_->TimingMode() == muxcore::kCaptureMode && lastUnitEnd_ && lastUnitEnd_ > unitStart) limit = lastUnitEnd_;
    muxcore::AccessUnitQueue& q = host_->SampleTimes();
    int64_t candidate = kNoTime;
    AccessUnit r;
    while (q.Peek(r) == 0) {
        if (r.location > limit) break;
        q.Pop();
        if (r.ptsPresent && (r.pts != lastSamplePts_ || r.location >= unitStart)) {
            candidate = r.pts;
            ++stampsConsumed_;
        }
    }
    return candidate;
}

void CScannerBase::ClassifyAccessUnit(AccessUnit& u, bool& derivedDts) {
    u.kind = muxcore::kUnitAudio;
    derivedDts = false;
}

int64_t CScannerBase::ComputeTimestamp() {
    return lastStamp_ + host_->FrameDuration();
}

void CScannerBase::Finish(AccessUnit& u) {
    if (firstDts_ == kNoTime && u.dtsPresent) firstDts_ = u.dts;
    const int64_t shift = host_->TimeShift();
    u.pts += shift;
    u.dts += shift;
    ++unitsEmitted_;
    host_->QueueAccessUnit(u);
}

int CScannerBase::EmitAccessUnit(uint8_t* end, bool hasStamp, bool /*keepPending*/) {
    if (!end) return 1;
    if (firstCall_) {
        firstCall_ = false;
        pendingStart_ = host_->DataStart();
        lastStamp_ = 0;
        return 0;
    }
    const int64_t f = host_->FrameDuration();
    AccessUnit u = muxcore::ZeroUnit();
    u.kind = muxcore::kUnitNoPicture;
    bool derived = false;
    if (hasStamp) {
        const int64_t s = TakeSampleStamp(pendingStart_);
        if (s != kNoTime) pendingPts_ = s;
        int64_t pts = pendingPts_;
        if (pts == kNoTime)
            pts = ComputeTimestamp();
        else
            OnSampleStamp(pts);
        if (pts == kNoTime && EstimateTimestamp(pts)) pts = kNoTime;
        u.pts = pts;
        u.ptsPresent = pts != kNoTime;
        ClassifyAccessUnit(u, derived);
        if (derived) {
            // A reference picture decodes when the previous one is shown: the
            // decoding times then increase in every output mode.
            u.dts = firstDerivedDts_ || prevRefPts_ == kNoTime ? pts - f : prevRefPts_;
            u.dtsPresent = u.ptsPresent;
            firstDerivedDts_ = false;
            prevRefPts_ = pts;
        }
        if (u.ptsPresent) lastStamp_ = pts;
        lastSamplePts_ = pendingPts_;
        pendingPts_ = kNoTime;
    } else {
        ClassifyAccessUnit(u, derived);
        derived = false;
    }
    if (!derived) {
        u.dts = u.pts;
        u.dtsPresent = u.ptsPresent;
    }
    if (IsVideo() && u.kind == muxcore::kUnitNoPicture) return 0;  // its bytes join the next unit
    UnitHook(u);
    u.location = pendingStart_;
    u.size = static_cast<int32_t>(end - pendingStart_);
    u.unitStart = 1;
    pendingStart_ = end;
    lastUnitEnd_ = end;
    if (!u.dtsPresent) {
        u.dts = lastStamp_ + f;
        u.dtsPresent = 1;
        lastStamp_ = u.dts;
        if (!u.ptsPresent) {
            u.pts = u.dts;
        }
    }
    if (IsVideo())
        CountEmitted(u.size, u.dts);
    else
        bytesEmitted_ += u.size;
    Finish(u);
    return 0;
}

void CScannerBase::CountEmitted(int32_t size, int64_t dts) {
    bytesEmitted_ += size;
    if (dts <= 0) return;
    const double rate = static_cast<double>(bytesEmitted_) * 8 / (static_cast<double>(dts) * 1e-7);
    host_->SetRealBitrate(rate < static_cast<double>(INT32_MAX) ? static_cast<int32_t>(rate) : INT32_MAX);
}

int CScannerBase::EmitAudioUnit(uint8_t* end) {
    if (!end) return 1;
    if (firstCall_) {
        firstCall_ = false;
        pendingStart_ = host_->DataStart();
        return 0;
    }
    if (end <= pendingStart_) return 0;
    AccessUnit u = muxcore::ZeroUnit();
    int64_t pts = TakeSampleStamp(pendingStart_);
    if (pts == kNoTime) pts = ComputeTimestamp();
    if (pts == kNoTime) pts = lastStamp_;
    u.kind = muxcore::kUnitAudio;
    u.pts = u.dts = pts;
    u.ptsPresent = u.dtsPresent = 1;
    lastStamp_ = pts;
    u.location = pendingStart_;
    u.size = static_cast<int32_t>(end - pendingStart_);
    u.unitStart = 1;
    pendingStart_ = end;
    lastUnitEnd_ = end;
    bytesEmitted_ += u.size;
    Finish(u);
    return 0;
}

void CScannerBase::Discard(uint8_t* pos, int32_t length) {
    if (pendingStart_ && pos > pendingStart_) EmitAccessUnit(pos, true);
    if (pendingStart_ && pos + length > pendingStart_) pendingStart_ = pos + length;
    host_->SampleTimes().Clear();
}

void CScannerBase::FlushAtEnd() {
    uint8_t* end = host_->DataEnd();
    if (firstCall_) {
        // Nothing was recognised: the whole buffer is one unit.
        firstCall_ = false;
        pendingStart_ = host_->DataStart();
        lastStamp_ = -host_->FrameDuration();
    }
    if (pendingStart_ && end > pendingStart_) {
        if (IsVideo())
            EmitAccessUnit(end, true);
        else
            EmitAudioUnit(end);
    }
    host_->SampleTimes().Clear();
}

std::unique_ptr<CScannerBase> CreateScanner(int32_t t, ScannerHost* host) {
    using namespace muxcore;
    switch (t) {
        case kPinMpeg2Video:
        case kPinMpeg1Video:
            return std::make_unique<CScannerMPEG2>(host);
        case kPinMpeg2Audio:
        case kPinMpeg1Audio:
            return std::make_unique<CScannerAudioFrames>(host, CScannerAudioFrames::kMpegAudio);
        case kPinAc3:
            return std::make_unique<CScannerAudioFrames>(host, CScannerAudioFrames::kAc3);
        case kPinAac:
            return std::make_unique<CScannerAudioFrames>(host, CScannerAudioFrames::kAac);
        case kPinPcm:
            return std::make_unique<CScannerLPCM>(host);
        case kPinH264:
        case kPinH264Soft:
            return std::make_unique<CScannerH264>(host);
        case kPinMpeg4v4:
        case kPinMpeg4v5:
        case kPinMpeg4:
            return std::make_unique<CScannerMPEG4>(host);
        case kPinVc1:
            return std::make_unique<CScannerVC1>(host);
        case kPinIgPes:
        case kPinPesMpegAudio:
        case kPinPesDvdSubtitles:
            return std::make_unique<CScannerPES>(host);
        default:
            return nullptr;
    }
}
