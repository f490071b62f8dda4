// Constant tables of MPEG-1 (ISO/IEC 11172-3) and MPEG-2 LSF (ISO/IEC
// 13818-3) Layer I and Layer II audio.
#pragma once

#include <cstdint>

namespace audova {

// Sampling-frequency code of the header, or -1. *lsf tells the rate class.
int SampleRateCode(int rate, bool* lsf);
// kbit/s of a bit-rate index (1..14), 0 for others.
int BitrateKbps(bool lsf, int layer, int index);
// Whether the index is legal for the rate class, layer and channel count.
bool BitrateIndexLegal(bool lsf, int layer, int channels, int index);

// Layer II quantization classes.
struct QuantClass {
    int levels;
    int bits;  // bits of one codeword (a group of three when grouped)
    bool grouped;
};
extern const QuantClass kQuantClasses[17];

// A Layer II allocation table: per subband the allocation-field width and
// the quantization class of every non-zero allocation.
struct AllocTable {
    int sblimit;
    uint8_t nbal[32];
    int8_t cls[32][16];  // cls[sb][a] for a >= 1; -1 unused
};
const AllocTable& Layer2Table(bool lsf, int rate, int kbpsPerChannel);

// Scale factors 2^(1 - i/3), i = 0..62.
const float* ScaleFactors();

}  // namespace audova
