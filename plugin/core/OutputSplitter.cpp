#include "plugin/core/OutputSplitter.h"

#include <algorithm>

namespace plugin {

int64_t MulDivRound(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return -1;
    int64_t num = a * b;
    bool negative = (num < 0) != (c < 0);
    int64_t absNum = num < 0 ? -num : num;
    int64_t absC = c < 0 ? -c : c;
    int64_t q = (absNum + absC / 2) / absC;
    return negative ? -q : q;
}

OutputSlice TakeSlice(HeldInput& held, uint32_t capacity, uint32_t avgBytesPerSec) {
    OutputSlice s{};
    s.offset = held.offset;
    s.size = std::min(capacity, held.remaining);
    s.complete = capacity >= held.remaining;
    s.hasTime = held.hasTime;
    if (held.hasTime) {
        s.time = held.time;
        s.length = MulDivRound(s.size, kUnitsPerSecond, avgBytesPerSec);
        held.time += s.length;
    }
    if (s.complete) {
        held = HeldInput{};
    } else {
        held.offset += s.size;
        held.remaining -= s.size;
    }
    return s;
}

}  // namespace plugin
