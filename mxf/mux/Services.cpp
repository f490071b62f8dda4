#include "mxf/mux/Services.h"

#include "mxf/mux/MxfFileWriter.h"

#include <chrono>
#include <ctime>
#include <mutex>
#include <random>

namespace mexora {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // 100 ns units
constexpr int64_t kDaysFrom1601To1970 = 134774;

std::mutex& ServiceLock() {
    static std::mutex m;
    return m;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void NewGuid(uint8_t guid[16]) {
    std::lock_guard<std::mutex> hold(ServiceLock());
    static std::mt19937_64 engine = [] {
        std::random_device device;
        const uint64_t now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seed{device(), device(), static_cast<uint32_t>(now), static_cast<uint32_t>(now >> 32)};
        return std::mt19937_64(seed);
    }();
    for (int i = 0; i < 16; i += 8) {
        const uint64_t v = engine();
        for (int k = 0; k < 8; k++) guid[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    guid[6] = static_cast<uint8_t>((guid[6] & 0x0F) | 0x40);  // version 4
    guid[8] = static_cast<uint8_t>((guid[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

int64_t LocalTime() {
    std::lock_guard<std::mutex> hold(ServiceLock());
    const std::time_t now = std::time(nullptr);
    const std::tm* t = std::localtime(&now);  // guarded: it shares a static buffer
    if (!t) return 0;
    const int64_t days = DaysFromCivil(t->tm_year + 1900, t->tm_mon + 1, t->tm_mday) + kDaysFrom1601To1970;
    const int64_t seconds = days * 86400 + t->tm_hour * 3600 + t->tm_min * 60 + t->tm_sec;
    return seconds * kTicksPerSecond;
}

}  // namespace

MuxServices ProductionServices() {
    MuxServices s;
    s.makeWriter = mxf::FileWriterFactory();
    s.writer.newGuid = NewGuid;
    s.writer.localTime = LocalTime;
    return s;
}

}  // namespace mexora
