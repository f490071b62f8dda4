#include "recorder/core/PanelLogic.h"

#include <gtest/gtest.h>

namespace recorder {
namespace {

TEST(PanelHitBoxes, FirstBoxInOrderWins) {
    struct Case {
        int x, y;
        HitBox box;
    };
    const Case cases[] = {
        {240, 45, HitBox::Settings},   {320, 60, HitBox::Settings},  {239, 50, HitBox::None},
        {240, 75, HitBox::Picker},     {312, 142, HitBox::Help},     {8, 110, HitBox::Record},
        {53, 157, HitBox::Record},     {60, 165, HitBox::Stop},      {78, 140, HitBox::Stop},
        {80, 157, HitBox::Stop},       {81, 140, HitBox::PausePlay}, {78, 139, HitBox::PausePlay},
        {123, 110, HitBox::PausePlay}, {148, 111, HitBox::Browser},  {193, 158, HitBox::Browser},
        {10, 37, HitBox::Region},      {180, 105, HitBox::Region},   {286, 6, HitBox::Minimize},
        {302, 23, HitBox::Minimize},   {308, 6, HitBox::Exit},       {327, 23, HitBox::Exit},
        {305, 10, HitBox::None},       {0, 0, HitBox::None},         {-5, 120, HitBox::None},
    };
    for (const Case& c : cases) EXPECT_EQ(c.box, HitTestRelease(c.x, c.y)) << c.x << "," << c.y;

    EXPECT_EQ(PressAction::Feedback, ClassifyPress(30, 130));
    EXPECT_EQ(PressAction::FlashMinimize, ClassifyPress(290, 10));
    EXPECT_EQ(PressAction::FlashExit, ClassifyPress(310, 10));
    EXPECT_EQ(PressAction::Drag, ClassifyPress(200, 20));
}

TEST(RecordingRoute, ChoiceBySettings) {
    struct Case {
        int sonifer, hide, vista, videoOnly;
        Route route;
    };
    const Case cases[] = {
        {0, 0, 0, 0, Route::InProcess},       {1, 0, 0, 0, Route::Engine},    {1, 1, 0, 0, Route::RefusedHideMode},
        {1, 1, 1, 0, Route::RefusedHideMode}, {0, 1, 1, 0, Route::Engine},    {0, 0, 2, 0, Route::Engine},
        {1, 0, 1, 1, Route::InProcess},       {1, 1, 1, 1, Route::InProcess},
    };
    for (const Case& c : cases) {
        Settings s;
        s.audioSonifer = c.sonifer;
        s.hide = c.hide;
        s.vistaAudio = c.vista;
        s.videoOnly = c.videoOnly;
        EXPECT_EQ(c.route, ChooseRoute(s)) << c.sonifer << c.hide << c.vista << c.videoOnly;
    }
}

TEST(StatusTexts, DurationsAndLines) {
    EXPECT_EQ("00:00:00", FormatDuration(0));
    EXPECT_EQ("00:01:05", FormatDuration(65));
    EXPECT_EQ("01:00:00", FormatDuration(3600));
    EXPECT_EQ("100:00:01", FormatDuration(360001));
    EXPECT_EQ("00:00:00", FormatDuration(-3));

    EXPECT_EQ("Ready (Full Screen)", ReadyText(true, 1, 2, 3, 4));
    EXPECT_EQ("Ready (200,200,600,600)", ReadyText(false, 200, 200, 600, 600));

    struct MediaCase {
        int audioOnly, videoOnly;
        const char* line;
    };
    const MediaCase media[] = {
        {0, 0, "Media Type: video/audio"}, {1, 0, "Media Type: audio"}, {0, 1, "Media Type: video"}, {1, 1, ""}};
    for (const MediaCase& m : media) {
        Settings s;
        s.audioOnly = m.audioOnly;
        s.videoOnly = m.videoOnly;
        EXPECT_EQ(m.line, MediaLine(s));
    }

    Settings s;
    s.videoBitrate = 4000;
    s.audioBitrate = 256;
    s.frameRate = 25;
    const char* const formats[] = {"MPEG-2, 4000, 256, 25", "WM9, 4000, 256, 25", "MPEG-1, 4000, 256, 25",
                                   "WM-MP4, 4000, 256, 25", ""};
    for (int p = 0; p < 5; ++p) {
        s.protocol = p;
        EXPECT_EQ(formats[p], FormatLine(s));
    }
    s.protocol = 0;
    EXPECT_EQ(" MPEG-2, 4000, 256, 25\r\n Media Type: video/audio\r\n File Size: 1.50 MB\r\n File Time: 00:00:42",
              RecordingStatusBox(s, 1572864, 42));
    EXPECT_EQ("Recording Stopped: 5120.00 MB", StoppedText(5368709120ull));
}

TEST(StopLimits, SizeAndTimeDecisions) {
    struct Case {
        int maxMb, maxSeconds;
        unsigned long long size, startMs, nowMs;
        LimitHit hit;
    };
    const Case cases[] = {
        {0, 0, 1ull << 40, 0, 1ull << 40, LimitHit::None},
        {1, 0, 1048575, 0, 0, LimitHit::None},
        {1, 0, 1048576, 0, 0, LimitHit::Size},
        // 4096 MB and more: a size past 4 GiB is seen, and one that wraps
        // a 32-bit count is not mistaken for a full file.
        {4096, 0, 4294967295ull, 0, 0, LimitHit::None},
        {4096, 0, 4294967296ull, 0, 0, LimitHit::Size},
        {5000, 0, 4294967296ull + 5, 0, 0, LimitHit::None},
        {10, 10, 0, 5000, 14999, LimitHit::None},
        {0, 10, 0, 5000, 15000, LimitHit::Time},
        {0, 10, 0, 5000, 15700, LimitHit::Time},
        // A clock that is behind the start never stops the recording.
        {0, 10, 0, 5000, 100, LimitHit::None},
        {1, 10, 2000000, 0, 20000, LimitHit::Size},
    };
    for (const Case& c : cases) {
        Settings s;
        s.maxFileSize = c.maxMb;
        s.maxFileTime = c.maxSeconds;
        EXPECT_EQ(c.hit, CheckLimits(s, c.size, c.startMs, c.nowMs)) << c.maxMb << " " << c.size << " " << c.nowMs;
    }
}

TEST(SoundDetection, BaselineThenOneVerdict) {
    struct Run {
        int quietLevel;  // levels of the first ten updates
        int loudAt;      // comparison update (1-based) that is loud, 0 for none
        SoundDetector::Verdict verdict;
        int verdictUpdate;  // update number that gives it
    };
    // Baseline of nine updates of 50: 450 / 10 - 88 = -43; a loud update
    // must beat -23, so a level of 66 (-22) is loud and 65 (-23) is not.
    const Run runs[] = {
        {50, 1, SoundDetector::Verdict::Detected, 11},
        {50, 76, SoundDetector::Verdict::Detected, 86},
        {50, 0, SoundDetector::Verdict::NotDetected, 86},
    };
    for (const Run& r : runs) {
        SoundDetector d;
        int verdictAt = 0;
        SoundDetector::Verdict verdict = SoundDetector::Verdict::None;
        int left = 0;
        int right = 0;
        for (int update = 1; update <= 120; ++update) {
            int level = update <= 10 ? r.quietLevel : 65;
            if (r.loudAt && update == 10 + r.loudAt) level = 66;
            const SoundDetector::Verdict v = d.Update(level, 0, left, right);
            if (v != SoundDetector::Verdict::None) {
                EXPECT_EQ(0, verdictAt) << "second verdict";
                verdictAt = update;
                verdict = v;
            }
        }
        EXPECT_EQ(r.verdict, verdict);
        EXPECT_EQ(r.verdictUpdate, verdictAt);
        EXPECT_TRUE(d.Finished());
    }
    // The right channel alone can decide, and the levels reported are
    // offset by 88.
    SoundDetector d;
    int left = 0, right = 0;
    for (int i = 0; i < 10; ++i) d.Update(0, 0, left, right);
    EXPECT_EQ(SoundDetector::Verdict::Detected, d.Update(0, 100, left, right));
    EXPECT_EQ(-88, left);
    EXPECT_EQ(12, right);
}

TEST(CaptureRegion, RoundsSizeDownToMultiplesOfEight) {
    const Region r = RoundRegion({200, 100, 213, 579, 30});
    EXPECT_EQ(200, r.left);
    EXPECT_EQ(208, r.right);
    EXPECT_EQ(572, r.bottom);
    const Region big = RoundRegion({0, 0, 641, 479, 25});
    EXPECT_EQ(640, big.right);
    EXPECT_EQ(472, big.bottom);
    // Extreme edges stay defined.
    const Region odd = RoundRegion({-2147483647 - 1, 0, 2147483647, 0, 0});
    EXPECT_EQ(2147483647 - 7, odd.right);
}

TEST(ProgramFolder, FromModulePath) {
    EXPECT_EQ("C:", FolderOfModule("C:\\Zelbo.exe"));
    EXPECT_EQ("C:\\Program Files\\Zelbo", FolderOfModule("C:\\Program Files\\Zelbo\\Zelbo.exe"));
    EXPECT_EQ("\\\\server\\share", FolderOfModule("\\\\server\\share\\Zelbo.exe"));
    EXPECT_EQ("C:", FolderOfModule("C:Zelbo.exe"));
    EXPECT_EQ("", FolderOfModule("Zelbo.exe"));
    EXPECT_EQ(260u, FolderOfModule(std::string(300, 'a') + "\\Zelbo.exe").size());
}

TEST(EngineCodes, EndMessages) {
    EXPECT_EQ("Recording stopped. Please restart.", EngineEndMessage(102));
    for (int code : {100, 200, 1000, 1003, 1007}) EXPECT_FALSE(EngineEndMessage(code).empty()) << code;
    for (int code : {0, 101, 107, 999, 1008}) EXPECT_TRUE(EngineEndMessage(code).empty()) << code;
    EXPECT_NE(std::string::npos, EngineEndMessage(1004).find("1004"));
}

}  // namespace
}  // namespace recorder
