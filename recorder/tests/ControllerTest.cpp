#include "recorder/core/Controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace recorder {
namespace {

// Records what the controller asks of the panel, with a scriptable world.
class FakeHost : public PanelHost {
public:
    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::string status;
    std::string statusBox;
    bool statusBoxShown = false;
    bool ticking = false;
    bool engineRunning = false;
    bool engineCloses = true;
    bool graphStarts = true;
    std::string failureWhileStopping;  // what the next stop reports
    bool engineStarts = true;
    bool targetExists = true;
    std::uint64_t targetBytes = 0;
    std::uint64_t now = 1000;
    bool answerYes = true;
    int videoBitrate = 4000;
    int frameRate = 25;
    std::function<void()> duringWait;
    std::function<void()> duringGraphStart;  // the graph start's own wait
    std::string images[8];

    int Count(const std::string& entry) const { return static_cast<int>(std::count(log.begin(), log.end(), entry)); }

    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        log.push_back("message");
    }
    bool AskYesNo(const std::string& text) override {
        messages.push_back(text);
        return answerYes;
    }
    void SetStatus(const std::string& text) override { status = text; }
    void SetImage(Button button, Image image) override { images[static_cast<int>(button)] = ImageName(image); }
    bool HasStatusBox() override { return statusBoxShown; }
    void CreateStatusBox() override { statusBoxShown = true; }
    void SetStatusBoxText(const std::string& text) override {
        if (statusBoxShown) statusBox = text;
    }
    void DestroyStatusBox() override { statusBoxShown = false; }
    void SetTitle(const std::string&) override {}
    void RestorePanel() override {}
    void HidePanel() override { log.push_back("hide panel"); }
    void StartTick() override {
        ticking = true;
        log.push_back("start tick");
    }
    void StopTick() override { ticking = false; }
    void Wait(unsigned ms) override {
        now += ms;
        log.push_back("wait " + std::to_string(ms));
        if (duringWait) {
            auto hook = duringWait;
            duringWait = nullptr;
            hook();
        }
    }
    std::uint64_t NowMs() override { return now; }
    bool EngineRunning() override { return engineRunning; }
    void PostEngineStop() override {
        log.push_back("post engine stop");
        if (engineCloses) engineRunning = false;
    }
    bool WaitEngineClosed() override { return !engineRunning; }
    bool WaitEngineGone(unsigned ms) override {
        log.push_back("wait engine gone " + std::to_string(ms));
        return !engineRunning;
    }
    void SendMeter(int code, int) override { log.push_back("meter " + std::to_string(code)); }
    void MakeOutputFileName() override { log.push_back("make name"); }
    bool StartEngine() override {
        log.push_back("start engine");
        if (engineStarts) engineRunning = true;
        return engineStarts;
    }
    bool StartCaptureGraph() override {
        log.push_back("start graph");
        if (duringGraphStart) {
            auto hook = duringGraphStart;
            duringGraphStart = nullptr;
            hook();
        }
        return graphStarts;
    }
    std::string StopCaptureGraph() override {
        log.push_back("stop graph");
        return std::exchange(failureWhileStopping, std::string());
    }
    bool TargetSize(std::uint64_t& bytes) override {
        bytes = targetBytes;
        return targetExists;
    }
    std::string DisplayName() override { return "Zelbo.mpg"; }
    int OptionsVideoBitrate() override { return videoBitrate; }
    int OptionsFrameRate() override { return frameRate; }
    void OpenSettings() override { log.push_back("open settings"); }
    void OpenAudioTest() override { log.push_back("open audio test"); }
    void SendAudioTestResult(bool detected, int, int) override { log.push_back(detected ? "sound" : "no sound"); }
};

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() {
        settings.recordingFolder = "C:\\rec";
        settings.audioSource = "Line In";
        settings.protocol = 0;
        settings.frameRate = 25;
        // Start-up ticks: a redraw, the panel set-up, another redraw.
        for (int i = 0; i < 3; ++i) controller.OnTick();
    }

    void Tick(unsigned ms = 1000) {
        host.now += ms;
        if (host.ticking) controller.OnTick();
    }

    Settings settings;
    FakeHost host;
    Controller controller{settings, host, true};
};

