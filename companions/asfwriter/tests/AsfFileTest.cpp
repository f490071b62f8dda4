// A small ASF file of 24-bit RGB pictures and 16-bit PCM, read back by
// ffprobe and decoded by ffmpeg (not by this writer's own code), and the
// PCM conversion the writer's audio input uses.
#include "companions/asfwriter/AsfFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace asfstandin;

class FileSink : public ByteSink {
public:
    explicit FileSink(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {}
    bool Append(const std::uint8_t* data, std::size_t size) override {
        out_.seekp(0, std::ios::end);
        out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return static_cast<bool>(out_);
    }
    bool Rewrite(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        out_.seekp(static_cast<std::streamoff>(offset));
        out_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        out_.flush();
        return static_cast<bool>(out_);
    }

private:
    std::ofstream out_;
};

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "popen failed";
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ::pclose(pipe);
    return out;
}

// 2 s of 64x48 pictures at 10 per second and a 1 kHz tone in 100 ms runs.
void WriteSample(const std::string& path, bool finish) {
    FileSink sink(path);
    AsfStream audio;
    audio.audio = true;
    audio.number = 1;
    audio.bitrate = 64040;
    audio.channels = 2;
    audio.samplesPerSec = 44100;
    AsfStream video;
    video.number = 2;
    video.bitrate = 1000000;
    video.width = 64;
    video.height = 48;
    video.timePerFrame = 1000000;
    AsfFileWriter writer(sink, {audio, video}, AsfFileWriter::FileId{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}});
    ASSERT_TRUE(writer.Begin());
    std::vector<std::uint8_t> picture(64 * 48 * 3);
    std::vector<std::int16_t> tone(4410 * 2);
    for (int t = 0; t < 20; ++t) {
        for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 7 + t * 13);
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 1000 * ((t * 4410) + i / 2) / 44100.0));
        ASSERT_TRUE(
            writer.WriteObject(1, t * 100, 100, reinterpret_cast<const std::uint8_t*>(tone.data()), tone.size() * 2));
        ASSERT_TRUE(writer.WriteObject(2, t * 100, 100, picture.data(), picture.size()));
    }
    EXPECT_FALSE(writer.WriteObject(3, 0, 0, picture.data(), picture.size())) << "no stream 3";
    if (finish) {
        EXPECT_TRUE(writer.Finish());
    }
}

TEST(AsfFile, FfprobeReadsTheStreamsAndFfmpegDecodesThemWithoutErrors) {
    const std::string path = std::string(ASF_TEST_OUTPUT) + "/sample.asf";
    WriteSample(path, true);
    const std::string probe = Shell(
        "ffprobe -v error -show_entries format=format_name,duration:stream=codec_type,codec_name,width,height,"
        "sample_rate,channels,r_frame_rate -of compact '" +
        path + "' 2>&1");
    EXPECT_NE(std::string::npos, probe.find("format_name=asf")) << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_name=pcm_s16le|codec_type=audio|sample_rate=44100|channels=2"))
        << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_type=video|width=64|height=48")) << probe;
    EXPECT_NE(std::string::npos, probe.find("r_frame_rate=10/1")) << probe;
    EXPECT_NE(std::string::npos, probe.find("duration=2.0")) << probe;
    EXPECT_EQ("", Shell("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"));
}

TEST(AsfFile, AnUnfinishedFileIsStillReadable) {
    const std::string path = std::string(ASF_TEST_OUTPUT) + "/unfinished.asf";
    WriteSample(path, false);
    const std::string probe = Shell("ffprobe -v error -show_entries stream=codec_type -of compact '" + path + "' 2>&1");
    EXPECT_EQ("stream|codec_type=audio\nstream|codec_type=video\n", probe);
    EXPECT_EQ("", Shell("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1"));
}

TEST(PcmConverter, ResamplesAndMapsChannelsAcrossBlocks) {
    // 48 kHz stereo to 44.1 kHz stereo: 4800 frames in blocks of 960 give
    // 4410 frames, and a ramp stays a ramp across the block joins.
    PcmConverter to44(48000, 2, 44100, 2);
    std::vector<std::int16_t> all;
    for (int block = 0; block < 5; ++block) {
        std::vector<std::int16_t> in(960 * 2);
        for (int i = 0; i < 960; ++i) in[2 * i] = in[2 * i + 1] = static_cast<std::int16_t>((block * 960 + i) / 4);
        std::vector<std::int16_t> out;
        to44.Convert(in.data(), 960, out);
        all.insert(all.end(), out.begin(), out.end());
    }
    EXPECT_NEAR(4410, static_cast<int>(all.size() / 2), 1);
    for (std::size_t i = 2; i + 1 < all.size(); i += 2) ASSERT_LE(std::abs(all[i] - all[i - 2]), 1) << i;

    PcmConverter toStereo(44100, 1, 44100, 2);
    const std::int16_t mono[] = {100, -200, 300};
    std::vector<std::int16_t> out;
    toStereo.Convert(mono, 3, out);
    EXPECT_EQ((std::vector<std::int16_t>{100, 100, -200, -200, 300, 300}), out);
    PcmConverter toMono(44100, 2, 44100, 1);
    const std::int16_t stereo[] = {100, 300, -100, -300};
    toMono.Convert(stereo, 2, out);
    EXPECT_EQ((std::vector<std::int16_t>{200, -200}), out);
}

}  // namespace
