// Rules of the multiplexer's structure that the core applies to its settings
// and the filter to its parameters ("Output", "Compatibility").
#pragma once

#include "codec/multiplexer/MuxSettings.h"

#include <cstdint>

namespace muxcore {

constexpr int32_t kDvdPesPacketSize = 2028;
constexpr int32_t kSvcdPesPacketSize = 2304;

// The "Output" values a host may choose (fixed PIDs come only from the parameter itself).
inline bool OutputSettable(int32_t output) {
    return output == kProgramStream || output == kTransportStream;
}

// LPCM travels only in a program stream.
inline bool TransportCarries(int32_t streamType) {
    return streamType != kPinPcm;
}

// DVD and SVCD are program-stream formats.
inline bool CompatibilityFits(int32_t compat, int32_t output) {
    return compat >= kCompatNone && compat <= kCompatSvcd && (compat == kCompatNone || output == kProgramStream);
}

// What a compatibility mode sets on every input that has a stream type.
inline int32_t PesPacketSizeFor(int32_t compat) {
    return compat == kCompatDvd ? kDvdPesPacketSize : compat == kCompatSvcd ? kSvcdPesPacketSize : 0;
}
inline int32_t PaddingInSmallPacketsFor(int32_t compat) {
    return compat != kCompatNone ? 1 : 0;
}

}  // namespace muxcore