TEST_F(ControllerTest, InProcessRecordShowsStatusAndStopsAtSizeLimitOnce) {
    settings.maxFileSize = 1;
    settings.maxFileTime = 2;  // also due on the same tick
    controller.OnRecordBox();
    ASSERT_TRUE(controller.State().recording);
    EXPECT_FALSE(controller.State().engineMode);
    EXPECT_EQ(1, host.Count("make name"));
    EXPECT_EQ("PAUSE", host.images[static_cast<int>(Button::PausePlay)]);
    EXPECT_EQ("Status", host.statusBox);

    host.targetBytes = 524288;
    Tick();
    EXPECT_EQ("Recording: Zelbo.mpg", host.status);
    EXPECT_EQ(" MPEG-2, 0, 0, 25\r\n Media Type: video/audio\r\n File Size: 0.50 MB\r\n File Time: 00:00:01",
              host.statusBox);
    EXPECT_EQ("STOP_ON", host.images[static_cast<int>(Button::Record)]);

    host.targetBytes = 1048576;
    Tick();
    EXPECT_FALSE(controller.State().recording);
    EXPECT_FALSE(host.ticking);
    EXPECT_EQ((std::vector<std::string>{"Recording Stopped: 1.00 MB", "Recording Stopped. File size exceeded"}),
              host.messages);
    EXPECT_EQ("RECORD", host.images[static_cast<int>(Button::Record)]);
    // No second stop, whatever ticks still arrive.
    controller.OnTick();
    EXPECT_EQ(2u, host.messages.size());
    EXPECT_EQ(1, host.Count("stop graph"));
}

TEST_F(ControllerTest, TimeLimitUsesTheMonotonicClock) {
    settings.maxFileTime = 10;
    controller.OnRecordBox();
    ASSERT_TRUE(controller.State().recording);
    for (int i = 0; i < 9; ++i) Tick();
    EXPECT_TRUE(controller.State().recording);
    Tick(999);
    EXPECT_TRUE(controller.State().recording);
    Tick(1);
    EXPECT_FALSE(controller.State().recording);
    EXPECT_EQ("Recording Stopped. File time exceeded", host.messages.back());
}

TEST_F(ControllerTest, TimeLimitCountsTheWholeRecordingAcrossPauses) {
    settings.maxFileTime = 10;
    controller.OnRecordBox();
    for (int i = 0; i < 6; ++i) Tick();
    controller.OnPausePlayBox();  // pause after 6 s
    host.now += 60000;            // the pause does not count
    controller.OnPausePlayBox();  // resume
    ASSERT_TRUE(controller.State().recording);
    for (int i = 0; i < 3; ++i) Tick();
    EXPECT_TRUE(controller.State().recording);
    Tick();
    EXPECT_FALSE(controller.State().recording);
    EXPECT_EQ("Recording Stopped. File time exceeded", host.messages.back());

    // A new recording counts from zero again.
    host.messages.clear();
    controller.OnRecordBox();
    for (int i = 0; i < 9; ++i) Tick();
    EXPECT_TRUE(controller.State().recording);
}

TEST_F(ControllerTest, MissingTargetSkipsTheTickWork) {
    settings.maxFileTime = 1;
    controller.OnRecordBox();
    host.targetExists = false;
    Tick(5000);
    EXPECT_TRUE(controller.State().recording);
    EXPECT_EQ("Initialize recording...", host.status);
}

TEST_F(ControllerTest, StopWhilePausedFinalisesWithoutCapturingAgain) {
    controller.OnRecordBox();
    controller.OnPausePlayBox();  // pause
    EXPECT_EQ(1, controller.State().pauseState);
    EXPECT_FALSE(controller.State().recording);
    EXPECT_EQ("RESTART", host.images[static_cast<int>(Button::PausePlay)]);
    EXPECT_FALSE(host.ticking);

    for (auto stop : {&Controller::OnStopBox, &Controller::OnRecordBox}) {
        host.log.clear();
        (controller.*stop)();
        EXPECT_EQ(0, host.Count("start graph"));
        EXPECT_EQ(1, host.Count("stop graph"));
        EXPECT_FALSE(controller.Active());
        // Next round: a new recording, paused again.
        controller.OnRecordBox();
        controller.OnPausePlayBox();
    }
}

