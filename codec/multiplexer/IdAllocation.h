// The rules that hand out PIDs and program numbers, for the core's structure
// and for the filter's parameters alike. `taken` answers whether a value is
// already in use elsewhere.
#pragma once

#include <cstdint>

namespace muxcore {

constexpr int32_t kFirstAllocatedPid = 1000;
constexpr int32_t kLastAllocatablePid = 8190;
constexpr int32_t kLastProgramNumber = 65534;

// The request (its low 13 bits; above 8190 or 0: none) when free, else the
// lowest free PID from 1000; 0 when every one is taken.
template <class Taken>
int32_t AllocatePid(int32_t request, Taken taken) {
    if (request > kLastAllocatablePid || request < 0) request = 0;
    int32_t pid = request ? (request & 0x1FFF) : kFirstAllocatedPid;
    if (!taken(pid)) return pid;
    for (pid = kFirstAllocatedPid; pid <= kLastAllocatablePid; ++pid)
        if (!taken(pid)) return pid;
    return 0;
}

// The request (0: none) when free, else the lowest free number from 1.
template <class Taken>
int32_t AllocateProgramNumber(int32_t request, Taken taken) {
    int32_t n = request > 0 && request <= kLastProgramNumber ? request : 1;
    if (!taken(n)) return n;
    for (n = 1; n < kLastProgramNumber && taken(n); ++n) {}
    return n;
}

}  // namespace muxcore
