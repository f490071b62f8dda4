// H.264 byte streams (ITU-T H.264 Annex B): access units by the rules of
// 7.4.1.2.3, times from the picture order count.
#include "codec/scanning/scanners/ScannerBase.h"
#include "codec/scanning/scanners/StartCodeSearch.h"

#include "codec/scanning/scanners/H264MediaType.h"

#include <algorithm>
#include <cstring>

using muxcore::AccessUnit;
using muxcore::kNoTime;
namespace h264 = MpegCommon::h264;

namespace {

// Parameter sets and SEI are parsed whole: their bytes are awaited up to
// the next start code, unless this many are there already.
constexpr size_t kWholeNalLimit = 64 * 1024;
// A slice header fits in these bytes of its NAL unit.
constexpr size_t kSliceHeaderBytes = 64;
constexpr int64_t kDefaultFrameDuration = 400000;  // 25 Hz
// The buffer models of ISO/IEC 13818-1 scale the level limits by 1200 bits
// (the Baseline/Main factor, the smallest of all profiles): x 150 in bytes.
constexpr double kLevelBytesPerUnit = 150.0;
constexpr int kMaxReorderDepth = 16;
// Repeats kept by order count: more than any reorder depth reaches back.
constexpr size_t kRecentRepeats = 2 * kMaxReorderDepth;
constexpr double kTimeLimit = 1e15;  // 100 ns: about three years

// Next 00 00 01 at or after p with at least 4 bytes from it, else null.
struct LevelLimits {
    uint32_t maxCpb;  // 1000 bits
    uint32_t maxBr;   // 1000 bit/s
};

// ITU-T H.264 Table A-1; level 11 with constraint_set3 (and level 9) is 1b.
LevelLimits Limits(const h264::Sps& s) {
    switch (s.level_idc) {
        case 9:
            return {350, 128};
        case 10:
            return {175, 64};
        case 11:
            return s.Constraint(3) && s.profile_idc != 100 && s.profile_idc != 110 ? LevelLimits{350, 128}
                                                                                   : LevelLimits{500, 192};
        case 12:
            return {1000, 384};
        case 13:
            return {2000, 768};
        case 20:
            return {2000, 2000};
        case 21:
        case 22:
            return {4000, 4000};
        case 30:
            return {10000, 10000};
        case 31:
            return {14000, 14000};
        case 32:
            return {20000, 20000};
        case 40:
            return {25000, 20000};
        case 41:
        case 42:
            return {62500, 50000};
        case 50:
            return {135000, 135000};
        case 51:
        case 52:
            return {240000, 240000};
        default:
            return {0, 0};
    }
}

}  // namespace

void CScannerH264::Reset() {
    CScannerBase::Reset();
    sps_ = h264::Sps();
    pps_ = h264::Pps();
    last_ = h264::SliceHeader();
    order_.Reset();
    spsBytes_.clear();
    ppsBytes_.clear();
    haveSps_ = havePps_ = haveSlice_ = false;
    spsSinceLastPicture_ = false;
    picturePending_ = false;
    pendingIntra_ = pendingAfterSps_ = pendingField_ = false;
    pendingKind_ = 0;
    pendingPoc_ = 0;
    boundary_ = nullptr;
    anyPicture_ = false;
    epochBase_ = epochPoc_ = 0;
    pocStep_ = 2;
    shownEnd_ = 0;
    reorder_ = 0;
    decodeIndex_ = 0;
    dtsBase_ = 0;
    prevDts_ = kNoTime;
    pendingDuration_ = seiDuration_ = 0;
    repeats_.clear();
    olderRepeats_ = 0;
    group_.Clear();
    runningTime_ = 0;
}

bool CScannerH264::HoldsData() const {
    return picturePending_ || !group_.Empty() || CScannerBase::HoldsData();
}

void CScannerH264::OnDataShifted(ptrdiff_t distance) {
    CScannerBase::OnDataShifted(distance);
    if (boundary_) boundary_ -= distance;
    group_.Shift(distance);
}

void CScannerH264::OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) {
    CScannerBase::OnDataMoved(oldBase, newBase);
    if (boundary_) boundary_ += newBase - oldBase;
    group_.Move(newBase - oldBase);
}

