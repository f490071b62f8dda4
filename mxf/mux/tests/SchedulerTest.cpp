// The stream scheduler: which codecs are taken, and edit units of one unit
// per stream with the picture first.
#include "mxf/mux/Scheduler.h"

#include <gtest/gtest.h>

namespace {

using namespace mexora::mxf;

std::vector<uint8_t> Aes3Stream(int rateCode, size_t frames, uint32_t samplesPerFrame) {
    std::vector<uint8_t> b = {'A', 'E', 'S', '3', 12, static_cast<uint8_t>(((rateCode - 1) << 5) | (2 << 3)), 0, 0};
    b.resize(8 + frames * samplesPerFrame * 3, 0x11);
    return b;
}

TEST(Scheduler, RefusesCodecsWithoutAnMxfMapping) {
    StreamScheduler s;
    for (const char* fourcc : {"h264", "avc ", "mpg4", "aac ", "mp3 ", "xyzw"}) {
        EXPECT_EQ(s.AddStream(10000, fourcc), kRefusedCodec) << fourcc;
    }
    EXPECT_EQ(s.AddStream(10000, "aes3"), kSchedulerOk);
    const uint8_t b = 0;
    EXPECT_EQ(s.AddSample(10001, &b, 1), kUnknownStream);
}

TEST(Scheduler, DvWithSoundFormsEditUnitsAsUnitsArrive) {
    StreamScheduler s;
    StreamInfo dv;
    dv.dvFrameSize = 1000;  // small frames stand in for DIF frames
    dv.dvRate = {25, 1};
    ASSERT_EQ(s.AddStream(10000, "dv  ", dv), 0);
    ASSERT_EQ(s.AddStream(10001, "aes3"), 0);
    const std::vector<uint8_t> sound = Aes3Stream(3, 3, 1920);
    // Sound first: nothing forms without the picture.
    EXPECT_EQ(s.AddSample(10001, sound.data(), static_cast<uint32_t>(sound.size())), kSchedulerOk);
    const std::vector<uint8_t> video(2500, 0x22);
    EXPECT_EQ(s.AddSample(10000, video.data(), static_cast<uint32_t>(video.size())), kEditUnitReady);
    for (int i = 0; i < 2; i++) {
        const std::vector<EditUnitPart> eu = s.TakeEditUnit();
        ASSERT_EQ(eu.size(), 2u);
        EXPECT_TRUE(eu[0].picture);
        EXPECT_EQ(eu[0].streamId, 10000);
        EXPECT_EQ(eu[1].unit.data.size(), 1920u * 3);
    }
    EXPECT_FALSE(s.EditUnitReady());  // the third picture is not whole yet
    ASSERT_EQ(s.Flush(), 0);
    const std::vector<EditUnitPart> last = s.TakeEditUnit();
    ASSERT_EQ(last.size(), 1u);  // the sound's third unit; the half picture is not a frame
    EXPECT_EQ(last[0].streamId, 10001);
    EXPECT_TRUE(s.TakeEditUnit().empty());
    EXPECT_EQ(s.EditUnitCount(), 3);
}

TEST(Scheduler, SoundAloneIsPacedByItsOwnUnits) {
    StreamScheduler s;
    ASSERT_EQ(s.AddStream(10000, "aes3"), 0);
    const std::vector<uint8_t> sound = Aes3Stream(1, 2, 2002);
    EXPECT_EQ(s.AddSample(10000, sound.data(), static_cast<uint32_t>(sound.size())), kEditUnitReady);
    EXPECT_EQ(s.TakeEditUnit().size(), 1u);
    EXPECT_EQ(s.TakeEditUnit().size(), 1u);
    EXPECT_TRUE(s.TakeEditUnit().empty());
}

}  // namespace