TEST_F(ControllerTest, PauseAndResumeKeepTheTarget) {
    controller.OnRecordBox();
    controller.OnPausePlayBox();
    controller.OnPausePlayBox();  // resume
    EXPECT_TRUE(controller.State().recording);
    EXPECT_EQ(0, controller.State().pauseState);
    EXPECT_TRUE(controller.State().inProcessPaused);
    EXPECT_EQ(2, host.Count("start graph"));
    EXPECT_EQ(1, host.Count("make name"));
    EXPECT_EQ("PAUSE", host.images[static_cast<int>(Button::PausePlay)]);
}

TEST_F(ControllerTest, PauseIsOnlyForMpeg2) {
    for (int protocol : {1, 2, 3}) {
        settings.protocol = protocol;
        settings.vistaAudio = protocol == 3;  // WM-MP4 records through the engine
        FakeHost h;
        Controller c(settings, h, true);
        c.OnRecordBox();
        ASSERT_TRUE(c.State().recording) << protocol;
        h.log.clear();
        c.OnPausePlayBox();
        EXPECT_EQ(std::vector<std::string>{"wait 200"}, h.log) << protocol;
        EXPECT_EQ("PLAY1", h.images[static_cast<int>(Button::PausePlay)]);
        EXPECT_TRUE(c.State().recording);
        EXPECT_EQ(0, c.State().pauseState);
    }
}

TEST_F(ControllerTest, RefusalsLeaveThePanelIdle) {
    struct Case {
        const char* name;
        std::function<void(Settings&, FakeHost&)> setup;
        const char* message;
        const char* opened;
    };
    const Case cases[] = {
        {"hide mode", [](Settings& s, FakeHost&) { s.audioSonifer = 1, s.hide = 1; },
         "Tonvik cannot be enabled in hide mode", nullptr},
        {"no folder", [](Settings& s, FakeHost&) { s.recordingFolder.clear(); },
         "The recording folder is not specified. Click OK to continue and choose a folder to save recordings",
         "open settings"},
        {"no audio source", [](Settings& s, FakeHost&) { s.audioSource.clear(); },
         "No audio source selected. Click OK and select an audio source from the Audio Source list.",
         "open audio test"},
        {"frame rate 4", [](Settings&, FakeHost& h) { h.frameRate = 4; }, "Frame rate must be between 5 and 30",
         nullptr},
        {"frame rate 31", [](Settings&, FakeHost& h) { h.frameRate = 31; }, "Frame rate must be between 5 and 30",
         nullptr},
        {"no bitrate", [](Settings& s, FakeHost& h) { s.videoOnly = 1, h.videoBitrate = 0; },
         "Video bitrate not specified", nullptr},
    };
    for (const Case& c : cases) {
        Settings s = settings;
        FakeHost h;
        c.setup(s, h);
        Controller ctl(s, h, true);
        ctl.OnRecordBox();
        EXPECT_FALSE(ctl.Active()) << c.name;
        EXPECT_FALSE(ctl.State().recordGuard) << c.name;
        EXPECT_EQ(0, h.Count("start graph") + h.Count("start engine")) << c.name;
        ASSERT_FALSE(h.messages.empty()) << c.name;
        EXPECT_EQ(c.message, h.messages.front()) << c.name;
        if (c.opened) {
            EXPECT_EQ(1, h.Count(c.opened)) << c.name;
        }
    }
    // After the folder message a later Record works.
    settings.recordingFolder.clear();
    controller.OnRecordBox();
    settings.recordingFolder = "C:\\rec";
    controller.OnRecordBox();
    EXPECT_TRUE(controller.State().recording);
}

TEST_F(ControllerTest, StartFailureReturnsToIdle) {
    host.graphStarts = false;
    controller.OnRecordBox();
    EXPECT_FALSE(controller.Active());
    EXPECT_FALSE(host.ticking);
    EXPECT_EQ("RECORD", host.images[static_cast<int>(Button::Record)]);
    EXPECT_EQ("Recording Stopped: 0.00 MB", host.messages.back());
}

