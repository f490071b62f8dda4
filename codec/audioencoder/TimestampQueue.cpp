#include "codec/audioencoder/TimestampQueue.h"

#include <cmath>

namespace audioenc {

void TimestampQueue::Start(double step) {
    step_ = step;
    active_ = true;
    Reset();
}

void TimestampQueue::Reset() {
    inFraction_ = outFraction_ = 0;
    expected_ = -1;
    clock_ = -1;
    inFrames_ = outFrames_ = 0;
    jumps_.clear();
    head_ = 0;
}

int64_t TimestampQueue::Advance(int64_t from, uint32_t frames, double* fraction) const {
    double exact = step_ * frames + *fraction;
    double whole = std::floor(exact);
    *fraction = exact - whole;
    return from + static_cast<int64_t>(whole);
}

void TimestampQueue::Input(int64_t start, uint32_t frames) {
    if (clock_ < 0) clock_ = start;
    if (expected_ < 0) expected_ = start;
    int64_t delta = start - expected_;
    if (delta > 1 || delta < -1) {
        jumps_.push_back({delta, inFrames_});
        expected_ = start;
        inFraction_ = 0;
    }
    expected_ = Advance(expected_, frames, &inFraction_);
    inFrames_ += frames;
}

void TimestampQueue::Output(uint32_t frames, int64_t* start, int64_t* stop) {
    int64_t jumps = 0;
    while (head_ < jumps_.size() && jumps_[head_].frame <= outFrames_) {
        jumps += jumps_[head_].delta;
        outFraction_ = 0;
        ++head_;
    }
    if (head_ == jumps_.size()) {
        jumps_.clear();
        head_ = 0;
    }
    int64_t clock = clock_ < 0 ? 0 : clock_;
    *start = clock + jumps;
    *stop = Advance(*start, frames, &outFraction_);
    clock_ = *stop;
    outFrames_ += frames;
}

}  // namespace audioenc
