// In-process filters for graph tests: a renderer that records what reaches
// it, and a source of generated 16-bit PCM.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/Source.h"

#include <vector>

namespace testfilters {

struct SeenSample {
    std::vector<BYTE> bytes;
    bool timed;
    REFERENCE_TIME start, stop;
    bool sync, discontinuity;
};

class RecorderPin : public CBaseInputPin {
public:
    RecorderPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP EndOfStream() override;

    // Copies of what arrived so far.
    std::vector<SeenSample> Seen();
    void Clear();
    // Waits for the end of stream.
    bool WaitForEnd(DWORD ms) { return ended_.Wait(ms); }

private:
    CCritSec seenLock_;
    std::vector<SeenSample> seen_;
    CAMEvent ended_{TRUE};
};

// A renderer that keeps every sample; one reference is held by its creator.
class RecorderFilter : public CBaseFilter {
public:
    RecorderFilter();
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    RecorderPin& Pin() { return pin_; }

private:
    CCritSec lock_;
    HRESULT hr_ = S_OK;
    RecorderPin pin_;
};

struct PcmFormat {
    DWORD rate;
    WORD channels;
    WORD bits;
    double seconds;
    DWORD blockMs;  // one sample carries this much
};

class PcmSourceFilter;

class PcmStream : public CSourceStream {
public:
    PcmStream(PcmSourceFilter* filter, HRESULT* phr, const PcmFormat& format);
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadStartPlay() override;

private:
    PcmFormat format_;
    unsigned long long framesSent_ = 0;
};

// A source of a 1 kHz tone (left) and 440 Hz (right), "Output" pin.
class PcmSourceFilter : public CSource {
public:
    explicit PcmSourceFilter(const PcmFormat& format);

private:
    HRESULT hr_ = S_OK;
    PcmStream* stream_;
};

}  // namespace testfilters
