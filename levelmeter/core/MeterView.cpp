#include "levelmeter/core/MeterView.h"

#include <algorithm>
#include <cstdio>

namespace wavrel {

namespace {

// Update counter: the baseline is taken when it reaches kBaselineStep, the
// comparisons run from kFirstCompare and the last is made when it was
// kLastCompare; kDone ends the test.
constexpr int kSumBelow = 12;
constexpr int kBaselineStep = 11;
constexpr int kFirstCompare = 14;
constexpr int kLastCompare = 89;
constexpr int kCompareUntil = 90;
constexpr int kDone = 91;
constexpr int kBaselineDivisor = 10;
constexpr int kWideFrom = -10;  // a right peak above this gets the wide readout

std::string Format(const char* format, int left, int right) {
    char text[48];
    std::snprintf(text, sizeof text, format, left, right);
    return text;
}

}  // namespace

std::string PeakReadout(int peakLeft, int peakRight) {
    return Format(peakRight <= kWideFrom ? " %d %d" : "   %d  %d", peakLeft, peakRight);
}

std::string TestReadout(int left, int right, int peakRight) {
    return Format(peakRight <= kWideFrom ? "%d %d" : "%d   %d", left, right);
}

void MeterView::ResetPeaks() {
    peakLeft_ = -kLevelOffset;
    peakRight_ = -kLevelOffset;
}

UpdateResult MeterView::Update(int left, int right, bool& limiterFired) {
    UpdateResult result;
    if (limiterFired) {
        ResetPeaks();
        limiterFired = false;
    }
    result.setReadout = true;
    if (left > 0 && right > 0) {
        peakLeft_ = std::max(peakLeft_, left - kLevelOffset);
        peakRight_ = std::max(peakRight_, right - kLevelOffset);
        result.readout = PeakReadout(peakLeft_, peakRight_);
    }

    const int relLeft = left - kLevelOffset;
    const int relRight = right - kLevelOffset;
    // The comparison comes first: the update that takes the baseline is not
    // compared.
    if (counter_ >= kFirstCompare && counter_ <= kCompareUntil && audioTest_) {
        const int was = counter_++;
        result.readout = TestReadout(relLeft, relRight, peakRight_);
        if (relLeft > baseLeft_ + kVerdictRise || relRight > baseRight_ + kVerdictRise)
            result.verdict = Verdict::SoundDetected;
        else if (was == kLastCompare)
            result.verdict = Verdict::NoSound;
        if (result.verdict != Verdict::None) {
            result.reportLeft = relLeft;
            result.reportRight = relRight;
            counter_ = kDone;
            audioTest_ = false;
        }
    }
    if (counter_ < kSumBelow) {
        if (++counter_ == kBaselineStep) {
            baseLeft_ = sumLeft_ / kBaselineDivisor - kLevelOffset;
            baseRight_ = sumRight_ / kBaselineDivisor - kLevelOffset;
            result.readout = TestReadout(baseLeft_, baseRight_, peakRight_);
            counter_ = kFirstCompare;
        } else {
            sumLeft_ += left;
            sumRight_ += right;
        }
    }
    return result;
}

}  // namespace wavrel