TEST_F(ControllerTest, SecondRecordDuringTheWaitIsIgnored) {
    host.duringWait = [this] { controller.OnRecordBox(); };
    controller.OnRecordBox();
    EXPECT_TRUE(controller.State().recording);
    EXPECT_EQ(1, host.Count("start graph"));
    EXPECT_EQ(1, host.Count("make name"));
}

// Stop, Pause, Record and exit pressed while a start pumps messages (in the
// press's short wait or in the graph's own) are ignored: the start ends with
// a running recording, which then stops normally, and the next one starts.
TEST_F(ControllerTest, PressesDuringAStartAreIgnored) {
    struct Case {
        const char* name;
        bool inGraphStart;
        std::function<void(Controller&)> press;
    };
    const Case cases[] = {
        {"stop in the press's wait", false, [](Controller& c) { c.OnStopBox(); }},
        {"stop in the graph start", true, [](Controller& c) { c.OnStopBox(); }},
        {"pause in the press's wait", false, [](Controller& c) { c.OnPausePlayBox(); }},
        {"pause in the graph start", true, [](Controller& c) { c.OnPausePlayBox(); }},
        {"record in the graph start", true, [](Controller& c) { c.OnRecordBox(); }},
        {"hot key in the graph start", true, [](Controller& c) { c.OnHotKey(); }},
        {"exit in the graph start", true, [](Controller& c) { EXPECT_FALSE(c.PrepareExit()); }},
    };
    for (const Case& c : cases) {
        FakeHost fresh;
        Settings s = settings;
        Controller control(s, fresh, true);
        for (int i = 0; i < 3; ++i) control.OnTick();
        auto press = [&] {
            EXPECT_TRUE(control.Starting()) << c.name;
            c.press(control);
        };
        if (c.inGraphStart)
            fresh.duringGraphStart = press;
        else
            fresh.duringWait = press;
        control.OnRecordBox();
        EXPECT_TRUE(control.State().recording) << c.name;
        EXPECT_FALSE(control.Starting()) << c.name;
        EXPECT_EQ(0, fresh.Count("stop graph")) << c.name;
        EXPECT_EQ(0, control.State().pauseState) << c.name;
        EXPECT_TRUE(fresh.messages.empty()) << c.name;

        control.OnStopBox();
        EXPECT_FALSE(control.Active()) << c.name;
        EXPECT_EQ(1, fresh.Count("stop graph")) << c.name;
        control.OnRecordBox();
        EXPECT_TRUE(control.State().recording) << c.name;
        EXPECT_EQ(2, fresh.Count("start graph")) << c.name;
    }
}

// Resuming a paused recording is a start too.
TEST_F(ControllerTest, StopDuringAResumeIsIgnored) {
    controller.OnRecordBox();
    controller.OnPausePlayBox();
    ASSERT_EQ(1, controller.State().pauseState);
    host.duringGraphStart = [this] { controller.OnStopBox(); };
    controller.OnPausePlayBox();
    EXPECT_TRUE(controller.State().recording);
    EXPECT_EQ(1, host.Count("stop graph"));  // the pause's
}

// The hot-key flag (no status, no limits) belongs to one recording.
TEST_F(ControllerTest, HotKeyModeEndsWithItsRecording) {
    settings.maxFileSize = 1;
    struct Case {
        const char* name;
        std::function<void()> end;
    };
    const Case cases[] = {
        {"refused start",
         [this] {
             settings.audioSource.clear();
             controller.OnHotKey();
             settings.audioSource = "Line In";
         }},
        {"failed start",
         [this] {
             host.graphStarts = false;
             controller.OnHotKey();
             host.graphStarts = true;
         }},
        {"stopped by the panel",
         [this] {
             controller.OnHotKey();
             ASSERT_TRUE(controller.State().hotKeyRecording);
             controller.OnStopBox();
         }},
        {"graph failure",
         [this] {
             controller.OnHotKey();
             controller.OnGraphFailure("broken");
         }},
        {"stopped by the hot key",
         [this] {
             controller.OnHotKey();
             controller.OnHotKey();
         }},
    };
    for (const Case& c : cases) {
        c.end();
        EXPECT_FALSE(controller.Active()) << c.name;
        EXPECT_FALSE(controller.State().hotKeyRecording) << c.name;
        // The next recording from the panel shows its status and keeps the
        // size limit.
        host.messages.clear();
        host.targetBytes = 0;
        controller.OnRecordBox();
        ASSERT_TRUE(controller.State().recording) << c.name;
        Tick();
        EXPECT_EQ("Recording: Zelbo.mpg", host.status) << c.name;
        host.targetBytes = 2 * 1048576;
        Tick();
        EXPECT_FALSE(controller.Active()) << c.name;
        ASSERT_FALSE(host.messages.empty()) << c.name;
        EXPECT_EQ("Recording Stopped. File size exceeded", host.messages.back()) << c.name;
    }
}

