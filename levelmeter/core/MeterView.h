// What the meter window does with one level update: peaks and their
// readout, and the audio-test verdict (a baseline from the first updates,
// then a rise of 10 dB over it within 76 compared updates).
#pragma once

#include <string>

namespace wavrel {

// Levels are shown relative to this many dB.
constexpr int kLevelOffset = 82;
constexpr int kVerdictRise = 10;

enum class Verdict { None, SoundDetected, NoSound };

struct UpdateResult {
    bool setReadout = false;
    std::string readout;
    Verdict verdict = Verdict::None;
    // The levels the verdict reports (level - 82).
    int reportLeft = 0;
    int reportRight = 0;
};

class MeterView {
public:
    // Audio-test mode sends the verdict and ends with it.
    void SetAudioTest(bool on) { audioTest_ = on; }
    bool AudioTest() const { return audioTest_; }

    // One "update Zelbo" with the integer levels. `limiterFired` (the
    // limiter mark) resets the peaks first and is cleared.
    UpdateResult Update(int left, int right, bool& limiterFired);
    void ResetPeaks();

    int PeakLeft() const { return peakLeft_; }
    int PeakRight() const { return peakRight_; }
    int BaselineLeft() const { return baseLeft_; }
    int BaselineRight() const { return baseRight_; }

private:
    std::string PairText(int left, int right, bool compact) const;

    bool audioTest_ = false;
    int peakLeft_ = -kLevelOffset;
    int peakRight_ = -kLevelOffset;
    int counter_ = 1;
    int sumLeft_ = 0;
    int sumRight_ = 0;
    int baseLeft_ = 0;
    int baseRight_ = 0;
};

// Readout of the peaks: " %d %d" while the right peak is -10 or less, else
// "   %d  %d" (the wider spacing keeps short numbers apart).
std::string PeakReadout(int peakLeft, int peakRight);
// Readout of the baselines and compared levels: "%d %d", else "%d   %d".
std::string TestReadout(int left, int right, int peakRight);

}  // namespace wavrel
