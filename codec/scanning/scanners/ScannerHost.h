// What a scanner needs from the input that owns it: the input's byte buffer
// and sample-time queue, its stream facts, and where finished units go.
#pragma once

#include "codec/scanning/AccessUnit.h"
#include "codec/scanning/StreamKinds.h"

#include <cstdint>
#include <vector>

class ScannerHost {
public:
    virtual ~ScannerHost() = default;

    virtual uint8_t* DataStart() = 0;  // first byte still held
    virtual uint8_t* DataEnd() = 0;    // one past the last byte received
    virtual muxcore::AccessUnitQueue& SampleTimes() = 0;
    virtual int32_t FreeUnitRecords() = 0;
    virtual bool HasEnded() = 0;  // end of stream received (or stopping)

    virtual int32_t OutputType() = 0;
    virtual int32_t TimingMode() = 0;
    virtual int32_t StreamType() = 0;
    // Added to every stamp: the initial time shift and the muxer's offset (100 ns).
    virtual int64_t TimeShift() = 0;

    virtual void SetFrameDuration(int64_t d) = 0;
    virtual int64_t FrameDuration() = 0;
    virtual int32_t ConfigureStream(int64_t unitDuration) = 0;
    virtual void QueueAccessUnit(const muxcore::AccessUnit& u) = 0;

    virtual int32_t AnnouncedBitrate() = 0;
    virtual void SetAnnouncedBitrate(int32_t bitsPerSecond) = 0;
    virtual void SetRealBitrate(int32_t bitsPerSecond) = 0;
    virtual int32_t CorrectEbSize() = 0;
    virtual void SetElementaryBufferSize(int32_t bytes) = 0;
    virtual void SetLeakRate(double bytesPerSecond) = 0;
    virtual int64_t LookAheadTicks() = 0;

    // A descriptor for the stream's entry of the program map table.
    virtual void AddEsInfoDescriptor(const std::vector<uint8_t>& descriptor) = 0;
    // The format block of the media type the stream turned out to have
    // (H.264: the MPEG-2 video info with its parameter sets).
    virtual void SetInternalMediaType(const std::vector<uint8_t>& formatBlock) = 0;

    virtual int32_t LpcmUnitSize() = 0;
    virtual muxcore::PcmFormat Pcm() = 0;
};
