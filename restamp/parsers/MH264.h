// H.264 byte streams: NAL unit headers over the shared decoders of
// codec/common (parameter sets, slice headers, SEI, order counts), the
// start-code scanner, the header handler, the elementary-stream element, the
// bare-stream dispatcher and the slice state that finds picture starts.
#pragma once

#include "restamp/parsers/BSParser.h"
#include "restamp/parsers/EsHeaders.h"

#include "codec/common/H264Headers.h"

#include <vector>

namespace MH264 {

namespace h264 = MpegCommon::h264;

// A start code is parsed once this many bytes from it are in hand.
constexpr uint32_t kMinNalBytes = 21;

// The parameter sets the slice headers of one handler are read with: the
// latest sequence parameter set and the picture parameter sets by id.
struct CH264ParamRecord {
    h264::Sps sps;
    bool spsValid = false;
    std::vector<h264::Pps> pps;  // by pic_parameter_set_id
    std::vector<uint8_t> ppsValid;
    // Set by the first parameter set parsed, never cleared.
    bool seen = false;
    const h264::Pps* Pps(uint32_t id) const { return id < pps.size() && ppsValid[id] ? &pps[id] : nullptr; }
    void StorePps(const h264::Pps& p);
    // Takes in the sequence and picture parameter sets of a byte run (a
    // detector's copy of the stream's first ones).
    void Prime(const uint8_t* d, uint32_t len);
};

// Every Parse gets the bytes from the start code's first byte (00 00 01) on.
class CH264NALUnitHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { *this = CH264NALUnitHdr(); }
    bool IsValid() const override { return valid; }
    uint8_t nalRefIdc = 255, nalUnitType = 255;
    bool valid = false;
};

class CH264SeqHdr : public BS::AHeader {
public:
    explicit CH264SeqHdr(CH264ParamRecord* rec = nullptr) : record(rec) {}
    bool Parse(const uint8_t* d, uint32_t len) override;
    // From the NAL header byte on.
    bool ParseNal(const uint8_t* nal, uint32_t len);
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    // One frame in 100-ns units: from the VUI timing when it is given, else
    // 25 frames per second for 576- and 288-line pictures and 30 for others.
    int32_t GetFrameDuration() const;
    h264::Sps sps;
    uint8_t nalRefIdc = 0;
    bool valid = false;
    CH264ParamRecord* record;  // receives the set when given
};

class CH264PictHdr : public BS::AHeader {
public:
    explicit CH264PictHdr(CH264ParamRecord* rec = nullptr) : record(rec) {}
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    h264::Pps pps;
    bool valid = false;
    CH264ParamRecord* record;
};

class CH264SliceHdr : public BS::AHeader {
public:
    explicit CH264SliceHdr(const CH264ParamRecord* rec = nullptr) : record(rec) {}
    bool Parse(const uint8_t* d, uint32_t len) override;
    // From the NAL header byte on.
    bool ParseNal(const uint8_t* nal, uint32_t len);
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    h264::SliceHeader slice;
    bool valid = false;
    const CH264ParamRecord* record;
};

class CH264SEI : public BS::AHeader {
public:
    explicit CH264SEI(const CH264ParamRecord* rec = nullptr) : record(rec) {}
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { valid = false; }
    bool IsValid() const override { return valid; }
    h264::Sei sei;
    bool valid = false;
    const CH264ParamRecord* record;
};

class CH264ParserImpl : public BS::CStartCodeScanner<kMinNalBytes> {};

class CH264ParserHandlerImpl {
public:
    CH264ParserHandlerImpl() : seqHdr(&record), pictHdr(&record), sliceHdr(&record), sei(&record) {}
    CH264ParserHandlerImpl(const CH264ParserHandlerImpl&) = delete;
    CH264ParserHandlerImpl& operator=(const CH264ParserHandlerImpl&) = delete;
    virtual ~CH264ParserHandlerImpl() = default;
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail);
    BS::CBaseEvent* GetEvent() { return last_; }
    void ResetHandler() {}

    CH264ParamRecord record;
    CH264NALUnitHdr nalHdr;
    CH264SeqHdr seqHdr;
    CH264PictHdr pictHdr;
    CH264SliceHdr sliceHdr;
    CH264SEI sei;
    BS::CParserEvent<CH264NALUnitHdr> evNal;
    BS::CParserEvent<CH264SeqHdr> evSeqHdr;
    BS::CParserEvent<CH264PictHdr> evPictHdr;
    BS::CParserEvent<CH264SliceHdr> evSliceHdr;
    BS::CParserEvent<CH264SEI> evSei;

private:
    BS::CBaseEvent* last_ = nullptr;
};

class CH264StreamType : public BS::CBaseType {
public:
    CH264StreamType() : BS::CBaseType("H264_VideoElementaryStream") {}
    DetectH264 detect;
    bool detected = false;
};

// State codes: 1 NAL unit, 2 sequence parameter set, 3 picture parameter
// set, 4 slice, 5 SEI; the payload is the event.
class CH264Stream : public BS::CBaseStream<BS::CBaseState, CH264StreamType> {
public:
    explicit CH264Stream(const DetectH264* det = nullptr) {
        if (det) {
            detect = *det;
            detected = true;
        }
    }
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t, const uint8_t*, uint32_t, BS::ParserControl*, uint32_t) override { return 1; }

protected:
    uint32_t Raise(uint32_t code, const BS::CBaseEvent& ev, BS::ParserControl* ctl);
};

class CH264Dispatcher : public BS::CBaseWrapperStream<BS::CBaseState, BS::CBaseType> {
public:
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override;
    CH264Stream* CreateH264Stream(const DetectH264* det);
    void AttachH264Stream(CH264Stream* s);
    CH264Stream* GetH264Stream() { return dynamic_cast<CH264Stream*>(wrapped); }
    virtual CH264Stream* NewH264Stream(const DetectH264* det) { return BS::New<CH264Stream>(det); }
};

// Whether `cur` begins a new picture after `prev`: the picture-boundary tests
// of ITU-T H.264 7.4.1.2.4, except that a top field followed by its bottom
// field (same order-count fields) counts as one picture, so that a field
// pair takes one frame time.
bool IsNewPicture(const h264::SliceHeader& prev, const h264::SliceHeader& cur, const h264::Sps& sps);

// Picture numbers and picture starts of one stream in decoding order. The
// numbers rise across IDR pictures: each IDR period starts above the largest
// order count of the one before.
class CH264SliceState {
public:
    CH264SliceState() { Reset(); }
    void Reset();
    void ComputePOC(const h264::SliceHeader& s, const h264::Sps& sps, bool spsValid = true);
    bool IsNewPicture() const { return newPicture; }

    int64_t pictureNumber = 0;
    int64_t pictureOrderCount = 0;  // of the current picture
    bool newPicture = true;

private:
    h264::SliceHeader prev_;
    bool prevValid_ = false;
    h264::OrderCount order_;
    int64_t base_ = 0;
    int64_t largestSinceIdr_ = 0;
};

}  // namespace MH264