uint8_t* CScannerH264::ParseData(uint8_t* pos, int32_t n) {
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
        uint8_t* sc = startcode::Find(p, end);
        if (!sc) {
            // Keep the last three bytes: a start code may straddle the end.
            if (end - p > 3) p = end - 3;
            break;
        }
        const uint8_t* nal = sc + 3;
        const size_t avail = static_cast<size_t>(end - nal);
        const uint8_t type = nal[0] & 0x1F;
        size_t len = avail;
        if (type == h264::kNalSlice || type == h264::kNalIdr) {
            // Only the header is read: the slice data is not searched twice.
            if (avail < kSliceHeaderBytes && !ended) return sc;
            len = std::min(avail, kSliceHeaderBytes * 16);
        } else if (type == h264::kNalSps || type == h264::kNalPps || type == h264::kNalSei) {
            len = h264::NalUnitLength(nal, std::min(avail, kWholeNalLimit));
            if (len == avail && !ended && avail < kWholeNalLimit) return sc;
        }
        // A four-byte start code begins with its zero byte.
        uint8_t* at = sc > host_->DataStart() && sc[-1] == 0 ? sc - 1 : sc;
        OnNal(at, nal, len);
        p = sc + 3;
    }
    if (ended) FlushAtEnd();
    return ended ? end : p;
}

void CScannerH264::OnNal(uint8_t* at, const uint8_t* nal, size_t len) {
    const uint8_t type = nal[0] & 0x1F;
    switch (type) {
        case h264::kNalSps: {
            h264::Sps s;
            if (!s.Parse(nal, len)) return;
            MarkBoundary(at);
            sps_ = s;
            haveSps_ = true;
            spsSinceLastPicture_ = true;
            if (!configured_) spsBytes_.assign(nal, nal + len);
            Configure();
            return;
        }
        case h264::kNalPps: {
            h264::Pps s;
            if (!s.Parse(nal, len, haveSps_ ? &sps_ : nullptr)) return;
            MarkBoundary(at);
            pps_ = s;
            havePps_ = true;
            if (!configured_) ppsBytes_.assign(nal, nal + len);
            Configure();
            return;
        }
        case h264::kNalSei: {
            MarkBoundary(at);
            h264::Sei sei;
            if (!haveSps_ || !sei.Parse(nal, len, &sps_)) return;
            if (sei.hasBufferingPeriod && !anyPicture_)
                startupDelay_ = static_cast<int64_t>(sei.initial_cpb_removal_delay) * 1000 / 9;
            // The fields the next picture is shown for (frame doubling and
            // tripling count as four and six).
            if (sei.hasPicStruct) seiDuration_ = host_->FrameDuration() * h264::FieldsOfPicStruct(sei.pic_struct) / 2;
            return;
        }
        case h264::kNalSlice:
        case h264::kNalIdr: {
            if (!haveSps_ || !havePps_) return;  // undecodable: the bytes join the next unit
            h264::SliceHeader s;
            if (s.Parse(nal, len, sps_, pps_)) OnSlice(at, s);
            return;
        }
        default:
            // Delimiters and the NAL types reserved before a picture open a unit;
            // filler and end-of-sequence units belong to the unit they follow.
            if (type == h264::kNalAud || (type >= 14 && type <= 18)) MarkBoundary(at);
            return;
    }
}

void CScannerH264::OnSlice(uint8_t* at, const h264::SliceHeader& s) {
    const bool newPicture = !haveSlice_ || h264::FirstSliceOfNewPicture(last_, s, sps_);
    const h264::SliceHeader prev = last_;
    last_ = s;
    haveSlice_ = true;
    if (!newPicture) {
        boundary_ = nullptr;  // still the same picture
        return;
    }
    const int64_t poc = order_.Update(s, sps_);
    if (picturePending_ && pendingField_ && s.field_pic_flag && prev.field_pic_flag &&
        s.bottom_field_flag != prev.bottom_field_flag && s.frame_num == prev.frame_num) {
        // The second field of the pending frame.
        pendingField_ = false;
        pendingPoc_ = std::min(pendingPoc_, poc);
        boundary_ = nullptr;
        return;
    }
    if (Reconstructing()) {
        if (picturePending_) HoldPendingPicture(boundary_ ? boundary_ : at);
        if (s.IsIdr() || s.IsIntra()) FlushGroup();
    } else if (picturePending_) {
        EmitPicture(boundary_ ? boundary_ : at);
    }
    boundary_ = nullptr;
    if (!anyPicture_ || s.IsIdr()) {
        // A new order-count epoch: shown after everything before it.
        epochBase_ = anyPicture_ ? shownEnd_ : 0;
        epochPoc_ = poc;
        repeats_.clear();
        olderRepeats_ = 0;
    }
    anyPicture_ = true;
    picturePending_ = true;
    pendingIntra_ = s.IsIntra();
    pendingKind_ = s.Kind();
    pendingAfterSps_ = spsSinceLastPicture_;
    spsSinceLastPicture_ = false;
    pendingPoc_ = poc;
    pendingField_ = s.field_pic_flag != 0;
    pendingDuration_ = seiDuration_ > 0 ? seiDuration_ : host_->FrameDuration();
    seiDuration_ = 0;
}

