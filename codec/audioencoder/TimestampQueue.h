// Turns input sample times into output times for coded frames: the output
// runs on its own clock of whole frames and follows the jumps seen on the
// input from the frame where they happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audioenc {

class TimestampQueue {
public:
    // step: 100-ns units per sample frame (10,000,000 / rate).
    void Start(double step);
    void Reset();
    bool Active() const { return active_; }

    // An input block of frames starting at start.
    void Input(int64_t start, uint32_t frames);
    // Times of the next output block of frames.
    void Output(uint32_t frames, int64_t* start, int64_t* stop);

private:
    struct Jump {
        int64_t delta;
        uint64_t frame;
    };
    int64_t Advance(int64_t from, uint32_t frames, double* fraction) const;

    bool active_ = false;
    double step_ = 0;
    double inFraction_ = 0, outFraction_ = 0;
    int64_t expected_ = -1;
    int64_t clock_ = -1;
    uint64_t inFrames_ = 0, outFrames_ = 0;
    std::vector<Jump> jumps_;  // in input order
    size_t head_ = 0;
};

}  // namespace audioenc
