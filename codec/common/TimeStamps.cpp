#include "codec/common/TimeStamps.h"

namespace MpegCommon {

uint64_t DecodeTimeStamp(const uint8_t b[5]) {
    return (uint64_t(b[0] >> 1) & 7) << 30 | uint64_t(b[1]) << 22 | uint64_t(b[2] >> 1) << 15 | uint64_t(b[3]) << 7 |
           uint64_t(b[4] >> 1);
}

void EncodeTimeStamp(uint8_t out[5], uint8_t prefix, uint64_t value) {
    value &= kTimeStampMask;
    out[0] = static_cast<uint8_t>((prefix & 0x0F) << 4 | ((value >> 30) & 7) << 1 | 1);
    out[1] = static_cast<uint8_t>(value >> 22);
    out[2] = static_cast<uint8_t>(((value >> 15) & 0x7F) << 1 | 1);
    out[3] = static_cast<uint8_t>(value >> 7);
    out[4] = static_cast<uint8_t>((value & 0x7F) << 1 | 1);
}

bool TimeStampMarkersSet(const uint8_t b[5]) {
    return (b[0] & 1) && (b[2] & 1) && (b[4] & 1);
}

void DecodePackScr(const uint8_t b[6], uint64_t& base, uint32_t& extension) {
    base = (uint64_t(b[0] >> 3) & 7) << 30 | (uint64_t(b[0]) & 3) << 28 | uint64_t(b[1]) << 20 |
           (uint64_t(b[2] >> 3) & 0x1F) << 15 | (uint64_t(b[2]) & 3) << 13 | uint64_t(b[3]) << 5 | uint64_t(b[4] >> 3);
    extension = (uint32_t(b[4]) & 3) << 7 | uint32_t(b[5] >> 1);
}

void EncodePackScr(uint8_t out[6], uint64_t base, uint32_t extension) {
    base &= kTimeStampMask;
    extension &= 0x1FF;
    out[0] = static_cast<uint8_t>(0x40 | ((base >> 30) & 7) << 3 | 0x04 | ((base >> 28) & 3));
    out[1] = static_cast<uint8_t>(base >> 20);
    out[2] = static_cast<uint8_t>(((base >> 15) & 0x1F) << 3 | 0x04 | ((base >> 13) & 3));
    out[3] = static_cast<uint8_t>(base >> 5);
    out[4] = static_cast<uint8_t>((base & 0x1F) << 3 | 0x04 | ((extension >> 7) & 3));
    out[5] = static_cast<uint8_t>((extension & 0x7F) << 1 | 1);
}

void DecodePcr(const uint8_t b[6], uint64_t& base, uint32_t& extension) {
    base =
        uint64_t(b[0]) << 25 | uint64_t(b[1]) << 17 | uint64_t(b[2]) << 9 | uint64_t(b[3]) << 1 | uint64_t(b[4] >> 7);
    extension = (uint32_t(b[4]) & 1) << 8 | b[5];
}

void EncodePcr(uint8_t out[6], uint64_t base, uint32_t extension) {
    base &= kTimeStampMask;
    extension &= 0x1FF;
    out[0] = static_cast<uint8_t>(base >> 25);
    out[1] = static_cast<uint8_t>(base >> 17);
    out[2] = static_cast<uint8_t>(base >> 9);
    out[3] = static_cast<uint8_t>(base >> 1);
    out[4] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | (extension >> 8));
    out[5] = static_cast<uint8_t>(extension);
}

}  // namespace MpegCommon
