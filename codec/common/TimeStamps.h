// Codecs of the MPEG system-layer clock fields (ISO/IEC 13818-1 2.4.3.6,
// 2.5.3.3 and 2.4.3.5): the 5-byte PTS/DTS field, the 6-byte MPEG-2 pack SCR
// and the 6-byte transport PCR. Values are the raw 33-bit bases (90 kHz) and
// 9-bit extensions; the readers ignore the marker bits, the writers set them.
#pragma once

#include <cstdint>

namespace MpegCommon {

constexpr uint64_t kTimeStampMask = (uint64_t(1) << 33) - 1;

// PTS/DTS: '4-bit prefix' ts[32..30] marker ts[29..15] marker ts[14..0] marker.
uint64_t DecodeTimeStamp(const uint8_t b[5]);
void EncodeTimeStamp(uint8_t out[5], uint8_t prefix, uint64_t value);
bool TimeStampMarkersSet(const uint8_t b[5]);

// MPEG-2 pack SCR: '01' base[32..30] m base[29..15] m base[14..0] m ext(9) m.
void DecodePackScr(const uint8_t b[6], uint64_t& base, uint32_t& extension);
void EncodePackScr(uint8_t out[6], uint64_t base, uint32_t extension);

// Transport PCR: base(33) reserved(6, all ones) extension(9).
void DecodePcr(const uint8_t b[6], uint64_t& base, uint32_t& extension);
void EncodePcr(uint8_t out[6], uint64_t base, uint32_t extension);

}  // namespace MpegCommon
