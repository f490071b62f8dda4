#include "restamp/FilterStuff/DebugLog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace chronel {

const char* const kLogCategoryNames[kLogCategories] = {"TIMING",  "TRACE",   "MEMORY",  "LOCKING", "ERROR",
                                                       "CUSTOM1", "CUSTOM2", "CUSTOM3", "CUSTOM4", "CUSTOM5"};

namespace {

constexpr size_t kTextLimit = 10240;  // formatted text, terminator included

// Every live logger; the current one is the one made last.
std::mutex g_listLock;
std::vector<ELogDebug*> g_loggers;
ELogDebug* g_current = nullptr;
// Lets the common case (nothing switched on) return without a lock.
std::atomic<bool> g_anyEnabled{false};

void RefreshAnyEnabled() {
    g_anyEnabled = g_current && g_current->Enabled() && g_current->EnabledInRelease();
}

const char* BaseName(const char* path) {
    if (!path) return "";
    const char* slash = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/') slash = p + 1;
    return slash;
}

}  // namespace

ELogDebug::ELogDebug(std::string moduleName, const LogSettings& settings, LogOutput* output)
    : module_(std::move(moduleName)), settings_(settings), output_(output), enabled_(false), lock_(new std::mutex) {
    enabled_ = std::any_of(std::begin(settings_.thresholds), std::end(settings_.thresholds),
                           [](uint32_t t) { return t != 0; });
    std::lock_guard<std::mutex> guard(g_listLock);
    g_loggers.push_back(this);
    g_current = this;
    RefreshAnyEnabled();
}

ELogDebug::~ELogDebug() {
    {
        std::lock_guard<std::mutex> guard(g_listLock);
        g_loggers.erase(std::remove(g_loggers.begin(), g_loggers.end(), this), g_loggers.end());
        if (g_current == this) g_current = g_loggers.empty() ? nullptr : g_loggers.front();
        RefreshAnyEnabled();
    }
    delete static_cast<std::mutex*>(lock_);
}

void ELogDebug::Print(uint32_t mask, int level, const char* file, int line, const char* format, va_list args) {
    if (!enabled_ || !settings_.enableInRelease || level <= 0 || !output_) return;
    std::lock_guard<std::mutex> guard(*static_cast<std::mutex*>(lock_));
    int category = -1;
    for (int i = 0; i < kLogCategories; ++i) {
        if ((mask & (1u << i)) && settings_.thresholds[i] >= static_cast<uint32_t>(level)) {
            category = i;
            break;
        }
    }
    if (category < 0) return;
    char text[kTextLimit];
    int n = std::vsnprintf(text, sizeof text, format ? format : "", args);
    if (n < 0) text[0] = '\0';
    WriteLine(category, level, file, line, text);
}

void ELogDebug::WriteHeader(const std::string& text) {
    if (!output_) return;
    std::lock_guard<std::mutex> guard(*static_cast<std::mutex*>(lock_));
    WriteLine(0, 0, "ELogDebug", 161, text.c_str());
}

void ELogDebug::WriteLine(int category, int level, const char* file, int line, const char* text) {
    int hour = 0, minute = 0, second = 0;
    output_->LocalTime(&hour, &minute, &second);
    char head[128];
    std::string out = module_;
    std::snprintf(head, sizeof head, " %d:%d:%d ", hour, minute, second);
    out += head;
    double fraction = output_->SecondFraction();
    if (fraction >= 0) {
        std::snprintf(head, sizeof head, "%f ", fraction);
        out += head;
    }
    std::snprintf(head, sizeof head, "%s:%d\t %s:%d (tid 0x%X)\t", kLogCategoryNames[category], level, BaseName(file),
                  line, output_->ThreadId());
    out += head;
    out += text;
    out += '\n';
    output_->Write(out);
}

void ELogDebugPrintf(uint32_t mask, int level, const char* file, int line, const char* format, ...) {
    if (!g_anyEnabled.load(std::memory_order_relaxed)) return;
    // The list lock is held while printing so the logger cannot die under us.
    std::lock_guard<std::mutex> guard(g_listLock);
    if (!g_current) return;
    va_list args;
    va_start(args, format);
    g_current->Print(mask, level, file, line, format, args);
    va_end(args);
}

}  // namespace chronel
