// The stand-in runtime reads back exactly what the recorder's profile
// generator writes, and refuses what is not a usable profile.
#include "companions/asfwriter/ProfileLayout.h"

#include <gtest/gtest.h>

#include <string>

#include "recorder/core/WmvProfile.h"

namespace {

using asfstandin::ParseProfileXml;
using asfstandin::ProfileLayout;

recorder::WmvVideo Video640() {
    recorder::WmvVideo v;
    v.width = 640;
    v.height = 480;
    v.kbps = 1000;
    v.fps = 15;
    return v;
}

TEST(ProfileLayout, ReadsTheThreeGeneratedVariants) {
    const auto video = ParseProfileXml(*recorder::VideoProfileXml(Video640()));
    ASSERT_TRUE(video);
    ASSERT_EQ(1u, video->streams.size());
    EXPECT_FALSE(video->streams[0].audio);
    EXPECT_EQ(1, video->streams[0].number);
    EXPECT_EQ(640, video->streams[0].width);
    EXPECT_EQ(480, video->streams[0].height);
    EXPECT_EQ(666666, video->streams[0].avgTimePerFrame);
    EXPECT_EQ(1000000, video->streams[0].bitrate);
    EXPECT_EQ("WMV3", video->streams[0].fourcc);
    EXPECT_EQ("Video409", video->streams[0].inputName);

    const auto audio = ParseProfileXml(*recorder::AudioProfileXml(128));
    ASSERT_TRUE(audio);
    ASSERT_EQ(1u, audio->streams.size());
    EXPECT_TRUE(audio->streams[0].audio);
    EXPECT_EQ(44100, audio->streams[0].samplesPerSec);
    EXPECT_EQ(2, audio->streams[0].channels);
    EXPECT_EQ(128016, audio->streams[0].bitrate);
    EXPECT_EQ("Streams: 1 audio", audio->description);

    const auto both = ParseProfileXml(*recorder::AvProfileXml(Video640(), 64));
    ASSERT_TRUE(both);
    ASSERT_EQ(2u, both->streams.size());
    EXPECT_TRUE(both->streams[0].audio);
    EXPECT_EQ(1, both->streams[0].number);
    EXPECT_FALSE(both->streams[1].audio);
    EXPECT_EQ(2, both->streams[1].number);
}

TEST(ProfileLayout, RefusesMalformedAndOutOfRangeProfiles) {
    const std::string good = *recorder::AvProfileXml(Video640(), 64);
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const std::size_t at = text.find(from);
        EXPECT_NE(std::string::npos, at) << from;
        return at == std::string::npos ? good : text.replace(at, from.size(), to);
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"truncated", good.substr(0, good.size() / 2)},
        {"empty", ""},
        {"not a profile", "<notaprofile version=\"589824\"/>"},
        {"no streams", "<profile version=\"589824\"></profile>"},
        {"unclosed element", replaced("</wmmediatype>", "")},
        {"text after the root", good + "<profile/>"},
        {"unquoted attribute", replaced("quality=\"80\"", "quality=80")},
        {"unknown entity", replaced("Parv Profile", "Parv &nbsp; Profile")},
        {"zero width", replaced("biwidth=\"640\"", "biwidth=\"0\"")},
        {"huge height", replaced("biheight=\"480\"", "biheight=\"99999\"")},
        {"no frame time", replaced("avgtimeperframe=\"666666\"", "avgtimeperframe=\"0\"")},
        {"number with junk", replaced("bitrate=\"1000000\"", "bitrate=\"1000000x\"")},
        {"channels 0", replaced("nChannels=\"2\"", "nChannels=\"0\"")},
        {"sample rate out of range", replaced("nSamplesPerSec=\"44100\"", "nSamplesPerSec=\"5\"")},
        {"same stream number twice", replaced("streamnumber=\"2\"", "streamnumber=\"1\"")},
        {"stream number 64", replaced("streamnumber=\"2\"", "streamnumber=\"64\"")},
        {"unknown major type", replaced("{73646976-", "{12345678-")},
        {"four-character code of 3", replaced("bicompression=\"WMV3\"", "bicompression=\"WMV\"")},
    };
    for (const auto& c : cases) EXPECT_FALSE(ParseProfileXml(c.text)) << c.what;
    // What a reader must take: a declaration, a comment, single quotes.
    EXPECT_TRUE(ParseProfileXml("<?xml version=\"1.0\"?><!-- x -->" + replaced("quality=\"80\"", "quality='80'")));
}

}  // namespace
