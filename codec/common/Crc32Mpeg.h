// CRC-32/MPEG-2 of the PSI sections (ISO/IEC 13818-1 Annex A): polynomial
// 0x04C11DB7, initial value all ones, most significant bit first, no final
// inversion. Run over a whole section including its CRC field it gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace MpegCommon {

uint32_t Crc32Mpeg2(const uint8_t* data, size_t length, uint32_t crc = 0xFFFFFFFFu);

}  // namespace MpegCommon