void CScannerH264::Configure() {
    if (configured_ || !haveSps_ || !havePps_) return;
    int64_t f = sps_.FrameDuration();
    if (f <= 0) f = host_->FrameDuration() > 0 ? host_->FrameDuration() : kDefaultFrameDuration;
    host_->SetFrameDuration(f);
    const int32_t correctEb = host_->CorrectEbSize();
    if (sps_.nal_hrd.present) {
        const uint64_t rate = sps_.nal_hrd.BitRate();
        if (rate > 1023 && rate < INT32_MAX) host_->SetAnnouncedBitrate(static_cast<int32_t>(rate));
        int64_t eb = correctEb > 0 ? correctEb : static_cast<int64_t>(sps_.nal_hrd.CpbSize() / 8);
        // A buffer below one frame's share of the rate cannot work: half a second's worth.
        const double perFrame = static_cast<double>(rate) / 8 * static_cast<double>(f) / 1e7;
        if (static_cast<double>(eb) < perFrame) eb = static_cast<int64_t>(rate / 16);
        host_->SetElementaryBufferSize(static_cast<int32_t>(std::min<int64_t>(eb, INT32_MAX)));
        // ISO/IEC 13818-1: the transport buffer drains at 1.2 x the HRD rate.
        host_->SetLeakRate(1.2 * static_cast<double>(rate) / 8);
    } else {
        const LevelLimits l = Limits(sps_);
        if (correctEb > 0)
            host_->SetElementaryBufferSize(correctEb);
        else if (l.maxCpb > 0)
            host_->SetElementaryBufferSize(static_cast<int32_t>(l.maxCpb * kLevelBytesPerUnit));
        if (l.maxBr > 0) host_->SetLeakRate(l.maxBr * kLevelBytesPerUnit);
    }
    // Pictures shown before the ones decoded ahead of them: the reorder depth
    // the stream states, else the most it may have.
    if (sps_.bitstream_restriction_flag)
        reorder_ = static_cast<int>(std::min<uint32_t>(sps_.max_num_reorder_frames, kMaxReorderDepth));
    else if (sps_.pic_order_cnt_type == 2)
        reorder_ = 0;  // output order is decoding order
    else
        reorder_ = static_cast<int>(std::clamp<uint32_t>(sps_.max_num_ref_frames, 1, kMaxReorderDepth));
    configured_ = true;
    host_->ConfigureStream(f);
    host_->SetInternalMediaType(h264mt::BuildFormatBlock(
        sps_, spsBytes_, ppsBytes_, f, static_cast<uint32_t>(std::max(host_->AnnouncedBitrate(), 0))));
}

AccessUnit CScannerH264::PendingUnit(uint8_t* end, bool trailing) {
    AccessUnit u = muxcore::ZeroUnit();
    if (trailing)
        u.kind = muxcore::kUnitB;
    else if (pendingIntra_)
        u.kind = pendingAfterSps_ ? muxcore::kUnitIWithSequence : muxcore::kUnitI;
    else
        u.kind = pendingKind_ == 1 ? muxcore::kUnitB : muxcore::kUnitP;
    u.location = pendingStart_;
    u.size = static_cast<int32_t>(end - pendingStart_);
    u.unitStart = 1;
    pendingStart_ = end;
    lastUnitEnd_ = end;
    picturePending_ = false;
    pendingField_ = false;
    return u;
}

int64_t CScannerH264::NextDts(int64_t pts) {
    // Decoding times: one frame apart from the reorder depth before the
    // first picture; never after the picture is shown, always rising.
    const int64_t f = host_->FrameDuration();
    if (prevDts_ == kNoTime) {
        dtsBase_ = pts - reorder_ * f;
        decodeIndex_ = 0;
    }
    int64_t dts = dtsBase_ + decodeIndex_ * f;
    if (dts > pts) {
        dtsBase_ -= dts - pts;
        dts = pts;
    }
    if (prevDts_ != kNoTime && dts <= prevDts_) dts = prevDts_ + 1;
    ++decodeIndex_;
    prevDts_ = dts;
    return dts;
}

