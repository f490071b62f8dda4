// An in-process push source of elementary-stream units (pictures, audio
// frames) with their times, for graph tests of filters that take encoded
// streams. Each run starts again from the first unit.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/Source.h"

#include <vector>

namespace testfilters {

struct EsUnit {
    std::vector<BYTE> bytes;
    REFERENCE_TIME start;  // -1: untimed
};

// Cuts an MPEG-1/2 video elementary stream before each picture (with the
// sequence and GOP headers in front of it); pictures are timed in stream
// order, so the stream must have no B pictures.
std::vector<EsUnit> SplitMpegVideo(const std::vector<BYTE>& es, REFERENCE_TIME frameDuration);
// Cuts an MPEG audio elementary stream into its frames, timed by samples.
std::vector<EsUnit> SplitMpegAudio(const std::vector<BYTE>& es);

// MPEG-2 video with a VIDEOINFOHEADER, and MPEG-1 audio (wave tag 0x50).
CMediaType MpegVideoType(LONG width, LONG height, REFERENCE_TIME frameDuration, DWORD bitrate);
CMediaType MpegAudioType(DWORD rate, WORD channels, DWORD bitrate);

class EsSourceFilter;

class EsStream : public CSourceStream {
public:
    EsStream(EsSourceFilter* filter, HRESULT* phr, const CMediaType& type, std::vector<EsUnit> units);
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadStartPlay() override;

private:
    CMediaType type_;
    std::vector<EsUnit> units_;
    size_t next_ = 0;
};

// One "Output" pin; one reference is held by its creator.
class EsSourceFilter : public CSource {
public:
    EsSourceFilter(const CMediaType& type, std::vector<EsUnit> units);

private:
    HRESULT hr_ = S_OK;
    EsStream* stream_;
};

}  // namespace testfilters
