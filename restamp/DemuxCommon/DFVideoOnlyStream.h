// Bare MPEG-1/MPEG-2 video: the stream has no time stamps, so every picture
// gets one made up from the frame rate (in decoding order) and reported to
// the owner under the all-zero stream key.
#pragma once

#include "restamp/DemuxCommon/MainParserOwner.h"
#include "restamp/parsers/MVideo.h"

class CDFVideoOnlyStream : public MVideo::CVEStream {
public:
    static constexpr int64_t kDefaultFrameDuration = 333333;

    explicit CDFVideoOnlyStream(AMainParserOwner* owner) : owner_(owner) {}

    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    // Reports the run up to the next picture or sequence header with the
    // pending time; without one in hand all but the last ten bytes go, and
    // the run goes on in the next block.
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    void Reset() override;

    int64_t FrameDuration() const { return frameDuration_; }
    void SetFrameDuration(int64_t f) { frameDuration_ = f; }
    int64_t PendingTime() const { return pending_; }
    void SetPendingTime(int64_t t) { pending_ = t; }

private:
    uint32_t OnPicture(const BS::CParserEvent<MVideo::CPictHdr>& ev, BS::ParserControl* ctl);
    uint32_t OnPictureCodingExt(const BS::CParserEvent<MVideo::CPictCodingExt>& ev);
    uint32_t OnSequenceHeader(const BS::CParserEvent<MVideo::CSeqHdr>& ev, BS::ParserControl* ctl);
    uint32_t OnSequenceExt(const BS::CParserEvent<MVideo::CSequenceExt>& ev);

    AMainParserOwner* owner_;
    uint32_t progressiveSequence_ = 0;
    int64_t duration_ = kDefaultFrameDuration;       // D, of the current picture
    int64_t frameDuration_ = kDefaultFrameDuration;  // F
    int64_t accumulated_ = 0;                        // A, display time not yet in the base
    int64_t base_ = 0;                               // B
    int64_t pending_ = 0;                            // T
    bool timeReady_ = true;
    CStreamKey key_;
};

class CDFVideoDispatcher : public MVideo::CVideoDispatcher {
public:
    // The element made from a detector takes its frame duration, and the
    // detector's sequence header becomes the owner's pending one.
    MVideo::CVEStream* NewVEStream(const MVideo::DetectVideoStream* det) override;
    AMainParserOwner* owner = nullptr;
};
