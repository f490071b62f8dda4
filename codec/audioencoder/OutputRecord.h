// The filter's side of the engine's output record: coded bytes go into
// media-sample buffers that the filter hands out and delivers.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "codec/common/bufstream.h"

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // A fresh buffer to fill (the held one, if any, is released first).
    virtual HRESULT GetBuffer(BYTE** buffer, long* size, REFERENCE_TIME start) = 0;
    // The held buffer with used bytes in it.
    virtual HRESULT Deliver(BYTE* buffer, long used, REFERENCE_TIME start, REFERENCE_TIME stop) = 0;
};

// A record of the engine's output; privateSize is the size of the spare
// buffer used when no media sample can be had (its bytes are dropped).
// Null when out of memory (message goes to report).
bufstream* CreateOutputRecord(OutputSink* sink, uint32_t privateSize, REFERENCE_TIME duration,
                              void (*report)(const char* text));
void SetOutputRecordDuration(bufstream* bs, REFERENCE_TIME duration);
