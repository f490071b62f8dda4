#include "engine/core/Lifecycle.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

using Tick = Lifecycle::Tick;

TEST(EngineLifecycle, FirstTickStartsARecordingModeOnly) {
    Lifecycle recording(true);
    EXPECT_EQ(Tick::StartRecording, recording.OnTick(true));
    EXPECT_EQ(Tick::None, recording.OnTick(true));

    Lifecycle idle(false);
    EXPECT_EQ(Tick::None, idle.OnTick(true));
    EXPECT_FALSE(idle.OnStopRequest(kStopCode));  // neither mode: a stop changes nothing
    EXPECT_FALSE(idle.Flags().stop);
    EXPECT_EQ(Tick::Exit, idle.OnTick(false));  // no "Vantor" window
}

TEST(EngineLifecycle, NotClosedOnTheNinthTickAfterTheStop) {
    Lifecycle life(true);
    life.OnTick(true);
    EXPECT_FALSE(life.OnStopRequest(101));
    EXPECT_FALSE(life.Flags().stop);
    EXPECT_TRUE(life.OnStopRequest(kStopCode));
    EXPECT_TRUE(life.Flags().stop);
    EXPECT_TRUE(life.Flags().closing);
    // Its message pumping re-enters: the stop is not begun twice.
    EXPECT_FALSE(life.OnStopRequest(kStopCode));
    EXPECT_EQ(Tick::None, life.OnTick(true));  // still pumping: not armed
    life.ArmStopCounter();
    for (int tick = 1; tick <= 8; ++tick) EXPECT_EQ(Tick::None, life.OnTick(true)) << tick;
    EXPECT_EQ(Tick::NotClosed, life.OnTick(true));
}

TEST(EngineLifecycle, ClosedStopDisarmsTheCounter) {
    Lifecycle life(true);
    life.OnTick(true);
    life.OnStopRequest(kStopCode);
    life.ArmStopCounter();
    life.OnTick(true);
    life.OnClosed();
    for (int tick = 0; tick < 12; ++tick) EXPECT_EQ(Tick::None, life.OnTick(true));
}

TEST(EngineLifecycle, ControlProgramGoneMidRecordingClosesTheFileFirst) {
    Lifecycle life(true);
    EXPECT_EQ(Tick::StartRecording, life.OnTick(true));
    EXPECT_EQ(Tick::BeginStop, life.OnTick(false));
    EXPECT_TRUE(life.Flags().stop);
    EXPECT_EQ(Tick::None, life.OnTick(false));  // the stop runs; no exit behind its back
    life.ArmStopCounter();
    for (int tick = 1; tick <= 8; ++tick) EXPECT_EQ(Tick::None, life.OnTick(false));
    EXPECT_EQ(Tick::NotClosed, life.OnTick(false));

    Lifecycle before(true);
    EXPECT_EQ(Tick::Exit, before.OnTick(false));  // nothing recorded yet
}

}  // namespace
}  // namespace engine
