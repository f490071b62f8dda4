#include "recorder/core/EngineLaunch.h"

#include <gtest/gtest.h>

namespace recorder {
namespace {

// An engine that takes `closeMs` to go after the stop message.
struct SlowEngine {
    unsigned closeMs;
    unsigned now = 0;
    bool Present() const { return now < closeMs; }
};

TEST(EngineLaunch, WaitsAsLongAsTheEnginesStopCanTake) {
    // Its second of pumping, its stop thread's second and a graph Stop.
    for (unsigned closeMs : {0u, 900u, 2500u, 4700u, 11000u}) {
        SlowEngine engine{closeMs};
        EXPECT_TRUE(WaitEngineClose([&] { return engine.Present(); }, [&](unsigned ms) { engine.now += ms; }))
            << closeMs;
        EXPECT_LE(engine.now, std::max(closeMs + kEngineClosePollMs, kEngineCloseFirstWaitMs)) << closeMs;
    }
    SlowEngine stuck{1000000};
    EXPECT_FALSE(WaitEngineClose([&] { return stuck.Present(); }, [&](unsigned ms) { stuck.now += ms; }));
    EXPECT_EQ(kEngineCloseLimitMs, stuck.now);
}

}  // namespace
}  // namespace recorder
