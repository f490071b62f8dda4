#include "companions/wavecap/CaptureTimeline.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace wavecap {

void CaptureTimeline::Reset() {
    anchored_ = false;
    base_ = 0;
    frames_ = arrived_ = silence_ = 0;
    windowMin_ = std::numeric_limits<int64_t>::max();
    windowFrames_ = 0;
    firstWindow_ = true;
    largestCorrection_ = 0;
}

uint64_t CaptureTimeline::FramesIn(int64_t duration) const {
    if (duration <= 0) return 0;
    // Rounded up: a partly covered frame counts.
    return (static_cast<uint64_t>(duration) * rate_ + 9999999ULL) / 10000000ULL;
}

void CaptureTimeline::Arrived(uint64_t frames, int64_t now) {
    if (!anchored_) {
        anchored_ = true;
        const int64_t first = now - Duration(frames);
        if (first > 0) {
            // The device started after the run: silence up to its first frame.
            silence_ = first * rate_ / 10000000;
            base_ = first - Duration(silence_);
            arrived_ = silence_;
        } else {
            base_ = first;
        }
        arrived_ += frames;
        windowMin_ = std::numeric_limits<int64_t>::max();
        windowFrames_ = 0;
        return;
    }
    arrived_ += frames;
    // Positive: the count runs behind the clock (sound lost, or a slower
    // device clock); negative: ahead of it.
    const int64_t lag = now - (base_ + Duration(arrived_));
    windowMin_ = std::min(windowMin_, lag);
    windowFrames_ += frames;
    if (Duration(windowFrames_) < (firstWindow_ ? kFirstWindow : kWindow)) return;
    int64_t correction = windowMin_;
    if (correction > kTolerance || correction < -kTolerance) {
        if (correction < -kMaxStepBack) correction = -kMaxStepBack;
        base_ += correction;
        if (std::abs(correction) > std::abs(largestCorrection_)) largestCorrection_ = correction;
    }
    firstWindow_ = false;
    windowMin_ = std::numeric_limits<int64_t>::max();
    windowFrames_ = 0;
}

uint64_t CaptureTimeline::TakeLeadingSilence() {
    const uint64_t s = silence_;
    silence_ = 0;
    return s;
}

CaptureTimeline::Span CaptureTimeline::Next(uint32_t frames) {
    Span span;
    const int64_t first = base_ + Duration(frames_);
    if (first < 0) span.skip = static_cast<uint32_t>(std::min<uint64_t>(frames, FramesIn(-first)));
    span.start = base_ + Duration(frames_ + span.skip);
    frames_ += frames;
    span.stop = base_ + Duration(frames_);
    return span;
}

}  // namespace wavecap
