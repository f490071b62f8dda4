#include "recorder/core/WmvProfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace recorder {
namespace {

TEST(WmvProfile, RefusesValuesAProfileCannotCarry) {
    const WmvVideo good{640, 480, 1000, 15, 0};
    EXPECT_TRUE(VideoProfileXml(good));
    for (WmvVideo bad :
         {WmvVideo{640, 480, 31, 15, 0}, WmvVideo{640, 480, 6001, 15, 0}, WmvVideo{640, 480, 1000, 4, 0},
          WmvVideo{640, 480, 1000, 31, 0}, WmvVideo{0, 480, 1000, 15, 0}, WmvVideo{640, 480, 1000, 15, 4}}) {
        EXPECT_FALSE(VideoProfileXml(bad)) << bad.kbps << " " << bad.fps << " " << bad.codec;
        EXPECT_FALSE(AvProfileXml(bad, 128));
    }
    EXPECT_FALSE(AudioProfileXml(100));
    EXPECT_FALSE(AvProfileXml(good, 100));
}

TEST(WmvProfile, FileImageIsAlways20000Bytes) {
    const auto image = ProfileFileImage(*AudioProfileXml(128));
    ASSERT_TRUE(image);
    EXPECT_EQ(kWmvProfileFileBytes, image->size());
    EXPECT_EQ('<', (*image)[0]);
    EXPECT_EQ(0, (*image)[1]);
    EXPECT_EQ(0, image->back());
    // A text that would not fit with its terminating zero gives no image.
    EXPECT_TRUE(ProfileFileImage(std::string(9999, 'x')));
    EXPECT_FALSE(ProfileFileImage(std::string(10000, 'x')));
}

// The layouts, read back by an independent XML parser against the element
// and attribute table the test script holds.
TEST(WmvProfile, ParsesAsTheProfileTable) {
    const std::string dir = std::string(RECORDER_TEST_OUTPUT) + "/wmv-profiles";
    ASSERT_EQ(0, std::system(("mkdir -p '" + dir + "'").c_str()));
    auto write = [&dir](const std::string& name, const std::optional<std::string>& xml) {
        ASSERT_TRUE(xml) << name;
        const auto image = ProfileFileImage(*xml);
        ASSERT_TRUE(image) << name;
        std::ofstream out(dir + "/" + name + ".prx", std::ios::binary);
        out.write(reinterpret_cast<const char*>(image->data()), static_cast<std::streamsize>(image->size()));
        ASSERT_TRUE(out.good()) << name;
    };
    for (int codec = 0; codec < 4; ++codec)
        write("video-" + std::to_string(codec), VideoProfileXml({640, 480, 1000, 15, codec}));
    for (int kbps : {32, 64, 96, 128, 192, 256}) {
        write("audio-" + std::to_string(kbps), AudioProfileXml(kbps));
        write("av-" + std::to_string(kbps), AvProfileXml({1024, 768, 2500, 30, 0}, kbps));
    }
    const std::string command = "python3 '" RECORDER_TEST_DATA "/../check_wmv_profiles.py' '" + dir + "'";
    EXPECT_EQ(0, std::system(command.c_str()));
}

}  // namespace
}  // namespace recorder
