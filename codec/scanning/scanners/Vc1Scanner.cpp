// VC-1 advanced profile elementary streams (SMPTE 421M Annex E start codes).
#include "codec/scanning/scanners/ScannerBase.h"
#include "codec/scanning/scanners/StartCodeSearch.h"

#include <algorithm>
#include <cstring>

using muxcore::AccessUnit;
using muxcore::kNoTime;

namespace {

constexpr uint32_t kHeaderBytes = 64;
constexpr int64_t kDefaultFrameDuration = 400000;
constexpr uint8_t kRegistrationTag = 5;
constexpr uint8_t kProfileLevelCode = 0x01;
constexpr uint8_t kAdvancedProfileLevelBase = 145;  // advanced profile, level 0

// Advanced profile levels 0..4 of SMPTE 421M Annex D: buffer (D x 100 KiB
// bytes ceiling) and peak rate (C Mbit/s).
struct LevelLimits {
    uint32_t d, c;
};
LevelLimits Limits(const SPL_VC1::SequenceLayer& s) {
    static const LevelLimits kLevels[5] = {{5, 2}, {25, 10}, {50, 20}, {110, 45}, {330, 135}};
    return s.profile == SPL_VC1::kAdvanced && s.level < 5 ? kLevels[s.level] : LevelLimits{0, 0};
}

bool IsBFrame(uint32_t type) {
    return type == SPL_VC1::kPicB || type == SPL_VC1::kPicBI;
}

}  // namespace

void CScannerVC1::Reset() {
    CScannerBase::Reset();
    seq_ = SPL_VC1::SequenceLayer();
    haveSeq_ = framePending_ = headersSinceFrame_ = entrySinceFrame_ = false;
    pendingType_ = 0;
    pendingAfterEntry_ = false;
    held_.clear();
    clock_ = 0;
    heldStamp_ = kNoTime;
    prevDts_ = kNoTime;
}

bool CScannerVC1::HoldsData() const {
    return framePending_ || !held_.empty() || CScannerBase::HoldsData();
}

void CScannerVC1::OnDataShifted(ptrdiff_t distance) {
    CScannerBase::OnDataShifted(distance);
    for (AccessUnit& u : held_) u.location -= distance;
}

void CScannerVC1::OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) {
    CScannerBase::OnDataMoved(oldBase, newBase);
    for (AccessUnit& u : held_) u.location += newBase - oldBase;
}

uint8_t* CScannerVC1::ParseData(uint8_t* pos, int32_t n) {
    if (!pos) return pos;
    if (firstCall_) {
        firstCall_ = false;
        pendingStart_ = host_->DataStart();
    }
    uint8_t* end = pos + n;
    const bool ended = host_->HasEnded();
    uint8_t* p = pos;
    for (;;) {
        // A frame may release a reference frame and the B frames after it.
        if (host_->FreeUnitRecords() <= static_cast<int32_t>(held_.size()) + 1) return p;
        uint8_t* sc = startcode::Find(p, end);
        if (!sc) {
            if (end - p > 3) p = end - 3;
            break;
        }
        const uint32_t avail = static_cast<uint32_t>(end - sc);
        if (avail < kHeaderBytes && !ended) return sc;
        const uint8_t code = sc[3];
        if (code == SPL_VC1::kSequence) {
            OnSequence(sc);
        } else if (code == SPL_VC1::kEntryPoint) {
            SPL_VC1::EntryPoint e;
            if (haveSeq_ && e.Parse(sc, std::min(avail, kHeaderBytes), seq_)) {
                OnHeader(sc);
                entrySinceFrame_ = true;
            }
        } else if (code == SPL_VC1::kFrame) {
            OnFrame(sc);
        }
        // Fields, slices, user data and end codes stay with the unit they are in.
        p = sc + 3;
    }
    if (ended) FlushAtEnd();
    return ended ? end : p;
}

void CScannerVC1::OnHeader(uint8_t* at) {
    if (framePending_ && !headersSinceFrame_) CloseFrame(at);
    headersSinceFrame_ = true;
}

