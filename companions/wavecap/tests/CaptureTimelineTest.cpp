// The wave-input source's times: sound that predates the run is cut, a late
// device start is covered with silence, and the count follows the graph's
// clock when the device's own clock runs at another rate.
#include "companions/wavecap/CaptureTimeline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using wavecap::CaptureTimeline;

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlock = 960;  // 20 ms
constexpr int64_t kMs = 10000;

struct Sent {
    int64_t start, stop;
    uint32_t frames;
};

// One wake-up: `blocks` blocks handed over together at `now`.
std::vector<Sent> Arrive(CaptureTimeline& t, int blocks, int64_t now) {
    std::vector<Sent> sent;
    t.Arrived(static_cast<uint64_t>(blocks) * kBlock, now);
    for (uint64_t s = t.TakeLeadingSilence(); s > 0;) {
        const uint32_t n = s < kBlock ? static_cast<uint32_t>(s) : kBlock;
        const CaptureTimeline::Span span = t.Next(n);
        sent.push_back({span.start, span.stop, n - span.skip});
        s -= n;
    }
    for (int i = 0; i < blocks; ++i) {
        const CaptureTimeline::Span span = t.Next(kBlock);
        if (span.skip < kBlock) sent.push_back({span.start, span.stop, kBlock - span.skip});
    }
    return sent;
}

TEST(CaptureTimeline, SoundFromBeforeTheRunIsCutAtZero) {
    CaptureTimeline t(kRate);
    t.Reset();
    // 80 ms held by the device when the run began, handed over 30 ms in.
    std::vector<Sent> sent = Arrive(t, 4, 30 * kMs);
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(0, sent[0].start);
    EXPECT_EQ(10 * kMs, sent[0].stop);
    EXPECT_EQ(480u, sent[0].frames);
    EXPECT_EQ(10 * kMs, sent[1].start);
    EXPECT_EQ(30 * kMs, sent[1].stop);
    // The next block follows by count.
    sent = Arrive(t, 1, 52 * kMs);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(30 * kMs, sent[0].start);
    EXPECT_EQ(50 * kMs, sent[0].stop);
}

TEST(CaptureTimeline, ALateDeviceStartIsCoveredWithSilenceFromZero) {
    CaptureTimeline t(kRate);
    t.Reset();
    std::vector<Sent> sent = Arrive(t, 1, 1500 * kMs);
    ASSERT_GT(sent.size(), 2u);
    EXPECT_EQ(0, sent.front().start);
    uint64_t frames = 0;
    for (size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i - 1].stop, sent[i].start) << i;
    for (const Sent& s : sent) frames += s.frames;
    EXPECT_EQ(1500u * 48, frames);
    EXPECT_EQ(1500 * kMs, sent.back().stop);
    EXPECT_EQ(0u, t.TakeLeadingSilence());
}

// A device whose clock runs off the graph's by `ppm`, with arrivals late by
// up to 25 ms at random, for `seconds`: how far the last stamp ends from
// the true end of the sound, and whether start times kept rising.
struct DriftRun {
    int64_t endError;
    bool rising;
    int64_t largestCorrection;
};

DriftRun RunWithDrift(double ppm, int seconds) {
    CaptureTimeline t(kRate);
    t.Reset();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> late(0, 25);
    const double blockTime = 20.0 * kMs * (1.0 + ppm / 1e6);  // graph time per device block
    int64_t lastStart = -1, lastStop = 0;
    bool rising = true;
    const int blocks = seconds * 50;
    for (int b = 1; b <= blocks; ++b) {
        const int64_t captured = static_cast<int64_t>(b * blockTime);
        for (const Sent& s : Arrive(t, 1, captured + late(random) * kMs)) {
            rising = rising && s.start > lastStart;
            lastStart = s.start;
            lastStop = s.stop;
        }
    }
    return {lastStop - static_cast<int64_t>(blocks * blockTime), rising, t.LargestCorrection()};
}

TEST(CaptureTimeline, FollowsTheGraphClockWhenTheDeviceClockDrifts) {
    struct Case {
        double ppm;
        bool corrects;
    } cases[] = {{0, false}, {2000, true}, {-2000, true}, {5000, true}};
    for (const Case& c : cases) {
        const DriftRun run = RunWithDrift(c.ppm, 120);
        // Uncorrected, 2000 ppm would be 240 ms off after two minutes.
        EXPECT_LE(std::abs(run.endError), 2 * CaptureTimeline::kTolerance + 25 * kMs) << c.ppm;
        EXPECT_TRUE(run.rising) << c.ppm;
        EXPECT_EQ(c.corrects, run.largestCorrection != 0) << c.ppm;
    }
}

TEST(CaptureTimeline, ArrivalJitterAloneChangesNoTime) {
    CaptureTimeline t(kRate);
    t.Reset();
    Arrive(t, 1, 20 * kMs);
    // Bursts: three blocks at once every 60 ms, up to 40 ms late.
    for (int b = 1; b < 1000; ++b) {
        const std::vector<Sent> sent = Arrive(t, 3, (20 + 60 * b + (b % 5) * 10) * kMs);
        ASSERT_EQ(3u, sent.size());
        EXPECT_EQ((20 + 60 * static_cast<int64_t>(b) - 60) * kMs, sent[0].start) << b;
    }
    EXPECT_EQ(0, t.LargestCorrection());
}

}  // namespace
