// MPEG-1/MPEG-2 video: one access unit per picture (a field pair counts as
// one); sequence and group headers join the picture that follows them.
#include "codec/scanning/scanners/ScannerBase.h"
#include "codec/scanning/scanners/StartCodeSearch.h"

#include "codec/common/MpegCodes.h"

#include <algorithm>

using muxcore::AccessUnit;
using muxcore::kNoTime;

namespace {

// Next 00 00 01 at or after p with at least 4 bytes from it, else null.
uint8_t* FindStartCode(uint8_t* p, uint8_t* end) {
    return startcode::Find(p, end);
}

// Transport-buffer leak multiplier (x 150000 bytes/s) by profile and level.
int LeakFactor(uint32_t pli) {
    const uint32_t profile = (pli >> 4) & 7;
    const uint32_t level = pli & 15;
    if (pli & 0x80)  // escape-coded
        return level == 8 ? 20 : level == 6 ? 80 : level == 4 ? 100 : 120;
    switch (profile) {
        case 5:  // Simple
            return level == 8 ? 15 : 60;
        case 4:  // Main
            return level == 10 ? 4 : level == 8 ? 15 : level == 6 ? 60 : 80;
        case 1:  // High
            return level == 8 ? 20 : level == 6 ? 80 : level == 4 ? 100 : 120;
        default:
            return 120;
    }
}

}  // namespace

void CScannerMPEG2::Reset() {
    CScannerBase::Reset();
    picturePending_ = false;
    pendingType_ = 0;
    pendingTemporalRef_ = 0;
    pendingAfterSequence_ = false;
    pendingField_ = false;
    pendingFields_ = 0;
    seqSinceLastPicture_ = false;
    gopSinceLastPicture_ = false;
    seqExtSeen_ = false;
    anyPicture_ = false;
    gopBase_ = 0;
    gopPictures_ = 0;
    groupDurations_.clear();
    groupSpan_ = 0;
    repeatsFields_ = false;
    firstExtSeen_ = false;
    firstTopFieldFirst_ = false;
    emittedPicture_ = false;
    emittedTemporalRef_ = 0;
    vbvDelay_ = 0xFFFF;
    vbvBytes_ = 0;
    group_.Clear();
    groupStart_ = nullptr;
    runningTime_ = 0;
}

void CScannerMPEG2::OnDataShifted(ptrdiff_t distance) {
    CScannerBase::OnDataShifted(distance);
    group_.Shift(distance);
    if (groupStart_) groupStart_ -= distance;
}

void CScannerMPEG2::OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) {
    CScannerBase::OnDataMoved(oldBase, newBase);
    group_.Move(newBase - oldBase);
    if (groupStart_) groupStart_ += newBase - oldBase;
}

void CScannerMPEG2::HoldPendingPicture(uint8_t* end) {
    AccessUnit u = muxcore::ZeroUnit();
    bool derived = false;
    ClassifyAccessUnit(u, derived);
    u.location = pendingStart_;
    u.size = static_cast<int32_t>(end - pendingStart_);
    u.unitStart = 1;
    group_.Add(u, pendingTemporalRef_, unitDuration_ > 0 ? unitDuration_ : host_->FrameDuration());
    pendingStart_ = end;
    lastUnitEnd_ = end;
    picturePending_ = false;
}

void CScannerMPEG2::FlushGroup() {
    if (group_.Empty()) return;
    int64_t anchor = TakeSampleStamp(group_[0].unit.location);
    if (anchor == kNoTime) anchor = runningTime_;
    const std::vector<int64_t> times = group_.AssignTimes(anchor, runningTime_);
    const int64_t f = host_->FrameDuration();
    for (size_t i = 0; i < group_.Size(); ++i) {
        AccessUnit u = group_[i].unit;
        u.pts = times[i];
        u.ptsPresent = u.dtsPresent = 1;
        if (u.kind <= muxcore::kUnitP) {
            if (prevRefPts_ == kNoTime) {
                startupDelay_ = vbvDelay_ != 0xFFFF ? static_cast<int64_t>(vbvDelay_) * 1000 / 9 : 0;
                if (startupDelay_ == 0 && host_->AnnouncedBitrate() > 0)
                    startupDelay_ = static_cast<int64_t>(vbvBytes_) * 8 * 10000000 / host_->AnnouncedBitrate();
            }
            // The first reference picture decodes two frames ahead, and at
            // least before every picture shown ahead of it (an open group's
            // leading B pictures), as in capture mode.
            const int64_t lead = std::max<int64_t>(2, group_[i].key + 1);
            u.dts = prevRefPts_ == kNoTime ? u.pts - lead * f : prevRefPts_;
            prevRefPts_ = u.pts;
        } else {
            u.dts = u.pts;
        }
        lastStamp_ = u.pts;
        // Sample records up to this unit's end are used up.
        AccessUnit r;
        while (host_->SampleTimes().Peek(r) == 0 && r.location < u.location + u.size) host_->SampleTimes().Pop();
        bytesEmitted_ += u.size;
        Finish(u);
    }
    group_.Clear();
}

