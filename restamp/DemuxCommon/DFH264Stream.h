// Bare H.264: the stream has no time stamps, so every picture gets one made
// up from the frame duration of the sequence parameter set (in decoding
// order) and reported to the owner under the all-zero stream key.
#pragma once

#include "restamp/DemuxCommon/MainParserOwner.h"
#include "restamp/parsers/MH264.h"

class CDFH264Stream : public MH264::CH264Stream {
public:
    static constexpr int64_t kDefaultFrameDuration = 333333;

    CDFH264Stream(const MH264::DetectH264* det, AMainParserOwner* owner);

    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    // Reports the run up to the next slice with the pending time; without
    // one in hand all but the last ten bytes go, and the run goes on in the
    // next block. A run of which nothing goes keeps the time.
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    void Reset() override;

    int64_t FrameDuration() const { return frameDuration_; }
    const MH264::CH264SliceState& SliceState() const { return sliceState_; }
    const MH264::CH264ParamRecord& Params() const { return record_; }

private:
    uint32_t OnSequenceParameterSet(const BS::CParserEvent<MH264::CH264SeqHdr>& ev, BS::ParserControl* ctl);
    uint32_t OnSlice(const BS::CParserEvent<MH264::CH264SliceHdr>& ev, BS::ParserControl* ctl);

    AMainParserOwner* owner_;
    int64_t pending_ = 0;  // T
    int64_t base_ = 0;     // B
    bool timeReady_ = true;
    int64_t delay_ = 0;  // D
    bool bSlicesSeen_ = false;
    int64_t frameDuration_ = kDefaultFrameDuration;  // F
    MH264::CH264SliceState sliceState_;
    MH264::CH264ParamRecord record_;
    MH264::CH264SeqHdr seqHdr_{&record_};
    MH264::CH264SliceHdr scanSlice_{&record_};
    CStreamKey key_;
};

class CDFH264Dispatcher : public MH264::CH264Dispatcher {
public:
    // None until the owner is set.
    MH264::CH264Stream* NewH264Stream(const MH264::DetectH264* det) override;
    AMainParserOwner* owner = nullptr;
};
