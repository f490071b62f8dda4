// The bytes the local audio server sends first: the reply header of the
// HTTP exchange and the header of the endless WAV stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace engine {

// No length: the body runs until the connection ends.
constexpr char kReplyHeader[] =
    "HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\nConnection: close\r\nContent-Type: audio/x-wav\r\n\r\n";
constexpr std::size_t kReplyHeaderSize = sizeof kReplyHeader - 1;

constexpr std::size_t kWavHeaderSize = 44;
constexpr std::uint32_t kBytesPerFrame = 4;  // 16-bit stereo PCM

// RIFF/WAVE header of a stream of unknown length: the sizes are the
// largest the readers take as "open-ended".
std::array<std::uint8_t, kWavHeaderSize> BuildWavStreamHeader(std::uint32_t sampleRate);

}  // namespace engine
