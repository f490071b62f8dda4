// 32-band polyphase analysis filterbank of Layers I and II.
#pragma once

namespace audova {

// The analysis window C[0..511]: a 512-tap linear-phase pseudo-QMF prototype
// centred on tap 256, with the block sign pattern of the standard's
// windowing and matrixing folded in.
const float* AnalysisWindow();

// Subband samples of one block: x points at the newest of 32 new input
// samples, with the 480 older samples before it (x[-511] .. x[0]).
void AnalyzeBlock(const float* x, float out[32]);

}  // namespace audova
