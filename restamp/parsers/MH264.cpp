#include "restamp/parsers/MH264.h"

#include "codec/common/BitReader.h"

#include <algorithm>

namespace MH264 {
namespace {

constexpr uint32_t kStartCodeBytes = 3;
// A slice header ends long before this: its window needs no end search.
constexpr uint32_t kSliceWindow = 256;
constexpr uint32_t kFrameDuration25 = 400000;
constexpr uint32_t kFrameDuration30 = 333333;
constexpr uint32_t kPalLines = 576, kPalFieldLines = 288;
constexpr uint32_t kEventAdvance = 4;

bool HasStartCode(const uint8_t* d, uint32_t len) {
    return len > kStartCodeBytes && !d[0] && !d[1] && d[2] == 1 && !(d[3] & 0x80);
}

uint8_t NalType(const uint8_t* d) {
    return d[kStartCodeBytes] & 0x1F;
}

// The NAL unit behind the start code at d, up to the next start code.
uint32_t NalLength(const uint8_t* d, uint32_t len, uint32_t window = 0xFFFFFFFFu) {
    const uint32_t n = std::min(len - kStartCodeBytes, window);
    return uint32_t(h264::NalUnitLength(d + kStartCodeBytes, n));
}

}  // namespace

void CH264ParamRecord::StorePps(const h264::Pps& p) {
    if (p.pic_parameter_set_id >= pps.size()) {
        pps.resize(p.pic_parameter_set_id + 1);
        ppsValid.resize(p.pic_parameter_set_id + 1, 0);
    }
    pps[p.pic_parameter_set_id] = p;
    ppsValid[p.pic_parameter_set_id] = 1;
    seen = true;
}

void CH264ParamRecord::Prime(const uint8_t* d, uint32_t len) {
    for (uint32_t i = 0; i + kStartCodeBytes < len; ++i) {
        if (d[i] || d[i + 1] || d[i + 2] != 1) continue;
        const uint8_t* nal = d + i + kStartCodeBytes;
        const uint32_t n = uint32_t(h264::NalUnitLength(nal, len - i - kStartCodeBytes));
        const uint8_t type = nal[0] & 0x1F;
        if (type == h264::kNalSps) {
            CH264SeqHdr h(this);
            h.ParseNal(nal, n);
        } else if (type == h264::kNalPps) {
            h264::Pps p;
            if (p.Parse(nal, n, spsValid ? &sps : nullptr)) StorePps(p);
        }
        i += kStartCodeBytes + n - 1;
    }
}

bool CH264NALUnitHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (!HasStartCode(d, len)) return false;
    nalRefIdc = (d[kStartCodeBytes] >> 5) & 3;
    nalUnitType = NalType(d);
    return valid = true;
}

bool CH264SeqHdr::Parse(const uint8_t* d, uint32_t len) {
    valid = false;
    if (!HasStartCode(d, len) || NalType(d) != h264::kNalSps) return false;
    return ParseNal(d + kStartCodeBytes, NalLength(d, len));
}

bool CH264SeqHdr::ParseNal(const uint8_t* nal, uint32_t len) {
    valid = sps.Parse(nal, len);
    if (!valid) return false;
    nalRefIdc = (nal[0] >> 5) & 3;
    if (record) {
        record->sps = sps;
        record->spsValid = true;
        record->seen = true;
    }
    return true;
}

int32_t CH264SeqHdr::GetFrameDuration() const {
    if (sps.vui_parameters_present_flag && sps.timing_info_present_flag && sps.num_units_in_tick && sps.time_scale)
        return int32_t(uint32_t(sps.FrameDuration()));
    const uint32_t lines = sps.Height();
    return lines == kPalLines || lines == kPalFieldLines ? kFrameDuration25 : kFrameDuration30;
}

bool CH264PictHdr::Parse(const uint8_t* d, uint32_t len) {
    valid = false;
    if (!HasStartCode(d, len) || NalType(d) != h264::kNalPps) return false;
    const h264::Sps* sps = record && record->spsValid ? &record->sps : nullptr;
    valid = pps.Parse(d + kStartCodeBytes, NalLength(d, len), sps);
    if (valid && record) record->StorePps(pps);
    return valid;
}

bool CH264SliceHdr::Parse(const uint8_t* d, uint32_t len) {
    valid = false;
    if (!HasStartCode(d, len)) return false;
    return ParseNal(d + kStartCodeBytes, NalLength(d, len, kSliceWindow));
}

bool CH264SliceHdr::ParseNal(const uint8_t* nal, uint32_t len) {
    valid = false;
    if (!record || !record->spsValid || len < 2) return false;
    const uint8_t type = nal[0] & 0x1F;
    if (type != h264::kNalSlice && type != h264::kNalIdr) return false;
    // The picture parameter set named by the slice.
    MpegCommon::BitReader r(true);
    r.Attach(nal + 1, len - 1);
    r.ReadUE();
    r.ReadUE();
    const uint32_t ppsId = r.ReadUE();
    const h264::Pps* pps = r.Overrun() ? nullptr : record->Pps(ppsId);
    if (!pps) return false;
    valid = slice.Parse(nal, len, record->sps, *pps);
    return valid;
}