bool CScannerMPEG2::HoldsData() const {
    return picturePending_ || !group_.Empty() || CScannerBase::HoldsData();
}

uint8_t* CScannerMPEG2::ParseData(uint8_t* pos, int32_t n) {
    if (!pos) return pos;
    if (firstCall_) {
        // Bytes before the first picture travel with it.
        firstCall_ = false;
        pendingStart_ = host_->DataStart();
    }
    uint8_t* end = pos + n;
    const bool ended = host_->HasEnded();
    uint8_t* p = pos;
    for (;;) {
        if (host_->FreeUnitRecords() <= 0) return p;
        uint8_t* sc = FindStartCode(p, end);
        if (!sc) {
            // Keep the last three bytes: a start code may straddle the end.
            if (end - p > 3) p = end - 3;
            break;
        }
        const uint8_t code = sc[3];
        const uint32_t avail = static_cast<uint32_t>(end - sc);
        const uint32_t need = code == MpegCommon::kSequenceHeaderCode ? 140u : 12u;
        if (avail < need && !ended) {
            p = sc;
            return p;
        }
        if (code == MpegCommon::kSequenceHeaderCode) {
            if (consumer_.seqHdr.Parse(sc, avail, false)) OnSequenceHeader(sc);
        } else if (code == MpegCommon::kExtensionStartCode) {
            if (consumer_.seqExt.Parse(sc, avail, false))
                OnSequenceExtension();
            else if (consumer_.pictureCodingExt.Parse(sc, avail))
                OnPictureCodingExtension();
        } else if (code == MpegCommon::kGroupStartCode) {
            if (consumer_.gop.Parse(sc, avail, false)) OnGop(sc);
        } else if (code == MpegCommon::kPictureStartCode) {
            if (consumer_.pictureHdr.Parse(sc, avail)) OnPicture(sc);
        }
        p = sc + 4;
    }
    if (ended) FlushAtEnd();
    return ended ? end : p;
}

void CScannerMPEG2::OnSequenceHeader(uint8_t* at) {
    const SPL_VES::VESSeqHdr& h = consumer_.seqHdr;
    if (Reconstructing()) {
        if (!groupStart_) groupStart_ = at;
    } else if (picturePending_) {
        EmitAccessUnit(at, true);
        picturePending_ = false;
    }
    seqSinceLastPicture_ = true;
    if (h.frameDuration > 0) host_->SetFrameDuration(h.frameDuration);
    // 0x3FFFF announces a variable bit rate, not a rate.
    if (h.bit_rate_value > 0 && h.bit_rate_value != 0x3FFFF)
        host_->SetAnnouncedBitrate(static_cast<int32_t>(h.bitRate));
    vbvBytes_ = static_cast<int32_t>(h.vbv_buffer_size_value) * 2048;
    const int32_t eb = host_->CorrectEbSize() >= 1 ? host_->CorrectEbSize() : vbvBytes_;
    if (eb > 0) host_->SetElementaryBufferSize(eb);
    if (!configured_) {
        configured_ = true;
        host_->ConfigureStream(host_->FrameDuration());
    }
}