void CScannerVC1::OnSequence(uint8_t* at) {
    SPL_VC1::SequenceLayer s;
    if (!s.Parse(at, std::min<uint32_t>(static_cast<uint32_t>(host_->DataEnd() - at), kHeaderBytes))) return;
    OnHeader(at);
    seq_ = s;
    haveSeq_ = true;
    entrySinceFrame_ = true;
    if (configured_) return;
    if (!descriptorAdded_ && s.profile == SPL_VC1::kAdvanced) {
        // Registration descriptor "VC-1" with the profile and level sub-descriptor.
        descriptorAdded_ = true;
        host_->AddEsInfoDescriptor({kRegistrationTag, 6, 'V', 'C', '-', '1', kProfileLevelCode,
                                    static_cast<uint8_t>(kAdvancedProfileLevelBase + s.level)});
    }
    int64_t f = s.FrameDuration();
    if (f <= 0) f = host_->FrameDuration() > 0 ? host_->FrameDuration() : kDefaultFrameDuration;
    host_->SetFrameDuration(f);
    const LevelLimits l = Limits(s);
    const int64_t ceiling = int64_t{l.d} * 102400;
    int64_t eb = host_->CorrectEbSize() > 0 ? host_->CorrectEbSize()
                 : s.hrd_param_flag         ? static_cast<int64_t>(s.HrdBufferBytes())
                                            : ceiling;
    if (ceiling > 0) eb = std::min(eb, ceiling);
    if (eb > 0) host_->SetElementaryBufferSize(static_cast<int32_t>(eb));
    if (s.hrd_param_flag && s.HrdBitRate() < INT32_MAX)
        host_->SetAnnouncedBitrate(static_cast<int32_t>(s.HrdBitRate()));
    if (l.c > 0) {
        // The transport buffer drains at 1.2 x the level's peak rate, in bytes.
        const double peak = l.c * 1e6;
        host_->SetLeakRate(peak * 1.2 / 8);
        if (peak > host_->AnnouncedBitrate()) host_->SetAnnouncedBitrate(static_cast<int32_t>(peak));
    }
    configured_ = true;
    host_->ConfigureStream(f);
}

void CScannerVC1::OnFrame(uint8_t* at) {
    SPL_VC1::PictureLayer pic;
    if (!haveSeq_ ||
        !pic.Parse(at, std::min<uint32_t>(static_cast<uint32_t>(host_->DataEnd() - at), kHeaderBytes), seq_))
        return;
    if (framePending_ && !headersSinceFrame_) CloseFrame(at);
    framePending_ = true;
    headersSinceFrame_ = false;
    pendingType_ = pic.type;
    pendingAfterEntry_ = entrySinceFrame_;
    entrySinceFrame_ = false;
}

void CScannerVC1::CloseFrame(uint8_t* end) {
    // A sample time received with the frame's first byte is its display time.
    const int64_t stamp = TakeSampleStamp(pendingStart_);
    AccessUnit u = muxcore::ZeroUnit();
    switch (pendingType_) {
        case SPL_VC1::kPicI:
            u.kind = pendingAfterEntry_ ? muxcore::kUnitIWithSequence : muxcore::kUnitI;
            break;
        case SPL_VC1::kPicB:
        case SPL_VC1::kPicBI:
            u.kind = muxcore::kUnitB;
            break;
        default:
            u.kind = muxcore::kUnitP;
            break;
    }
    u.location = pendingStart_;
    u.size = static_cast<int32_t>(end - pendingStart_);
    u.unitStart = 1;
    u.ptsPresent = u.dtsPresent = 1;
    pendingStart_ = end;
    lastUnitEnd_ = end;
    framePending_ = false;
    const int64_t f = host_->FrameDuration();
    if (IsBFrame(pendingType_)) {
        // Shown now, before the reference frame decoded ahead of it (if any).
        if (stamp != kNoTime) clock_ = stamp;
        u.pts = u.dts = clock_;
        clock_ += f;
        if (!held_.empty()) {
            held_.push_back(u);
            return;
        }
        Release(u);
        return;
    }
    EmitHeld();
    heldStamp_ = stamp;
    held_.push_back(u);
}

// The held reference frame is shown after its B frames; then all go out in
// decoding order.
void CScannerVC1::EmitHeld() {
    if (held_.empty()) return;
    const int64_t f = host_->FrameDuration();
    AccessUnit& ref = held_.front();
    if (heldStamp_ != kNoTime) clock_ = heldStamp_;
    heldStamp_ = kNoTime;
    ref.pts = clock_;
    clock_ += f;
    ref.dts = prevRefPts_ == kNoTime ? ref.pts - f : prevRefPts_;
    prevRefPts_ = ref.pts;
    for (const AccessUnit& u : held_) Release(u);
    held_.clear();
}

void CScannerVC1::Release(AccessUnit u) {
    // Received times need not fit the frame grid: decoding times still rise
    // and never pass the display time.
    if (prevDts_ != kNoTime && u.dts <= prevDts_) u.dts = prevDts_ + 1;
    if (u.dts > u.pts) u.dts = u.pts;
    prevDts_ = u.dts;
    lastStamp_ = u.pts;
    AccessUnit r;
    while (host_->SampleTimes().Peek(r) == 0 && r.location < u.location + u.size) host_->SampleTimes().Pop();
    bytesEmitted_ += u.size;
    Finish(u);
}

void CScannerVC1::FlushAtEnd() {
    uint8_t* end = host_->DataEnd();
    if (framePending_) {
        CloseFrame(end);
    } else if (pendingStart_ && end > pendingStart_ && (unitsEmitted_ > 0 || !held_.empty())) {
        // Headers after the last frame: a last B-like unit.
        pendingType_ = SPL_VC1::kPicB;
        CloseFrame(end);
    }
    EmitHeld();
    host_->SampleTimes().Clear();
}
