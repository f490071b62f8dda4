// Finds out what a PES stream carries: collects its payload and runs the
// elementary-stream tests on it; private stream 1 is split by sub-stream id.
#pragma once

#include "restamp/parsers/EsHeaders.h"
#include "restamp/parsers/MAudio.h"
#include "restamp/parsers/MVideo.h"

#include <map>
#include <memory>

// Formats the detector reports.
enum DetectedFormat : uint32_t {
    kFormatUnknown = 0,
    kFormatMpegVideo = 1,
    kFormatMpegAudio = 2,
    kFormatAC3 = 3,
    kFormatAAC = 4,
    kFormatSubStreams = 5,
    kFormatMpeg4Video = 6,
    kFormatH264 = 7,
    kFormatH264SL = 8,
    kFormatAES3 = 10,
};

namespace BSUtils {

class CStreamDetector;

class CStreamDetectorSubstream {
public:
    CStreamDetectorSubstream(CStreamDetector* owner, uint8_t id) : owner_(owner), id_(id) {}
    void AddData(const uint8_t* d, uint32_t len, bool packetStart);
    uint32_t Analyse();

    uint32_t matchingPackets = 0, packets = 0;
    uint32_t result = 0;  // 0 undecided, 1 AC-3, 2 LPCM, 3 subpicture
    uint32_t lpcmCount = 0, subpictureCount = 0;
    AC3::DetectAC3 ac3;
    LPCM::CLPCMHeader lpcm;

private:
    CStreamDetector* owner_;
    uint8_t id_;
    int64_t subpictureEnd_ = -1;
    BS::CSequentialBuffer buffer_;
};

class CStreamDetector {
public:
    static constexpr uint32_t kBufferSize = 0x1FFFF;

    explicit CStreamDetector(const CStreamKey& key);
    virtual ~CStreamDetector() = default;

    virtual void AddData(uint64_t pos, const uint8_t* d, uint32_t len, uint32_t reserved, bool packetStart);
    virtual bool Detect(bool final);
    virtual void ClearBuffer() { buffer_.Clear(); }

    virtual void OnVideoFound(const MVideo::DetectVideoStream&) {}
    virtual void OnAudioFound(const MAudio::CAudioFormat&) {}
    virtual void OnAACFound(const AAC::DetectAACStream&) {}
    virtual void OnSubstreamAC3Found(const AC3::DetectAC3&, const CStreamKey&) {}
    virtual void OnAC3Found(const AC3::DetectAC3&) {}
    virtual void OnLPCMFound(const LPCM::CLPCMHeader&, const CStreamKey&) {}
    virtual void OnAES3Found(const AES3::CAES3Header&) {}
    virtual void OnSubpictureFound(const CStreamKey&) {}
    virtual void OnH264Found(const MH264::DetectH264&) {}
    virtual void OnMPEG4VideoFound(const DIVX::DetectDiv4Stream&) {}

    virtual void Analyse(bool final);
    virtual void AnalyseSubstreams();

    CStreamKey SubKey(uint8_t id) const {
        CStreamKey k = key_;
        k.subStreamId = id;
        return k;
    }
    uint32_t GetDetected() const { return detected; }

    MVideo::DetectVideoStream video;
    MH264::DetectH264 h264;
    DIVX::DetectDiv4Stream divx;
    MAudio::CAudioFormat audio;
    AAC::DetectAACStream aac;
    AC3::DetectAC3 ac3;
    LPCM::CLPCMHeader lpcm;
    AES3::CAES3Header aes3;

    uint32_t detected = 0;
    uint32_t family = 0;
    uint32_t isPrivate = 0;
    uint32_t packetStarts = 0;
    uint64_t bytesFed = 0;
    int32_t currentSub = -1;
    std::map<uint8_t, std::unique_ptr<CStreamDetectorSubstream>> subStreams;

protected:
    friend class CStreamDetectorSubstream;
    void Drop(uint32_t upTo) { buffer_.Advance(upTo); }
    CStreamKey key_;
    BS::CSequentialBuffer buffer_;
};

}  // namespace BSUtils
