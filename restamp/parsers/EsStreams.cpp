#include "restamp/parsers/EsStreams.h"

#include <cstring>

namespace AAC {

namespace {
constexpr uint32_t kMinBytesFromSync = 11;
}  // namespace

const uint8_t* CAACParserImpl::FindNext() {
    if (len_ < kMinBytesFromSync) return nullptr;
    const uint32_t last = len_ - kMinBytesFromSync;
    uint32_t i = pos_;
    while (i <= last) {
        const void* p = std::memchr(data_ + i, 0xFF, last - i + 1);
        if (!p) break;
        const uint32_t j = uint32_t(static_cast<const uint8_t*>(p) - data_);
        if ((data_[j + 1] & 0xF0) == 0xF0) {
            hit_ = j;
            pos_ = j + 1;
            return data_ + j;
        }
        i = j + 1;
    }
    if (pos_ < last + 1) pos_ = last + 1;
    return nullptr;
}

}  // namespace AAC

namespace SUBP {

namespace {
constexpr uint32_t kHeaderBytes = 3;
constexpr uint8_t kFirstId = 0x20, kLastId = 0x3F;
}  // namespace

bool CSUBPHeader::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < kHeaderBytes || d[0] < kFirstId || d[0] > kLastId) return false;
    unitSize = (uint32_t(d[1]) << 8) | d[2];
    valid = 1;
    return true;
}

}  // namespace SUBP

namespace DIVX {

namespace {
constexpr uint8_t kSequenceEnd = 0xB1;
}  // namespace

bool CVolHdr::Parse(const uint8_t* d, uint32_t len) {
    valid = Starts(d, len) && vol.Parse(d, len) && vol.vop_time_increment_resolution != 0;
    return valid;
}

bool CVopHdr::Parse(const uint8_t* d, uint32_t len) {
    static const MpegCommon::mpeg4::Vol kNoVol;
    valid = Starts(d, len) && vop.Parse(d, len, vol && vol->valid ? vol->vol : kNoVol);
    return valid;
}

bool CGovHdr::Parse(const uint8_t* d, uint32_t len) {
    valid = Starts(d, len) && gov.Parse(d, len);
    return valid;
}

bool CDIVXParserHandlerImpl::ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
    namespace m4 = MpegCommon::mpeg4;
    last_ = nullptr;
    if (avail < 4) return false;
    // By the start code, so that a header keeps its values until the next of its class.
    const uint8_t c = d[3];
    if (c >= m4::kFirstVol && c <= m4::kLastVol) {
        if (vol.Parse(d, avail)) last_ = &evVol.Set(&vol, pos, d, avail, 0);
    } else if (c == m4::kVop) {
        if (vop.Parse(d, avail)) last_ = &evVop.Set(&vop, pos, d, avail, 0);
    } else if (c == m4::kVisualObjectSequence) {
        if (seqStart.Parse(d, avail)) last_ = &evSeqStart.Set(&seqStart, pos, d, avail, 0);
    } else if (c == kSequenceEnd) {
        if (seqEnd.Parse(d, avail)) last_ = &evSeqEnd.Set(&seqEnd, pos, d, avail, 0);
    } else if (c == m4::kVisualObject) {
        if (visObj.Parse(d, avail)) last_ = &evVisObj.Set(&visObj, pos, d, avail, 0);
    } else if (c == m4::kGroupOfVop) {
        if (gov.Parse(d, avail)) last_ = &evGov.Set(&gov, pos, d, avail, 0);
    } else if (c == m4::kUserData) {
        if (userData.Parse(d, avail)) last_ = &evUserData.Set(&userData, pos, d, avail, 0);
    }
    return last_ != nullptr;
}

uint32_t CDIVXStream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    SetState(0, nullptr);
    uint32_t code = 0;
    if (BS::EventAs<CVolHdr>(ev))
        code = 1;
    else if (BS::EventAs<CVopHdr>(ev))
        code = 2;
    else if (BS::EventAs<CVOSeqStartHdr>(ev))
        code = 3;
    else if (BS::EventAs<CVOSeqEndHdr>(ev))
        code = 4;
    else if (BS::EventAs<CVisObjHdr>(ev))
        code = 5;
    else if (BS::EventAs<CGovHdr>(ev))
        code = 6;
    else if (BS::EventAs<CUserDataHdr>(ev))
        code = 7;
    if (!code) return 0;
    if (ctl) ctl->skip = 4;
    SetState(code, &ev);
    NotifyStateChange();
    return 1;
}

}  // namespace DIVX