void CScannerMPEG2::OnSequenceExtension() {
    if (seqExtSeen_) return;
    seqExtSeen_ = true;
    const SPL_VES::VESSeqExt& e = consumer_.seqExt;
    host_->SetLeakRate(LeakFactor(e.profile_and_level_indication) * 150000.0);
    // The extension carries the high bits of the rate and buffer size.
    const SPL_VES::VESSeqHdr& h = consumer_.seqHdr;
    const uint32_t rate = (e.bit_rate_extension << 18) | h.bit_rate_value;
    if (h.bit_rate_value != 0x3FFFF && rate > 0 && rate * 400ull < 0x7FFFFFFF)
        host_->SetAnnouncedBitrate(static_cast<int32_t>(rate * 400u));
    const int64_t vbv = (static_cast<int64_t>(e.vbv_buffer_size_extension) << 10 | h.vbv_buffer_size_value) * 2048;
    if (vbv > 0 && vbv < 0x7FFFFFFF) {
        vbvBytes_ = static_cast<int32_t>(vbv);
        if (host_->CorrectEbSize() < 1) host_->SetElementaryBufferSize(vbvBytes_);
    }
}

void CScannerMPEG2::OnGop(uint8_t* at) {
    if (Reconstructing()) {
        if (!groupStart_) groupStart_ = at;
    } else if (picturePending_) {
        EmitAccessUnit(at, true);
        picturePending_ = false;
    }
    gopSinceLastPicture_ = true;
}

void CScannerMPEG2::OnPicture(uint8_t* at) {
    const SPL_VES::VESPictureHdr& h = consumer_.pictureHdr;
    if (!anyPicture_) {
        if (!seqExtSeen_) host_->SetLeakRate(600000.0);  // MPEG-1
        if (!configured_) {
            configured_ = true;
            host_->ConfigureStream(host_->FrameDuration());
        }
        vbvDelay_ = h.vbv_delay;
    }
    const bool boundary = seqSinceLastPicture_ || gopSinceLastPicture_;
    if (picturePending_ && pendingField_ && pendingFields_ == 1 && !boundary &&
        h.temporal_reference == pendingTemporalRef_) {
        pendingFields_ = 2;  // second field of the pending frame
        return;
    }
    if (Reconstructing()) {
        // The held picture ends where the headers before this one begin.
        uint8_t* end = groupStart_ ? groupStart_ : at;
        if (picturePending_) HoldPendingPicture(end);
        if (boundary || h.picture_coding_type == 1) FlushGroup();
        groupStart_ = nullptr;
    } else if (picturePending_) {
        EmitAccessUnit(at, true);
    }
    if (anyPicture_ && gopSinceLastPicture_) {
        // The new group starts where the shown pictures of the last one end.
        gopBase_ += groupSpan_ > 0 ? groupSpan_ : gopPictures_ * host_->FrameDuration();
        gopPictures_ = 0;
        groupSpan_ = 0;
        groupDurations_.clear();
    }
    ++gopPictures_;
    anyPicture_ = true;
    picturePending_ = true;
    pendingType_ = h.picture_coding_type;
    pendingTemporalRef_ = h.temporal_reference;
    pendingAfterSequence_ = seqSinceLastPicture_;
    pendingField_ = false;
    pendingFields_ = 1;
    unitDuration_ = host_->FrameDuration();
    seqSinceLastPicture_ = false;
    gopSinceLastPicture_ = false;
}

void CScannerMPEG2::OnPictureCodingExtension() {
    const SPL_VES::VESPictureCodingExt& e = consumer_.pictureCodingExt;
    if (!picturePending_) return;
    if (pendingFields_ == 1) pendingField_ = e.picture_structure == 1 || e.picture_structure == 2;
    unitDuration_ = e.repeat_first_field ? host_->FrameDuration() * 3 / 2 : host_->FrameDuration();
    if (e.repeat_first_field) repeatsFields_ = true;
    if (!firstExtSeen_) {
        firstExtSeen_ = true;
        firstTopFieldFirst_ = e.top_field_first != 0;
    }
}

int64_t CScannerMPEG2::OffsetOf(uint32_t t) const {
    const int64_t f = host_->FrameDuration();
    if (!repeatsFields_) return static_cast<int64_t>(t) * f;
    const int64_t own = unitDuration_ > 0 ? unitDuration_ : f;
    const int64_t other = own == f ? f * 3 / 2 : f;
    int64_t sum = 0;
    for (uint32_t k = 0; k < t; ++k) {
        const auto it = groupDurations_.find(k);
        sum += it != groupDurations_.end() ? it->second : (t - k) % 2 == 0 ? own : other;
    }
    return sum;
}

