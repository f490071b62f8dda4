// The debug log's Windows side: its switches from "<module>.ini" or the
// registry, and its output to the debugger and an optional file.
#pragma once

#include <windows.h>

#include "restamp/FilterStuff/DebugLog.h"

#include <memory>

class ChronelLog : public chronel::LogOutput {
public:
    explicit ChronelLog(HMODULE module);
    ~ChronelLog() override;
    ChronelLog(const ChronelLog&) = delete;
    ChronelLog& operator=(const ChronelLog&) = delete;

    void Write(const std::string& line) override;
    void LocalTime(int* hour, int* minute, int* second) override;
    double SecondFraction() override;
    uint32_t ThreadId() override { return GetCurrentThreadId(); }

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    LONGLONG m_frequency = 0;
    std::unique_ptr<chronel::ELogDebug> m_log;
};
