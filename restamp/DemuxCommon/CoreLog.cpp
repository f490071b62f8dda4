#include "restamp/DemuxCommon/CoreLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace chronel {

namespace {

// Longer lines are cut; the log is for people reading it.
constexpr size_t kMaxLine = 512;

std::atomic<CoreLogSink> g_sink{nullptr};

}  // namespace

CoreLogSink SetCoreLogSink(CoreLogSink sink) {
    return g_sink.exchange(sink);
}

void CoreLogPrintf(uint32_t mask, int level, const char* file, int line, const char* format, ...) {
    const CoreLogSink sink = g_sink.load();
    if (!sink) return;
    char text[kMaxLine];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    sink(mask, level, file, line, text);
}

}  // namespace chronel