void CScannerMPEG2::UnitHook(AccessUnit&) {
    if (!picturePending_) return;
    const int64_t d = unitDuration_ > 0 ? unitDuration_ : host_->FrameDuration();
    if (groupDurations_.emplace(pendingTemporalRef_, d).second) groupSpan_ += d;
    emittedPicture_ = true;
    emittedTemporalRef_ = pendingTemporalRef_;
}

bool CScannerMPEG2::EstimateTimestamp(int64_t& pts) {
    // From the last picture by the distance in temporal references; not for
    // an I picture (a new group counts afresh) nor for top-field-first streams.
    if (!emittedPicture_ || pendingType_ == 1 || firstTopFieldFirst_) return true;
    const int64_t t =
        lastStamp_ + (static_cast<int64_t>(pendingTemporalRef_) - emittedTemporalRef_) * host_->FrameDuration();
    if (t < 0) return true;
    pts = t;
    return false;
}

void CScannerMPEG2::ClassifyAccessUnit(AccessUnit& u, bool& derivedDts) {
    switch (pendingType_) {
        case 1:
            u.kind = pendingAfterSequence_ ? muxcore::kUnitIWithSequence : muxcore::kUnitI;
            break;
        case 2:
            u.kind = muxcore::kUnitP;
            break;
        case 3:
            u.kind = muxcore::kUnitB;
            break;
        default:
            u.kind = picturePending_ ? muxcore::kUnitAudio : muxcore::kUnitNoPicture;
            break;
    }
    derivedDts = u.kind <= muxcore::kUnitP;
    if (derivedDts && firstDerivedDts_ && u.ptsPresent) {
        // Pictures shown before the first reference one decode after it:
        // start the decoding times early enough to keep them increasing.
        startupDelay_ = vbvDelay_ != 0xFFFF ? static_cast<int64_t>(vbvDelay_) * 1000 / 9 : 0;
        if (startupDelay_ == 0 && host_->AnnouncedBitrate() > 0)
            startupDelay_ = static_cast<int64_t>(vbvBytes_) * 8 * 10000000 / host_->AnnouncedBitrate();
        prevRefPts_ = u.pts - OffsetOf(pendingTemporalRef_);
        firstDerivedDts_ = false;
        prevRefPts_ -= host_->FrameDuration();
    }
}

void CScannerMPEG2::OnSampleStamp(int64_t pts) {
    // Later pictures without a sample time count on from this one.
    gopBase_ = pts - OffsetOf(pendingTemporalRef_);
}

int64_t CScannerMPEG2::ComputeTimestamp() {
    const int64_t f = host_->FrameDuration();
    // Repeated fields lengthen the pictures shown before this one.
    int64_t pts = gopBase_ + OffsetOf(pendingTemporalRef_);
    // Damaged headers must not throw the time far away: a group spans at
    // most a few seconds around the last stamp.
    if (anyPicture_ && (pts - lastStamp_ > 10000000LL * 10 || lastStamp_ - pts > 10000000LL * 10)) {
        pts = lastStamp_ + f;
        gopBase_ = pts - OffsetOf(pendingTemporalRef_);
    }
    return pts;
}

void CScannerMPEG2::FlushAtEnd() {
    if (Reconstructing()) {
        if (picturePending_) HoldPendingPicture(host_->DataEnd());
        FlushGroup();
        if (pendingStart_ && host_->DataEnd() > pendingStart_ && group_.Empty()) {
            // Trailing headers join as a last unit.
            pendingType_ = 3;
            picturePending_ = true;
            HoldPendingPicture(host_->DataEnd());
            FlushGroup();
        }
        groupStart_ = nullptr;
        host_->SampleTimes().Clear();
        return;
    }
    if (picturePending_) {
        EmitAccessUnit(host_->DataEnd(), true);
        picturePending_ = false;
    } else if (pendingStart_ && host_->DataEnd() > pendingStart_) {
        // Headers without a picture after them: hand the bytes on as a last
        // unit (a B-like unit, decoded when presented) so nothing is lost.
        pendingType_ = unitsEmitted_ ? 3 : 0;
        pendingTemporalRef_ = 0;
        picturePending_ = true;
        EmitAccessUnit(host_->DataEnd(), true);
        picturePending_ = false;
    }
    host_->SampleTimes().Clear();
}
