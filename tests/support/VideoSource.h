// An in-process source of raw video frames for graph tests: a moving test
// pattern in RGB32, RGB24, YUY2, UYVY, I420, YV12 or YV16 with sample times at a configurable
// rate, optional jitter on the times, and an "Output" pin.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/Source.h"

namespace testfilters {

enum class VideoColour { RGB32, RGB24, YUY2, I420, YV12, YV16, UYVY };

struct VideoFormat {
    VideoColour colour;
    int width, height;
    double fps;             // the rate of the sample times
    int frames;             // then end of stream
    bool announceRate;      // AvgTimePerFrame in the type (else 0)
    bool topDown;           // RGB with a negative height
    REFERENCE_TIME jitter;  // each start time moves by up to this much
    REFERENCE_TIME gapAt;   // a pause of `gap` before this frame index (0: none)
    REFERENCE_TIME gap;
    DWORD paceMs = 0;  // a real pause before each frame, so other sources keep up
};

class VideoSourceFilter;

class VideoStream : public CSourceStream {
public:
    VideoStream(VideoSourceFilter* filter, HRESULT* phr, const VideoFormat& format);
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadStartPlay() override;
    long FrameBytes() const;

private:
    VideoFormat format_;
    int sent_ = 0;
};

class VideoSourceFilter : public CSource {
public:
    explicit VideoSourceFilter(const VideoFormat& format);

private:
    HRESULT hr_ = S_OK;
    VideoStream* stream_;
};

}  // namespace testfilters
