// The time-marker core's log lines. The core knows no platform: it formats a
// line and hands it to whatever sink the process installed (the filter shell
// routes it to its debug log; tests capture it). Without a sink nothing is
// formatted.
#pragma once

#include <cstdint>

namespace chronel {

// Categories as the debug log numbers them.
enum CoreLogMask : uint32_t {
    kCoreLogTrace = 2,
    kCoreLogError = 16,
    kCoreLogCustom1 = 32,
};

// text: the formatted line without a line break.
using CoreLogSink = void (*)(uint32_t mask, int level, const char* file, int line, const char* text);

// Process-wide; null removes the sink. Returns the sink it replaces.
CoreLogSink SetCoreLogSink(CoreLogSink sink);

void CoreLogPrintf(uint32_t mask, int level, const char* file, int line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;

}  // namespace chronel

#define CORE_LOG(mask, level, ...) ::chronel::CoreLogPrintf((mask), (level), __FILE__, __LINE__, __VA_ARGS__)
