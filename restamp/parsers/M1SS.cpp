#include "restamp/parsers/M1SS.h"

#include "codec/common/TimeStamps.h"

namespace {

constexpr uint32_t kPackSize = 12;
constexpr uint32_t kPacketPrefix = 6;
constexpr uint8_t kStuffingByte = 0xFF;
constexpr uint8_t kNoTimeStamps = 0x0F;
constexpr uint8_t kPrivateStream2 = 0xBF;

bool IsPackHeader(const uint8_t* d) {
    return !d[0] && !d[1] && d[2] == 1 && d[3] == 0xBA && (d[4] & 0xF0) == 0x20 && (d[4] & 1) && (d[6] & 1) &&
           (d[8] & 1);
}

}  // namespace

namespace M1SS {

bool CPackHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < kPackSize || !IsPackHeader(d)) return false;
    scr = (uint64_t((d[4] >> 1) & 7) << 30) | (uint64_t(d[5]) << 22) | (uint64_t(d[6] >> 1) << 15) |
          (uint64_t(d[7]) << 7) | (d[8] >> 1);
    programMuxRate = (uint32_t(d[9] & 0x7F) << 15) | (uint32_t(d[10]) << 7) | (d[11] >> 1);
    muxRateBytes = programMuxRate * 50;
    return valid = true;
}

bool CPacketHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < kPacketPrefix || d[0] || d[1] || d[2] != 1 || d[3] < 0xBC || d[3] == 0xFF) return false;
    streamId = d[3];
    packetLength = (uint32_t(d[4]) << 8) | d[5];
    payloadOffset = kPacketPrefix;
    if (streamId == kPrivateStream2) return valid = true;
    // The header's bytes: those in hand, and never past the packet.
    const uint32_t end = packetLength && packetLength + kPacketPrefix < len ? packetLength + kPacketPrefix : len;
    uint32_t at = kPacketPrefix;
    for (uint32_t n = 0; at < end && d[at] == kStuffingByte && n < kMaxStuffing; ++n) ++at;
    if (at < end && (d[at] & 0xC0) == 0x40) at += 2;  // STD buffer scale and size
    if (at >= end) return false;
    const uint8_t c = d[at];
    if (c == kNoTimeStamps) {
        payloadOffset = uint16_t(at + 1);
        return valid = true;
    }
    const uint32_t kind = c >> 4;
    if (kind == 2 || kind == 3) {
        const uint32_t size = kind == 2 ? 5 : 10;
        if (at + size > end) return false;
        pts = MpegCommon::DecodeTimeStamp(d + at);
        ptsValid = MpegCommon::TimeStampMarkersSet(d + at);
        ptsDtsFlags = kind == 2 ? 2 : 3;
        if (kind == 3) {
            dts = MpegCommon::DecodeTimeStamp(d + at + 5);
            dtsValid = MpegCommon::TimeStampMarkersSet(d + at + 5);
        }
        payloadOffset = uint16_t(at + size);
    }
    if (!ptsValid && packetLength) return false;
    if (kind == 3 && !dtsValid) return false;
    return valid = true;
}

bool CSSParserHandlerImpl::ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
    last_ = nullptr;
    if (avail < 4) return false;
    const uint8_t c = d[3];
    if (c == 0xBA) {
        if (!pack.Parse(d, avail)) return false;
        last_ = &evPack.Set(&pack, pos, d, 0, 0);
    } else if (c >= 0xBC) {
        if (!packet.Parse(d, avail)) return false;
        last_ = &evPacket.Set(&packet, pos, d, avail, 0);
    } else if (c == 0xBB) {
        if (!sys.Parse(d, avail)) return false;
        last_ = &evSys.Set(&sys, pos, d, 0, 0);
    }
    return last_ != nullptr;
}

}  // namespace M1SS

int DetectSystemStream(const uint8_t* d, uint32_t len) {
    for (uint32_t i = 0; i + 12 <= len; ++i) {
        const void* p = std::memchr(d + i, 0xBA, len - i);
        if (!p) return 0;
        uint32_t j = uint32_t(static_cast<const uint8_t*>(p) - d);
        if (j >= 3 && j + 9 <= len && IsPackHeader(d + j - 3)) return 1;
        i = j;  // the loop steps past it
    }
    return 0;
}