// A graph that reports a failure ends the recording with that failure, not
// with the size of a recording that went well.
TEST_F(ControllerTest, GraphFailureEndsTheRecordingAndSaysWhy) {
    controller.OnRecordBox();
    ASSERT_TRUE(controller.State().recording);
    host.messages.clear();
    controller.OnGraphFailure("Cannot write C:\\rec\\a.mpg: the disk is full");
    EXPECT_FALSE(controller.Active());
    EXPECT_FALSE(host.ticking);
    EXPECT_EQ(1, host.Count("stop graph"));
    EXPECT_EQ("Recording failed", host.status);
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ("Cannot write C:\\rec\\a.mpg: the disk is full", host.messages[0]);
    EXPECT_EQ("RECORD", host.images[static_cast<int>(Button::Record)]);

    // Late reports of the same failure change nothing.
    controller.OnGraphFailure("again");
    EXPECT_EQ(1u, host.messages.size());
    EXPECT_EQ(1, host.Count("stop graph"));

    // Reported while a start still waits: handled once the start is done.
    host.duringGraphStart = [this] { controller.OnGraphFailure("source failed"); };
    controller.OnRecordBox();
    EXPECT_FALSE(controller.Active());
    EXPECT_EQ(2, host.Count("stop graph"));
    EXPECT_EQ("source failed", host.messages.back());

    // Closing a paused recording's segment can fail too: it ends there.
    controller.OnRecordBox();
    controller.OnPausePlayBox();
    ASSERT_TRUE(controller.State().inProcessPaused);
    controller.OnGraphFailure("Cannot close the file");
    EXPECT_EQ("Cannot close the file", host.messages.back());
    EXPECT_FALSE(controller.Active());
}

// A failure while the streams end (the write of the file's end) is no good
// stop: the panel and the message say what failed, at a stop and a pause.
TEST_F(ControllerTest, FailureWhileStoppingIsNoGoodStop) {
    controller.OnRecordBox();
    ASSERT_TRUE(controller.State().recording);
    host.messages.clear();
    host.failureWhileStopping = "Cannot write C:\\rec\\a.mpg: the disk is full";
    controller.OnRecordBox();
    EXPECT_FALSE(controller.Active());
    EXPECT_EQ("Recording failed", host.status);
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ("Cannot write C:\\rec\\a.mpg: the disk is full", host.messages[0]);

    controller.OnRecordBox();
    host.failureWhileStopping = "Cannot close the file";
    controller.OnPausePlayBox();
    EXPECT_FALSE(controller.Active());
    EXPECT_FALSE(controller.State().inProcessPaused);
    EXPECT_EQ("Recording failed", host.status);
    EXPECT_EQ("Cannot close the file", host.messages.back());
}

TEST_F(ControllerTest, EngineRecordingStartsStopsAndPauses) {
    settings.vistaAudio = 1;
    controller.OnRecordBox();
    ASSERT_TRUE(controller.State().recording);
    EXPECT_TRUE(controller.State().engineMode);
    EXPECT_EQ(1, host.Count("start engine"));
    EXPECT_TRUE(host.ticking);

    // The first tick that finds the file restarts the clock.
    host.now += 5000;
    settings.maxFileTime = 2;
    Tick();
    EXPECT_TRUE(controller.State().recording);
    Tick();
    Tick();
    EXPECT_FALSE(controller.State().recording);
    EXPECT_EQ(1, host.Count("post engine stop"));

    // Pause stops the engine; resume starts a new one on the same target.
    host.log.clear();
    settings.maxFileTime = 0;
    controller.OnRecordBox();
    controller.OnPausePlayBox();
    EXPECT_EQ(1, controller.State().pauseState);
    EXPECT_TRUE(controller.State().recording);
    controller.OnPausePlayBox();
    EXPECT_EQ(0, controller.State().pauseState);
    EXPECT_EQ(2, host.Count("start engine"));
    EXPECT_EQ(1, host.Count("make name"));

    // Record during an engine recording stops it.
    controller.OnRecordBox();
    EXPECT_FALSE(controller.Active());
}

