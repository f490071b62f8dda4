// The time marker's diagnostic log: one global printf-style call that writes
// nothing unless a developer switched a category on. This front end filters
// and formats; the filter's shell reads the switches and supplies the output.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace chronel {

enum LogMask : uint32_t {
    LOG_TIMING = 1,
    LOG_TRACE = 2,
    LOG_MEMORY = 4,
    LOG_LOCKING = 8,
    LOG_ERROR = 16,
    LOG_CUSTOM1 = 32,
    LOG_CUSTOM2 = 64,
    LOG_CUSTOM3 = 128,
    LOG_CUSTOM4 = 256,
    LOG_CUSTOM5 = 512,
};

constexpr int kLogCategories = 10;
extern const char* const kLogCategoryNames[kLogCategories];

struct LogSettings {
    uint32_t thresholds[kLogCategories] = {};
    bool enableInRelease = false;
    std::string filePath;
};

// Where finished lines go, and the clock they are stamped with.
class LogOutput {
public:
    virtual ~LogOutput() = default;
    virtual void Write(const std::string& line) = 0;
    virtual void LocalTime(int* hour, int* minute, int* second) = 0;
    // Fraction of the current second, or a negative value when unknown.
    virtual double SecondFraction() = 0;
    virtual uint32_t ThreadId() = 0;
};

class ELogDebug {
public:
    // Joins the process-wide list and becomes the current logger.
    ELogDebug(std::string moduleName, const LogSettings& settings, LogOutput* output);
    ~ELogDebug();
    ELogDebug(const ELogDebug&) = delete;
    ELogDebug& operator=(const ELogDebug&) = delete;

    bool Enabled() const { return enabled_; }
    bool EnabledInRelease() const { return settings_.enableInRelease; }
    const LogSettings& Settings() const { return settings_; }

    // Writes a formatted line when a category of mask admits level.
    void Print(uint32_t mask, int level, const char* file, int line, const char* format, va_list args);
    // The line that opens a log: written whatever the thresholds say.
    void WriteHeader(const std::string& text);

private:
    void WriteLine(int category, int level, const char* file, int line, const char* text);

    std::string module_;
    LogSettings settings_;
    LogOutput* output_;
    bool enabled_;
    void* lock_;  // a std::mutex, kept out of this header
};

void ELogDebugPrintf(uint32_t mask, int level, const char* file, int line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 5, 6)))
#endif
    ;

}  // namespace chronel

#define DMX_LOG(mask, level, ...) ::chronel::ELogDebugPrintf((mask), (level), __FILE__, __LINE__, __VA_ARGS__)
