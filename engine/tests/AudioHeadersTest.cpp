#include "engine/core/AudioHeaders.h"

#include <gtest/gtest.h>

#include <vector>

namespace engine {
namespace {

TEST(EngineAudioHeaders, ReplyHeaderBytes) {
    const std::string reply(kReplyHeader, kReplyHeaderSize);
    EXPECT_EQ(87u, reply.size());
    EXPECT_EQ("HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\nConnection: close\r\nContent-Type: audio/x-wav\r\n\r\n",
              reply);
}

TEST(EngineAudioHeaders, WavStreamHeaderAt44And48Kilohertz) {
    const std::vector<std::uint8_t> at44 = {'R', 'I', 'F',  'F',  0xFF, 0xFF, 0xFF, 0xEF, 'W',  'A',  'V',
                                            'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,    0,
                                            2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 2,    0,    4,
                                            0,   16,  0,    'd',  'a',  't',  'a',  0xDB, 0xFF, 0xFF, 0xEF};
    const auto h44 = BuildWavStreamHeader(44100);
    EXPECT_EQ(at44, std::vector<std::uint8_t>(h44.begin(), h44.end()));

    std::vector<std::uint8_t> at48 = at44;
    at48[24] = 0x80;  // 48000
    at48[25] = 0xBB;
    at48[28] = 0x00;  // 192000
    at48[29] = 0xEE;
    at48[30] = 0x02;
    const auto h48 = BuildWavStreamHeader(48000);
    EXPECT_EQ(at48, std::vector<std::uint8_t>(h48.begin(), h48.end()));
}

}  // namespace
}  // namespace engine
