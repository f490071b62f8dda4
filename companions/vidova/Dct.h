// 8x8 forward and inverse DCT (orthonormal, as the standard defines the IDCT).
#pragma once
#include <cstdint>

namespace vidova {

// in: 64 samples (pixels or residuals); out: 64 coefficients (16-byte aligned).
void forwardDct(const int16_t* in, float* out);
// The DC coefficient forwardDct gives for 64 samples of one value; all its
// other coefficients are zero. Bit for bit what forwardDct computes.
float flatBlockDc(int value);
// in: 64 dequantised coefficients; out: 64 samples rounded and saturated to -256..255.
void inverseDct(const int32_t* in, int16_t* out);

}  // namespace vidova
