#include "companions/httpsource/HttpBody.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "companions/waveparser/WaveHeader.h"
#include "engine/core/AudioHeaders.h"

namespace httpsource {
namespace {

TEST(HttpBody, ReplyHead) {
    struct Case {
        const char* bytes;
        HeadState state;
        std::size_t body;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\nConnection: close\r\nContent-Type: audio/x-wav\r\n\r\nRIFF",
         HeadState::Ok, 87},
        {"HTTP/1.1 200 OK\r\nA: b\r\n", HeadState::NeedMore, 0},
        {"HTTP/1.0 404 Not Found\r\n\r\n", HeadState::Refused, 0},
        {"RIFF\r\n\r\n", HeadState::Refused, 0},
    };
    for (const Case& c : cases) {
        std::size_t body = 0;
        EXPECT_EQ(c.state, ParseReplyHead(c.bytes, body)) << c.bytes;
        if (c.state == HeadState::Ok) {
            EXPECT_EQ(c.body, body);
        }
    }
}

TEST(HttpBody, Urls) {
    std::string host;
    std::string path;
    unsigned short port = 0;
    ASSERT_TRUE(ParseUrl("http://127.0.0.1:7777", host, port, path));
    EXPECT_EQ("127.0.0.1", host);
    EXPECT_EQ(7777, port);
    EXPECT_EQ("/", path);
    EXPECT_EQ("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", BuildRequest(host, path));
    ASSERT_TRUE(ParseUrl("HTTP://h/a/b.wav", host, port, path));
    EXPECT_EQ(80, port);
    EXPECT_EQ("/a/b.wav", path);
    for (const char* bad : {"ftp://h/", "http://", "http://h:0/", "http://h:99999", "http://h:x/", "C:\\a.wav"})
        EXPECT_FALSE(ParseUrl(bad, host, port, path)) << bad;
}

TEST(HttpBody, ReadsWaitForTheirBytes) {
    BodyBuffer body(1000);
    std::uint8_t out[8] = {};
    std::size_t got = 0;
    std::thread writer([&] {
        const std::uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
        for (std::uint8_t b : bytes) body.Append(&b, 1);
    });
    EXPECT_EQ(BodyBuffer::Read::Ok, body.ReadAt(2, out, 4, got));
    writer.join();
    EXPECT_EQ(4u, got);
    EXPECT_EQ(3, out[0]);
    EXPECT_EQ(6, out[3]);

    body.End();
    EXPECT_EQ(BodyBuffer::Read::Ended, body.ReadAt(4, out, 8, got));
    EXPECT_EQ(2u, got);  // what there was
    EXPECT_EQ(BodyBuffer::Read::Ended, body.ReadAt(6, out, 1, got));
    EXPECT_EQ(0u, got);
}

TEST(HttpBody, OnlyARecentWindowIsKept) {
    BodyBuffer body(4);
    const std::uint8_t bytes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    body.Append(bytes, sizeof bytes);
    std::uint8_t out[4] = {};
    std::size_t got = 0;
    EXPECT_EQ(BodyBuffer::Read::Gone, body.ReadAt(0, out, 2, got));
    EXPECT_EQ(BodyBuffer::Read::Ok, body.ReadAt(6, out, 4, got));
    EXPECT_EQ(9, out[3]);
    EXPECT_EQ(10u, body.Received());

    std::thread flusher([&] { body.Abort(true); });
    EXPECT_EQ(BodyBuffer::Read::Aborted, body.ReadAt(20, out, 4, got));  // a flush frees a waiting reader
    flusher.join();
}

TEST(WaveHeader, StreamHeadersAndTheirChunks) {
    using waveparser::HeaderState;
    const auto stream = engine::BuildWavStreamHeader(48000);
    std::vector<std::uint8_t> bytes(stream.begin(), stream.end());
    waveparser::PcmFormat format;
    std::size_t data = 0;
    ASSERT_EQ(HeaderState::Ok, waveparser::ParseWaveHeader(bytes.data(), bytes.size(), format, data));
    EXPECT_EQ(44u, data);
    EXPECT_EQ(48000u, format.sampleRate);
    EXPECT_EQ(2, format.channels);
    EXPECT_EQ(16, format.bits);
    EXPECT_EQ(4, format.blockAlign);
    for (std::size_t cut : {0u, 11u, 20u, 40u})
        EXPECT_EQ(HeaderState::NeedMore, waveparser::ParseWaveHeader(bytes.data(), cut, format, data)) << cut;

    // A LIST chunk (odd length, padded) between "fmt " and "data".
    std::vector<std::uint8_t> listed(bytes.begin(), bytes.begin() + 36);
    const std::uint8_t list[] = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    listed.insert(listed.end(), list, list + sizeof list);
    listed.insert(listed.end(), bytes.begin() + 36, bytes.end());
    ASSERT_EQ(HeaderState::Ok, waveparser::ParseWaveHeader(listed.data(), listed.size(), format, data));
    EXPECT_EQ(56u, data);

    std::vector<std::uint8_t> floaty = bytes;
    floaty[20] = 3;  // IEEE float is not PCM
    EXPECT_EQ(HeaderState::Invalid, waveparser::ParseWaveHeader(floaty.data(), floaty.size(), format, data));
    std::vector<std::uint8_t> noFormat = {'R', 'I', 'F', 'F', 0,   0,   0, 0, 'W', 'A',
                                          'V', 'E', 'd', 'a', 't', 'a', 0, 0, 0,   0};
    EXPECT_EQ(HeaderState::Invalid, waveparser::ParseWaveHeader(noFormat.data(), noFormat.size(), format, data));
}

}  // namespace
}  // namespace httpsource