TEST_F(ControllerTest, OldEngineThatWillNotCloseBlocksTheLaunch) {
    settings.vistaAudio = 1;
    host.engineRunning = true;
    host.engineCloses = false;
    controller.OnRecordBox();
    EXPECT_FALSE(controller.State().recording);
    EXPECT_EQ("Unable to start recording. Cannot close program Zelbov.exe", host.messages.back());
}

TEST_F(ControllerTest, EngineCodesEndOnlyARunningEngineRecording) {
    for (int code : {100, 102, 200, 1000, 1007}) {
        Settings s = settings;
        s.vistaAudio = 1;
        FakeHost h;
        Controller c(s, h, true);
        c.OnEngineCode(code);  // idle: nothing starts
        EXPECT_FALSE(c.Active()) << code;
        EXPECT_TRUE(h.messages.empty()) << code;

        c.OnRecordBox();
        h.engineRunning = false;  // the engine has ended by itself
        EXPECT_EQ(1, c.OnEngineCode(code));
        EXPECT_FALSE(c.Active()) << code;
        ASSERT_FALSE(h.messages.empty());
        EXPECT_EQ(EngineEndMessage(code), h.messages.front()) << code;
        EXPECT_FALSE(h.ticking) << code;
    }
    // Unknown codes and in-process recordings are left alone.
    controller.OnRecordBox();
    controller.OnEngineCode(1003);
    controller.OnEngineCode(555);
    EXPECT_TRUE(controller.State().recording);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(ControllerTest, ExitStopsARunningRecordingFirst) {
    controller.OnRecordBox();
    host.answerYes = false;
    EXPECT_FALSE(controller.PrepareExit());
    EXPECT_TRUE(controller.State().recording);

    host.answerYes = true;
    host.log.clear();
    EXPECT_TRUE(controller.PrepareExit());
    EXPECT_FALSE(controller.Active());
    EXPECT_EQ(1, host.Count("stop graph"));
    EXPECT_EQ(0, host.Count("message"));

    // Engine route: the engine is asked to stop and waited for.
    settings.vistaAudio = 1;
    controller.OnRecordBox();
    host.engineCloses = false;
    host.log.clear();
    EXPECT_TRUE(controller.PrepareExit());
    EXPECT_EQ(1, host.Count("post engine stop"));
    EXPECT_EQ(1, host.Count("wait engine gone 10000"));

    // Idle: no question.
    const std::size_t asked = host.messages.size();
    EXPECT_TRUE(controller.PrepareExit());
    EXPECT_EQ(asked, host.messages.size());
}

TEST(ControllerStartup, TicksAndDetection) {
    Settings settings;
    FakeHost host;
    Controller controller(settings, host, true);
    // First tick only redraws (refresh), the second prepares the panel.
    controller.OnTick();
    EXPECT_FALSE(controller.State().panelReady);
    controller.OnTick();
    EXPECT_TRUE(controller.State().panelReady);
    EXPECT_TRUE(controller.State().refresh);
    // The refresh tick feeds a zero update into the detection, as the
    // meter's updates do; a loud update after the baseline decides.
    controller.OnTick();
    for (int i = 0; i < 8; ++i) controller.OnLevelUpdate(0, 0);
    EXPECT_EQ(0, host.Count("sound"));
    controller.OnLevelUpdate(0, 0);  // tenth: baseline
    controller.OnLevelUpdate(90, 0);
    EXPECT_EQ(1, host.Count("sound"));
    controller.OnLevelUpdate(90, 0);
    EXPECT_EQ(1, host.Count("sound"));
}

}  // namespace
}  // namespace recorder
