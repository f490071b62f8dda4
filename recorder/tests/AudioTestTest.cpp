#include "recorder/core/AudioTest.h"

#include <gtest/gtest.h>

namespace recorder {
namespace {

TEST(AudioTest, PreselectsTheLastRecordableInput) {
    struct Case {
        std::vector<std::string> inputs;
        int want;
    };
    const Case cases[] = {
        {{"Microphone", "Stereo Mix", "Master Volume"}, 2},
        {{"Microphone", "Stereo Mix", "Line In"}, 1},
        {{"WAVE OUT Mix", "Microphone"}, 0},
        {{"What You Hear", "StereoMix"}, 1},
        {{"Microphone", "Line In"}, -1},
        {{}, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(PreselectInput(c.inputs), c.want) << c.inputs.size();
}

TEST(AudioTest, AnswersCountOnlyWhileATestRuns) {
    Settings plain;
    Settings driver;
    driver.audioSonifer = 1;
    Settings vista;
    vista.vistaAudio = 1;
    struct Case {
        bool detected;
        bool running;
        const Settings* settings;
        TestAnswer want;
    };
    const Case cases[] = {
        // The panel's own level handling answers with no test running.
        {true, false, &plain, TestAnswer::Ignore},      {false, false, &plain, TestAnswer::Ignore},
        {true, true, &plain, TestAnswer::RecordingOk},  {false, true, &plain, TestAnswer::NotAvailable},
        {true, true, &driver, TestAnswer::RecordingOk}, {false, true, &driver, TestAnswer::Ignore},
        {false, true, &vista, TestAnswer::Ignore},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecideTestAnswer(c.detected, c.running, *c.settings), c.want) << c.detected << c.running;
}

TEST(AudioTest, OkRefusals) {
    Settings s;
    EXPECT_EQ(AudioTestOkRefusal(s, "Stereo Mix"), "No audio source is selected. Please select an audio source");
    s.audioSonifer = 1;  // the driver records without a source
    EXPECT_EQ(AudioTestOkRefusal(s, "Stereo Mix"), "");
    s.audioSonifer = 0;
    s.audioSource = "Korvell Audio Capture";
    EXPECT_EQ(AudioTestOkRefusal(s, ""), "No input pin specified for the audio source. Please select an input pin");
    EXPECT_EQ(AudioTestOkRefusal(s, "Stereo Mix"), "");
}

TEST(AudioTest, NoticeBeforeTheDialog) {
    Settings s;
    EXPECT_EQ(AudioNotice(s).text, "No audio source is specified.\r\n\r\nClick OK to run the Audio recording Setup.");
    s.audioSource = "Korvell Audio Capture";
    EXPECT_FALSE(AudioNotice(s).closeAtOnce);
    EXPECT_NE(AudioNotice(s).text.find("Only video can be recorded."), std::string::npos);
    s.audioOutput = "Capture";
    EXPECT_TRUE(AudioNotice(s).closeAtOnce);
}

TEST(AudioTest, IntroductionNamesTonvikOnlyOffVista) {
    EXPECT_NE(IntroductionText(false, false).find("Tonvik"), std::string::npos);
    EXPECT_EQ(IntroductionText(true, false).find("Tonvik"), std::string::npos);
    EXPECT_NE(IntroductionText(true, true).find("Use Vista Audio Recording"), std::string::npos);
    for (bool w : {false, true}) {
        const std::string t = IntroductionText(w, false);
        EXPECT_EQ(t.substr(t.size() - 31), "Click the Test button to begin.");
    }
}

TEST(AudioTest, PanelVolumeIsTheLouderChannel) {
    EXPECT_EQ(LouderChannelPercent(0xFFFFFFFF), 100);
    EXPECT_EQ(LouderChannelPercent(0x80000000 | 0x1000), 50);  // right louder
    EXPECT_EQ(LouderChannelPercent(0x0000FFFF), 100);          // left louder
    EXPECT_EQ(LouderChannelPercent(0), 0);
}

}  // namespace
}  // namespace recorder
