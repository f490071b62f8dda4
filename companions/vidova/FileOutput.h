// A bufstream that writes into a file or memory, for the driver and tests.
#pragma once
#include "codec/common/bufstream.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace vidova {

struct MemoryOutput {
    bufstream bs{};
    // The unit being filled. Not cleared: pages a small unit never reaches
    // are never touched.
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t capacity = 0, used = 0;
    std::vector<std::vector<uint8_t>> units;  // delivered units
    std::vector<int64_t> unitStart;           // their start times
    std::FILE* file = nullptr;                // when set, units are written here instead of kept
    int writeError = 0;                       // errno of the first failed write, 0 when none failed
    int64_t times[2] = {-1, -1};
    uint32_t infoCalls = 0;
    double lastPsnr = 0, lastBitrate = 0;

    explicit MemoryOutput(uint32_t size = 1u << 20);
    void deliverHeld();
    uint64_t bytes() const;
};

}  // namespace vidova
