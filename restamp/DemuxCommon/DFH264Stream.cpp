#include "restamp/DemuxCommon/DFH264Stream.h"

#include "restamp/DemuxCommon/MadeUpTimeRun.h"

#include <algorithm>
#include <cstring>

namespace {

namespace h264 = MpegCommon::h264;

constexpr uint32_t kSliceWindow = 256;

}  // namespace

CDFH264Stream::CDFH264Stream(const MH264::DetectH264* det, AMainParserOwner* owner)
    : MH264::CH264Stream(det), owner_(owner) {
    if (det && !det->paramCopy.empty()) {
        record_.Prime(det->paramCopy.data(), uint32_t(det->paramCopy.size()));
        if (record_.spsValid) {
            seqHdr_.sps = record_.sps;
            seqHdr_.valid = true;
            frameDuration_ = seqHdr_.GetFrameDuration();
        }
    }
}

uint32_t CDFH264Stream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    SetState(0, nullptr);
    if (const auto* e = BS::EventAs<MH264::CH264SeqHdr>(ev)) return OnSequenceParameterSet(*e, ctl);
    if (const auto* e = BS::EventAs<MH264::CH264SliceHdr>(ev)) return OnSlice(*e, ctl);
    // The slices that follow are read with the picture parameter sets met.
    if (const auto* e = BS::EventAs<MH264::CH264PictHdr>(ev)) record_.StorePps(e->header->pps);
    return OnData(ev.position, ev.data, ev.length, ctl, 0);
}

uint32_t CDFH264Stream::OnSequenceParameterSet(const BS::CParserEvent<MH264::CH264SeqHdr>& ev, BS::ParserControl* ctl) {
    seqHdr_.sps = ev.header->sps;
    seqHdr_.valid = ev.header->valid;
    record_.sps = ev.header->sps;
    record_.spsValid = ev.header->valid;
    record_.seen = true;
    frameDuration_ = seqHdr_.GetFrameDuration();
    return OnData(ev.position, ev.data, ev.length, ctl, 0);
}

uint32_t CDFH264Stream::OnSlice(const BS::CParserEvent<MH264::CH264SliceHdr>& ev, BS::ParserControl* ctl) {
    const h264::SliceHeader& s = ev.header->slice;
    sliceState_.ComputePOC(s, seqHdr_.sps, seqHdr_.valid);
    if (sliceState_.IsNewPicture()) {
        if (s.Kind() == 1) bSlicesSeen_ = true;
        delay_ += frameDuration_;
        pending_ = base_ + delay_;
        timeReady_ = false;
        // Pictures after which no earlier-shown B picture can come take their time now.
        if (s.IsIntra() || !bSlicesSeen_) {
            timeReady_ = true;
            base_ += delay_;
            delay_ = 0;
            pending_ = base_;
        }
    }
    return OnData(ev.position, ev.data, ev.length, ctl, 0);
}

uint32_t CDFH264Stream::OnData(uint64_t, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t) {
    uint32_t next = len;
    for (uint32_t i = 2; i + 4 <= len;) {
        const void* p = std::memchr(d + i + 2, 1, len - i - 3);
        if (!p) break;
        const uint32_t j = uint32_t(static_cast<const uint8_t*>(p) - d);  // the 01
        if (!d[j - 1] && !d[j - 2]) {
            const uint8_t* nal = d + j + 1;
            const uint32_t n = uint32_t(h264::NalUnitLength(nal, std::min(len - j - 1, kSliceWindow)));
            if (scanSlice_.ParseNal(nal, n)) {
                next = j - 2;
                break;
            }
        }
        i = j - 1;
    }
    if (ReportMadeUpTimeRun(owner_, key_, pending_, d, len, next, ctl, this)) {
        timeReady_ = false;
        pending_ = kNoTime;
    }
    return 1;
}

void CDFH264Stream::Reset() {
    timeReady_ = true;
    base_ = pending_ = delay_ = 0;
    bSlicesSeen_ = false;
    sliceState_.Reset();
    MH264::CH264Stream::Reset();
}

MH264::CH264Stream* CDFH264Dispatcher::NewH264Stream(const MH264::DetectH264* det) {
    if (!owner) return nullptr;
    return BS::New<CDFH264Stream>(det, owner);
}
