#include "codec/common/Crc32Mpeg.h"

namespace MpegCommon {

namespace {

struct CrcTable {
    uint32_t v[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : (c << 1);
            v[i] = c;
        }
    }
};

const CrcTable kTable;

}  // namespace

uint32_t Crc32Mpeg2(const uint8_t* data, size_t length, uint32_t crc) {
    if (!data) return crc;
    for (size_t i = 0; i < length; ++i) crc = (crc << 8) ^ kTable.v[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

}  // namespace MpegCommon