void CScannerH264::Release(AccessUnit& u, int64_t pts, int64_t dts) {
    u.pts = pts;
    u.dts = dts;
    u.ptsPresent = u.dtsPresent = 1;
    lastStamp_ = pts;
    CountEmitted(u.size, dts);
    Finish(u);
}

void CScannerH264::EmitPicture(uint8_t* end, bool trailing) {
    const int64_t f = host_->FrameDuration();
    int64_t pts;
    if (trailing) {
        pts = shownEnd_;
    } else {
        const int64_t rel = pendingPoc_ - epochPoc_;
        // Frames normally count two per picture (one per field); a frame at
        // an odd distance shows a stream that counts one per picture.
        if (pocStep_ == 2 && (rel % 2) != 0 && !pendingField_) pocStep_ = 1;
        // The exact tick (2 x num_units_in_tick / time_scale per frame) so
        // that 1001/60000 streams do not drift by the rounding of a frame.
        const double perCount = sps_.FrameDuration() > 0 && sps_.FrameDuration() == f
                                    ? 2e7 * sps_.num_units_in_tick / sps_.time_scale / static_cast<double>(pocStep_)
                                    : static_cast<double>(f) / static_cast<double>(pocStep_);
        // Damaged counts must not carry the time out of range.
        const int64_t offset =
            static_cast<int64_t>(std::clamp(static_cast<double>(rel) * perCount, -kTimeLimit, kTimeLimit));
        // Pictures shown longer than a frame before this one delay it.
        const int64_t delayed = offset + RepeatedBefore(pendingPoc_);
        const int64_t stamp = TakeSampleStamp(pendingStart_);
        if (stamp != kNoTime) epochBase_ = stamp - delayed;
        pts = epochBase_ + delayed;
        const int64_t shown = pendingDuration_ > 0 ? pendingDuration_ : f;
        NoteRepeat(pendingPoc_, shown - f);
        shownEnd_ = std::max(shownEnd_, pts + shown);
    }
    const int64_t dts = NextDts(pts);
    AccessUnit u = PendingUnit(end, trailing);
    Release(u, pts, dts);
}

int64_t CScannerH264::RepeatedBefore(int64_t poc) const {
    int64_t sum = olderRepeats_;
    for (auto it = repeats_.begin(); it != repeats_.end() && it->first < poc; ++it) sum += it->second;
    return sum;
}

void CScannerH264::NoteRepeat(int64_t poc, int64_t extra) {
    if (extra == 0) return;
    repeats_[poc] += extra;
    // Pictures decoded later are shown after the oldest ones: fold those in.
    if (repeats_.size() > kRecentRepeats) {
        olderRepeats_ += repeats_.begin()->second;
        repeats_.erase(repeats_.begin());
    }
}

void CScannerH264::HoldPendingPicture(uint8_t* end) {
    const int64_t key = pendingPoc_;
    const int64_t duration = pendingDuration_ > 0 ? pendingDuration_ : host_->FrameDuration();
    group_.Add(PendingUnit(end, false), key, duration);
}

void CScannerH264::FlushGroup() {
    if (group_.Empty()) return;
    // The stamp received with the group's first picture is that picture's
    // time, also when pictures decoded after it are shown before it (an
    // open group); without one the group follows the last.
    int64_t end = 0;
    std::vector<int64_t> times = group_.AssignTimes(0, end);
    const int64_t stamp = TakeSampleStamp(group_[0].unit.location);
    const int64_t base = stamp != kNoTime ? stamp - times[0] : runningTime_;
    runningTime_ = base + end;
    shownEnd_ = std::max(shownEnd_, runningTime_);
    for (size_t i = 0; i < group_.Size(); ++i) {
        times[i] += base;
        AccessUnit u = group_[i].unit;
        // Sample records up to this unit's end are used up.
        AccessUnit r;
        while (host_->SampleTimes().Peek(r) == 0 && r.location < u.location + u.size) host_->SampleTimes().Pop();
        Release(u, times[i], NextDts(times[i]));
    }
    group_.Clear();
}

void CScannerH264::FlushAtEnd() {
    uint8_t* end = host_->DataEnd();
    if (Reconstructing()) {
        // The last picture closes its group.
        if (picturePending_) HoldPendingPicture(end);
        FlushGroup();
    } else if (picturePending_) {
        EmitPicture(end);
    }
    // Bytes after the last picture (an end of stream, say) go out as a last
    // unit so that none is lost; bytes without any picture stay unwritten.
    if (anyPicture_ && pendingStart_ && end > pendingStart_) {
        picturePending_ = true;
        EmitPicture(end, true);
    }
    host_->SampleTimes().Clear();
}