bool CH264SEI::Parse(const uint8_t* d, uint32_t len) {
    valid = false;
    if (!HasStartCode(d, len) || NalType(d) != h264::kNalSei) return false;
    const h264::Sps* sps = record && record->spsValid ? &record->sps : nullptr;
    valid = sei.Parse(d + kStartCodeBytes, NalLength(d, len), sps);
    return valid;
}

bool CH264ParserHandlerImpl::ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
    last_ = nullptr;
    if (!HasStartCode(d, avail)) return false;
    const uint8_t type = NalType(d);
    if (type == h264::kNalSps && seqHdr.Parse(d, avail)) {
        last_ = &evSeqHdr.Set(&seqHdr, pos, d, avail, 0);
        return true;
    }
    if (type == h264::kNalPps && pictHdr.Parse(d, avail)) {
        last_ = &evPictHdr.Set(&pictHdr, pos, d, avail, 0);
        return true;
    }
    if (!record.seen) return false;
    if ((type == h264::kNalSlice || type == h264::kNalIdr) && sliceHdr.Parse(d, avail)) {
        last_ = &evSliceHdr.Set(&sliceHdr, pos, d, avail, 0);
        return true;
    }
    if (type == h264::kNalSei && sei.Parse(d, avail)) {
        last_ = &evSei.Set(&sei, pos, d, avail, 0);
        return true;
    }
    if (nalHdr.Parse(d, avail)) {
        last_ = &evNal.Set(&nalHdr, pos, d, avail, 0);
        return true;
    }
    return false;
}

uint32_t CH264Stream::Raise(uint32_t code, const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    if (ctl) ctl->skip = kEventAdvance;
    SetState(code, &ev);
    NotifyStateChange();
    return 1;
}

uint32_t CH264Stream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    SetState(0, nullptr);
    if (BS::EventAs<CH264NALUnitHdr>(ev)) return Raise(1, ev, ctl);
    if (BS::EventAs<CH264SeqHdr>(ev)) return Raise(2, ev, ctl);
    if (BS::EventAs<CH264PictHdr>(ev)) return Raise(3, ev, ctl);
    if (BS::EventAs<CH264SliceHdr>(ev)) return Raise(4, ev, ctl);
    if (BS::EventAs<CH264SEI>(ev)) return Raise(5, ev, ctl);
    return 0;
}

CH264Stream* CH264Dispatcher::CreateH264Stream(const DetectH264* det) {
    CH264Stream* s = NewH264Stream(det);
    if (!s) return nullptr;
    AttachH264Stream(s);
    return s;
}

void CH264Dispatcher::AttachH264Stream(CH264Stream* s) {
    wrapped = s;
    AddChild(s);
    NotifyStateChange();
}

uint32_t CH264Dispatcher::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    if (!wrapped) {
        if (!BS::EventAs<CH264SeqHdr>(ev)) return 1;
        if (!CreateH264Stream(nullptr)) return 1;
    }
    return wrapped->OnEvent(ev, ctl);
}

bool IsNewPicture(const h264::SliceHeader& a, const h264::SliceHeader& b, const h264::Sps& sps) {
    if (a.IsIdr() && b.IsIdr() && a.idr_pic_id != b.idr_pic_id) return true;
    if (a.pic_parameter_set_id != b.pic_parameter_set_id || a.frame_num != b.frame_num) return true;
    if (a.field_pic_flag != b.field_pic_flag) return true;
    if (a.field_pic_flag && b.field_pic_flag && a.bottom_field_flag && !b.bottom_field_flag) return true;
    // A reference and a non-reference picture, an IDR and a non-IDR picture
    // never share a picture.
    if ((a.nal_ref_idc == 0) != (b.nal_ref_idc == 0)) return true;
    if (a.IsIdr() != b.IsIdr()) return true;
    if (sps.pic_order_cnt_type == 0) {
        if (!b.field_pic_flag && a.pic_order_cnt_lsb != b.pic_order_cnt_lsb) return true;
        if (a.delta_pic_order_cnt_bottom != b.delta_pic_order_cnt_bottom) return true;
    } else if (sps.pic_order_cnt_type == 1) {
        if (a.delta_pic_order_cnt[0] != b.delta_pic_order_cnt[0] ||
            a.delta_pic_order_cnt[1] != b.delta_pic_order_cnt[1])
            return true;
    }
    return false;
}

void CH264SliceState::Reset() {
    pictureNumber = 0;
    pictureOrderCount = 0;
    newPicture = true;
    prev_ = h264::SliceHeader();
    prevValid_ = false;
    order_.Reset();
    base_ = 0;
    largestSinceIdr_ = 0;
}

void CH264SliceState::ComputePOC(const h264::SliceHeader& s, const h264::Sps& sps, bool spsValid) {
    if (s.IsIdr() && (!prevValid_ || MH264::IsNewPicture(prev_, s, sps))) {
        base_ += largestSinceIdr_ + 1;
        largestSinceIdr_ = 0;
    }
    pictureOrderCount = order_.Update(s, sps);
    largestSinceIdr_ = std::max(largestSinceIdr_, pictureOrderCount);
    newPicture = !prevValid_ || !spsValid || MH264::IsNewPicture(prev_, s, sps);
    if (newPicture) pictureNumber = base_ + pictureOrderCount;
    prev_ = s;
    prevValid_ = true;
}

}  // namespace MH264
