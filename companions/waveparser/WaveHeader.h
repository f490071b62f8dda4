// The RIFF/WAVE header of a PCM stream: its format and where its samples
// begin. Sizes are not trusted: a stream of unknown length carries
// placeholders there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace waveparser {

struct PcmFormat {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
};

enum class HeaderState { NeedMore, Ok, Invalid };

// Reads "RIFF" "WAVE", then chunks until "data"; "fmt " must come before.
// On Ok `dataOffset` is the first sample byte.
HeaderState ParseWaveHeader(const std::uint8_t* bytes, std::size_t size, PcmFormat& format, std::size_t& dataOffset);

}  // namespace waveparser
