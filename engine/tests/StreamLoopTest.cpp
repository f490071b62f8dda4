#include "engine/core/StreamLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/core/AudioHeaders.h"
#include "engine/tests/StreamFakes.h"

namespace engine {
namespace {

constexpr std::uint64_t kBufferMs = 5000;

struct LoopRun {
    StopFlags flags;
    FakeClock clock;
    FakeSocket socket{clock};
    FakeCapture capture;
    std::vector<std::string> traces;
    StreamResult result;
    LoopRun(std::uint32_t rate, std::uint32_t packet, bool silent, std::uint64_t stopAtMs)
        : clock(flags, stopAtMs), capture(clock, rate, packet, silent) {}
    StreamResult Go(std::uint32_t rate, std::uint64_t bufferMs = kBufferMs) {
        StreamLoop loop(capture, socket, clock, flags, rate, bufferMs,
                        [this](const std::string& line) { traces.push_back(line); });
        result = loop.Run();
        return result;
    }
    bool Traced(const char* text) const {
        return std::any_of(traces.begin(), traces.end(),
                           [&](const std::string& t) { return t.find(text) != std::string::npos; });
    }
};

void ExpectHeader(const std::vector<std::uint8_t>& received, std::uint32_t rate) {
    const auto header = BuildWavStreamHeader(rate);
    ASSERT_GE(received.size(), header.size());
    EXPECT_TRUE(std::equal(header.begin(), header.end(), received.begin()));
}

// The body after the header and the first pass's tenth of silence holds
// every captured frame, in order, nothing lost and nothing doubled.
void ExpectWholeSound(const std::vector<std::uint8_t>& received, std::uint32_t rate, std::uint64_t frames) {
    const std::size_t start = kWavHeaderSize + rate * 4 / 10;
    ASSERT_EQ(start + frames * 4, received.size());
    for (std::uint64_t i = 0; i < frames; ++i) {
        std::uint32_t index = 0;
        std::memcpy(&index, &received[start + i * 4], 4);
        if (index != i) {
            ADD_FAILURE() << "frame " << i << " holds " << index;
            return;
        }
    }
}

TEST(EngineStreamLoop, HeaderThenSilenceEveryTenthWhileNothingPlays) {
    for (std::uint32_t rate : {44100u, 48000u}) {
        LoopRun run(rate, 480, false, 1000);
        run.capture.playing = false;
        EXPECT_EQ(StreamResult::End::Stopped, run.Go(rate).end);
        ExpectHeader(run.socket.received, rate);
        // One send per pass of 100 ms, each a tenth of a second of zeros.
        EXPECT_GE(run.socket.calls, 9);
        EXPECT_LE(run.socket.calls, 11);
        const std::size_t body = run.socket.received.size() - kWavHeaderSize;
        EXPECT_EQ(0u, body % (rate * 4 / 10));
        EXPECT_TRUE(std::all_of(run.socket.received.begin() + kWavHeaderSize, run.socket.received.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

TEST(EngineStreamLoop, PartialSendsLoseNothing) {
    LoopRun run(44100, 441, false, 2000);
    run.socket.maxPerCall = 1000;
    run.Go(44100);
    ExpectHeader(run.socket.received, 44100);
    ExpectWholeSound(run.socket.received, 44100, run.capture.Consumed());
    EXPECT_GT(run.capture.Consumed(), 44100u * 3 / 2);
}

TEST(EngineStreamLoop, StallShorterThanTheCaptureBufferIsBridged) {
    for (bool fail : {false, true}) {
        LoopRun run(48000, 480, false, 3000);
        run.socket.blockFrom = 400;
        run.socket.blockUntil = 1400;
        run.socket.failInstead = fail;
        EXPECT_EQ(StreamResult::End::Stopped, run.Go(48000).end);
        EXPECT_TRUE(run.Traced("FOUND t = "));
        ExpectWholeSound(run.socket.received, 48000, run.capture.Consumed());
    }
}

TEST(EngineStreamLoop, StallLongerThanTheCaptureBufferGivesUp) {
    LoopRun run(48000, 480, false, 60000);
    run.socket.blockFrom = 300;
    run.socket.blockUntil = 60000;
    EXPECT_EQ(StreamResult::End::GaveUp, run.Go(48000, 1000).end);
    EXPECT_TRUE(run.Traced("CANNOT CONTINUE"));
    EXPECT_LT(run.clock.now_, 2000u);
}

TEST(EngineStreamLoop, StopDuringAStallEndsTheStream) {
    LoopRun run(48000, 480, false, 700);
    run.socket.blockFrom = 300;
    run.socket.blockUntil = 60000;
    EXPECT_EQ(StreamResult::End::Stopped, run.Go(48000).end);
    EXPECT_LE(run.clock.now_, 800u);
}

TEST(EngineStreamLoop, EveryAppendStaysInsideTheBuffer) {
    // At 96 kHz a stall of 2.7 s holds more than the buffer: sound and
    // silence alike stop at its end.
    for (bool silent : {false, true}) {
        LoopRun run(96000, 960, silent, 4000);
        run.socket.blockFrom = 200;
        run.socket.blockUntil = 2900;
        run.Go(96000);
        EXPECT_EQ(kStreamBufferSize, run.socket.largestAsked) << silent;
    }
}

TEST(EngineStreamLoop, SilentPacketsLastAsLongAsTheirFrames) {
    // Packets of 1024 frames: a hundredth of a second would be 1920 bytes.
    LoopRun run(48000, 1024, true, 1000);
    run.Go(48000);
    const std::size_t body = run.socket.received.size() - kWavHeaderSize - 48000 * 4 / 10;
    EXPECT_EQ(run.capture.Consumed() * 4, body);
    EXPECT_TRUE(std::all_of(run.socket.received.begin() + kWavHeaderSize, run.socket.received.end(),
                            [](std::uint8_t b) { return b == 0; }));
}

TEST(EngineStreamLoop, CaptureFailureNamesItsStep) {
    LoopRun run(48000, 480, false, 1000);
    const long kServiceNotRunning = static_cast<std::int32_t>(0x88890010u);
    run.capture.failNext = kServiceNotRunning;
    const StreamResult result = run.Go(48000);
    EXPECT_EQ(StreamResult::End::Failed, result.end);
    EXPECT_EQ(5, result.step);
    EXPECT_EQ(kServiceNotRunning, result.result);

    LoopRun stopped(48000, 480, false, 1000);
    stopped.flags.streamingStopped = true;
    EXPECT_EQ(StreamResult::End::Stopped, stopped.Go(48000).end);
    EXPECT_TRUE(stopped.socket.received.empty());
}

}  // namespace
}  // namespace engine
