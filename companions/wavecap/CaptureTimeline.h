// Times of captured sound on the graph's clock. A wave-input device hands
// over blocks some time after it captured them, and its own sample clock is
// not the graph's: counting samples from zero would put sound that arrived
// late (a device that starts slowly, blocks held while the graph paused) at
// the start of the recording, and would drift against the pictures, which
// are stamped by the graph's clock.
//
// So the first blocks handed over after the run starts are placed backwards
// from the moment they arrived; sound captured before the run is cut off,
// a late start leaves a gap that the caller fills with silence, and the
// blocks after that follow by sample count. Each window of blocks compares
// the count with the clock: when even the promptest block of the window
// arrived off its time by more than a tolerance, the count is re-anchored.
// Times are stream times in 100-ns units.
#pragma once

#include <cstdint>

namespace wavecap {

class CaptureTimeline {
public:
    // Frames of the leading part of a block that predate the run, and the
    // times of the rest.
    struct Span {
        uint32_t skip = 0;
        int64_t start = 0;
        int64_t stop = 0;
    };

    // How far arrival may stray before the count is re-anchored.
    static constexpr int64_t kTolerance = 200000;  // 20 ms
    // Re-anchoring back in time overlaps sound already sent: it is limited
    // per window so that the times keep rising (a frame of the audio
    // encoder lasts 24 ms).
    static constexpr int64_t kMaxStepBack = 100000;   // 10 ms
    static constexpr int64_t kWindow = 20000000;      // 2 s of sound
    static constexpr int64_t kFirstWindow = 5000000;  // 0.5 s: the first arrival may have been slow

    explicit CaptureTimeline(uint32_t rate) : rate_(rate ? rate : 1) {}

    // A new run starts at stream time 0.
    void Reset();

    // The device has handed over `frames` more frames by stream time `now`
    // (all the blocks ready at one wake-up, before they are stamped).
    void Arrived(uint64_t frames, int64_t now);

    // Frames of silence that must come before the first block: the device
    // started after the run did. Taken once.
    uint64_t TakeLeadingSilence();

    // Times of the next `frames` frames, silence or captured.
    Span Next(uint32_t frames);

    // The largest re-anchoring so far, in 100-ns units (for reports).
    int64_t LargestCorrection() const { return largestCorrection_; }

    int64_t Duration(uint64_t frames) const { return static_cast<int64_t>(frames * 10000000ULL / rate_); }

private:
    uint64_t FramesIn(int64_t duration) const;

    uint32_t rate_;
    bool anchored_ = false;
    int64_t base_ = 0;      // stream time of frame 0 of the count
    uint64_t frames_ = 0;   // frames stamped since base_
    uint64_t arrived_ = 0;  // frames handed over since base_ (silence included)
    uint64_t silence_ = 0;
    int64_t windowMin_ = 0;
    uint64_t windowFrames_ = 0;
    bool firstWindow_ = true;
    int64_t largestCorrection_ = 0;
};

}  // namespace wavecap
