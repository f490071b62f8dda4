// How one held input buffer is given out over the player's output buffers,
// and the time stamps each piece carries.
#pragma once

#include <cstdint>

namespace plugin {

constexpr int64_t kUnitsPerSecond = 10000000;  // 100-ns units

// What is left of the held input buffer.
struct HeldInput {
    uint32_t offset = 0;     // read position in the buffer
    uint32_t remaining = 0;  // bytes still to give out
    bool hasTime = false;
    int64_t time = 0;
};

// One output buffer's worth.
struct OutputSlice {
    uint32_t offset;  // where in the held buffer it starts
    uint32_t size;
    bool complete;  // the held buffer is used up
    bool hasTime;
    int64_t time;
    int64_t length;
};

// a * b / c rounded to nearest, halves away from zero (as MulDiv); -1 for c == 0.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c);

// Takes the next slice for an output buffer of `capacity` bytes and moves
// `held` past it (the held time grows by the slice's length).
OutputSlice TakeSlice(HeldInput& held, uint32_t capacity, uint32_t avgBytesPerSec);

}  // namespace plugin
