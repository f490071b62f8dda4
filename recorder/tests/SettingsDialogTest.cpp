#include "recorder/core/SettingsDialog.h"

#include <gtest/gtest.h>

namespace recorder {
namespace {

Settings Stored() {
    Settings s;
    s.recordingFolder = "C:\\r";
    s.protocol = 0;
    s.videoBitrate = 3000;
    s.audioBitrate = 256;
    s.frameRate = 25;
    s.audioSource = "Mic";
    s.audioOutput = "Capture";
    s.maxFileTime = 60;
    return s;
}

DialogFields Fields() {
    DialogFields f;
    f.format = "MPEG-2";
    f.recordAudio = f.recordVideo = true;
    f.videoBitrate = 4000;
    f.audioBitrate = 256;
    f.frameRate = 30;
    f.maxFileSize = 100;
    f.maxFileTime = "12:00:00";
    f.onTop = true;
    f.delay = -40;
    return f;
}

const auto kYes = [](const std::string&) { return true; };

TEST(SettingsDialog, StopTimeText) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},       {"12:00:00", 43200}, {"25:00:00", 90000}, {"00:01:05", 65}, {"1:00:00", -1},
        {"12:00", -1}, {"12 00:00", -1},    {"1:2:3:45", -1},    {"ab:cd:ef", -1}, {"123456::", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(c.second, ParseStopTime(c.first)) << c.first;
    EXPECT_EQ("12:00:00", StopTimeText(43200));
    EXPECT_EQ("", StopTimeText(0));
}

TEST(SettingsDialog, OkAppliesEverything) {
    Settings s = Stored();
    const OkResult r = ApplyDialogOk(Fields(), s, kYes);
    ASSERT_TRUE(r.accepted) << r.refusal;
    EXPECT_EQ(4000, s.videoBitrate);
    EXPECT_EQ(30, s.frameRate);
    EXPECT_EQ(43200, s.maxFileTime);
    EXPECT_EQ(100, s.maxFileSize);
    EXPECT_EQ(1, s.onTop);
    EXPECT_EQ(-40, s.delay);
    EXPECT_EQ(0, s.audioOnly);
    EXPECT_EQ(0, s.videoOnly);
}

TEST(SettingsDialog, RefusedOkChangesNothing) {
    struct Case {
        const char* name;
        void (*change)(DialogFields&, Settings&);
        const char* refusal;
    };
    const Case cases[] = {
        {"format", [](DialogFields& f, Settings&) { f.format = "AVI"; }, "Unknown video format"},
        {"tonvik hide", [](DialogFields& f, Settings&) { f.tonvik = f.hide = true; },
         "Tonvik cannot be enabled in hide mode"},
        {"video bitrate", [](DialogFields& f, Settings&) { f.videoBitrate = 0; }, "Video Bitrate not specified"},
        {"audio source", [](DialogFields&, Settings& s) { s.audioOutput.clear(); },
         "Audio source or audio input are not specified. Please run the Audio Setup/Test."},
        {"audio bitrate", [](DialogFields& f, Settings&) { f.audioBitrate = 0; }, "Audio Bitrate not specified"},
        {"rate 4", [](DialogFields& f, Settings&) { f.frameRate = 4; }, "Frame rate must be between 5 and 30"},
        {"rate 31", [](DialogFields& f, Settings&) { f.frameRate = 31; }, "Frame rate must be between 5 and 30"},
        {"time 7 chars", [](DialogFields& f, Settings&) { f.maxFileTime = "1:00:00"; },
         "Unknown stop time format! (hh:mm:ss)"},
        {"time 12:00", [](DialogFields& f, Settings&) { f.maxFileTime = "12:00"; },
         "Unknown stop time format! (hh:mm:ss)"},
    };
    for (const Case& c : cases) {
        Settings s = Stored();
        DialogFields f = Fields();
        c.change(f, s);
        const Settings before = s;
        const OkResult r = ApplyDialogOk(f, s, kYes);
        EXPECT_FALSE(r.accepted) << c.name;
        EXPECT_EQ(c.refusal, r.refusal) << c.name;
        // Not even the fields checked before the refusal are taken.
        EXPECT_EQ(FormatSettingsFile(before), FormatSettingsFile(s)) << c.name;
    }
}

TEST(SettingsDialog, QuestionsAndRecordedMedia) {
    std::vector<std::string> asked;
    auto no = [&](const std::string& q) {
        asked.push_back(q);
        return false;
    };
    {
        Settings s = Stored();
        DialogFields f = Fields();
        f.maxFileTime = "25:00:00";
        EXPECT_FALSE(ApplyDialogOk(f, s, no).accepted);
        EXPECT_EQ(60, s.maxFileTime);
        f.maxFileTime = "";
        f.maxFileSize = 0;
        EXPECT_FALSE(ApplyDialogOk(f, s, no).accepted);
        EXPECT_EQ(
            (std::vector<std::string>{"Recording time is greater than 24 hours or incorrect time format.\n\nContinue?",
                                      "Continue with unlimited recording size or time ?"}),
            asked);
        EXPECT_TRUE(ApplyDialogOk(f, s, kYes).accepted);
        EXPECT_EQ(0, s.maxFileTime);
    }
    {
        // Neither box checked records both.
        Settings s = Stored();
        DialogFields f = Fields();
        f.recordAudio = f.recordVideo = false;
        const OkResult r = ApplyDialogOk(f, s, kYes);
        EXPECT_TRUE(r.accepted);
        EXPECT_TRUE(r.checkBoth);
        EXPECT_EQ(0, s.audioOnly + s.videoOnly);
    }
    {
        // Video only ends the Tonvik route; audio only needs no source.
        Settings s = Stored();
        DialogFields f = Fields();
        f.recordAudio = false;
        f.tonvik = true;
        EXPECT_TRUE(ApplyDialogOk(f, s, kYes).accepted);
        EXPECT_EQ(1, s.videoOnly);
        EXPECT_EQ(0, s.audioSonifer);
        s.audioSource.clear();
        f = Fields();
        f.recordVideo = false;
        EXPECT_TRUE(ApplyDialogOk(f, s, kYes).accepted);
        EXPECT_EQ(1, s.audioOnly);
    }
}

TEST(SettingsDialog, ListsFollowTheFormat) {
    BitrateLists mpeg = ListsForProtocol(0, 4000, 128);
    EXPECT_EQ(6u, mpeg.video.size());
    EXPECT_EQ("4000", mpeg.videoSelection);
    EXPECT_EQ("256", mpeg.audioSelection);
    BitrateLists wmv = ListsForProtocol(1, 1200, 128);
    EXPECT_EQ("6000", wmv.video.back());
    EXPECT_EQ("128", wmv.audioSelection);
    bool changed = false;
    BitrateLists toWmv = ListsForFormatChange("Windows Media 9", changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ("3000", toWmv.video.back());  // "6000" goes after a change
    EXPECT_EQ("1200", toWmv.videoSelection);
    EXPECT_EQ("64", toWmv.audioSelection);
    EXPECT_EQ("", ListsForFormatChange("MPEG-1", changed).videoSelection);
    EXPECT_EQ("3000", ListsForFormatChange("MPEG-2", changed).videoSelection);
    ListsForFormatChange("Windows Media MPEG4", changed);
    EXPECT_FALSE(changed);
}

}  // namespace
}  // namespace recorder
