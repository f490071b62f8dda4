// Wavrel.exe under Wine: started as the control program starts it, it
// records the null sink's monitor and reports levels to the window
// "Zelbo", obeys "Zelbo message" through whichever "Wavrel" window a title
// lookup finds, and in audio-test mode answers the window "Audio Test".
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "levelmeter/tests/MeterDriver.h"
#include "recorder/tests/ZelboDriver.h"

namespace {

using metertest::Meter;
using metertest::PeerWindow;
using metertest::Pump;
using metertest::PumpUntil;
using metertest::Tone;

const double kToneDbfs = -10;  // a 1 kHz sine at -10 dBFS reads about 77.3

std::string MeterExe() {
    static const std::string exe = zelbotest::MakeProgramFolder() + "\\Wavrel.exe";
    return exe;
}

// Left levels that arrive during `ms` milliseconds.
std::vector<int> LeftLevels(PeerWindow& peer, DWORD ms) {
    peer.Received().clear();
    Pump(ms);
    std::vector<int> left;
    for (const PeerWindow::Message& m : peer.Of(peer.LevelUpdate())) left.push_back(m.wParam);
    return left;
}

int Median(std::vector<int> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

TEST(WavrelProgram, LevelsOfSilenceAndOfAToneReachThePanel) {
    PeerWindow panel(L"Zelbo");
    Meter meter(MeterExe(), " mini_wnd");
    ASSERT_TRUE(meter.Started());
    ASSERT_TRUE(PumpUntil([&] { return meter.Dialog() != nullptr; }, 10000)) << "no meter window";

    // A wave input hands over its first buffers slowly under Wine.
    ASSERT_TRUE(PumpUntil([&] { return LeftLevels(panel, 500).size() >= 4; }, 10000)) << "no steady levels";
    const std::vector<int> quiet = LeftLevels(panel, 1500);
    ASSERT_GE(quiet.size(), 8u) << "a buffer is about 93 ms";
    EXPECT_LT(*std::max_element(quiet.begin(), quiet.end()), 20);

    Tone tone(metertest::ToneSamples(0, 8, kToneDbfs));
    ASSERT_TRUE(tone.Playing());
    Pump(1500);  // the sound's way through the server
    const std::vector<int> loud = LeftLevels(panel, 1500);
    ASSERT_GE(loud.size(), 8u);
    const int median = Median(loud);
    EXPECT_GE(median, 74) << "tone level";
    EXPECT_LE(median, 80) << "tone level";

    // The meter window, shown by command 3, with its bars up.
    HWND dialog = meter.Dialog();
    ::SendMessageA(dialog, panel.Meter(), 3, 0);
    Pump(800);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    char readout[64] = {};
    ::GetDlgItemTextA(dialog, 1008, readout, sizeof readout);
    EXPECT_NE(std::string(readout), "") << "peak readout";
    ::CreateDirectoryA(zelbotest::FromUnix(ARTEFACT_DIR).c_str(), nullptr);
    EXPECT_TRUE(zelbotest::SaveWindowShot(dialog, zelbotest::FromUnix(ARTEFACT_DIR "/wavrel_meter.bmp")));
}

TEST(WavrelProgram, EveryWavrelWindowTakesTheCommands) {
    PeerWindow panel(L"Zelbo");
    Meter meter(MeterExe(), " show_wnd");
    ASSERT_TRUE(meter.Started());
    ASSERT_TRUE(PumpUntil([&] { return meter.Dialog() != nullptr; }, 10000));
    HWND dialog = meter.Dialog();
    const std::vector<HWND> titled = meter.Windows("Wavrel");
    ASSERT_EQ(titled.size(), 2u) << "the hidden frame and the meter window";
    // A lookup by title, as the control program makes it, may find either
    // window: both take the commands.
    const HWND found = ::FindWindowA(nullptr, "Wavrel");
    EXPECT_TRUE(found == titled[0] || found == titled[1]);
    EXPECT_FALSE(::IsWindowVisible(dialog)) << "made hidden";
    for (HWND target : titled) {
        ::SendMessageA(target, panel.Meter(), 3, 0);
        EXPECT_TRUE(::IsWindowVisible(dialog)) << "command 3 to " << (target == dialog ? "dialog" : "frame");
        ::SendMessageA(target, panel.Meter(), 4, 0);
        EXPECT_FALSE(::IsWindowVisible(dialog)) << "command 4 to " << (target == dialog ? "dialog" : "frame");
    }

    // Command 5 moves the slider only: no volume report comes back.
    HWND slider = ::GetDlgItem(dialog, 1004);
    panel.Received().clear();
    ::SendMessageA(::FindWindowA(nullptr, "Wavrel"), panel.Meter(), 5, 30);
    EXPECT_EQ(::SendMessageA(slider, TBM_GETPOS, 0, 0), 70);
    Pump(300);
    EXPECT_TRUE(panel.Of(panel.Meter()).empty());

    // The slider at the top is full volume, reported as 100.
    ::SendMessageA(slider, TBM_SETPOS, TRUE, 0);
    ::SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    ASSERT_TRUE(PumpUntil([&] { return !panel.Of(panel.Meter()).empty(); }, 3000));
    EXPECT_EQ(panel.Of(panel.Meter()).front().wParam, 1);
    EXPECT_EQ(panel.Of(panel.Meter()).front().lParam, 100);

    // Command 1, as a recording start sends it, switches compression on
    // and notes the volume before any limiting.
    const std::string soundFile = MeterExe().substr(0, MeterExe().size() - 10) + "Sound.txt";
    ::DeleteFileA(soundFile.c_str());
    ::SendMessageA(::FindWindowA(nullptr, "Wavrel"), panel.Meter(), 1, 0);
    EXPECT_EQ(zelbotest::ReadFile(soundFile), "volume=-1");

    // Closing the meter window ends the program.
    ::PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(meter.Exited(5000));
}

// With compression on, every loud buffer lowers the output volume by 0.8
// and tells the panel the new percent; the tone stays loud (it is played by
// another program), so the limiter keeps firing. Wine reads the meter's
// output volume back as full each time, so each step starts from there:
// the steps below full are covered natively.
TEST(WavrelProgram, CompressionLimitsALoudInput) {
    const std::string exe = MeterExe();
    const std::string soundFile = exe.substr(0, exe.size() - 10) + "Sound.txt";
    ::DeleteFileA(soundFile.c_str());
    PeerWindow panel(L"Zelbo");
    Meter meter(exe, " compress_yes");
    ASSERT_TRUE(meter.Started());
    ASSERT_TRUE(PumpUntil([&] { return meter.Dialog() != nullptr; }, 10000));
    // The volume before any limiting: full in both channels.
    EXPECT_TRUE(PumpUntil([&] { return !zelbotest::ReadFile(soundFile).empty(); }, 3000));
    EXPECT_EQ(zelbotest::ReadFile(soundFile), "volume=-1");

    Tone tone(metertest::ToneSamples(0, 10, -3));  // about 84.3 dB
    ASSERT_TRUE(tone.Playing());
    ASSERT_TRUE(PumpUntil([&] { return panel.Of(panel.Meter()).size() >= 3; }, 15000));
    const std::vector<PeerWindow::Message> reports = panel.Of(panel.Meter());
    EXPECT_EQ(reports[0].wParam, 1);
    EXPECT_EQ(reports[0].lParam, 79);
    for (const PeerWindow::Message& m : reports) EXPECT_LE(m.lParam, 79);
    // The slider follows the volume (it may be a step ahead of the reports).
    EXPECT_GE(::SendMessageA(::GetDlgItem(meter.Dialog(), 1004), TBM_GETPOS, 0, 0), 100 - reports.back().lParam);

    // Command 2 (the end of a recording) stops the limiting.
    ::SendMessageA(::FindWindowA(nullptr, "Wavrel"), panel.Meter(), 2, 0);
    Pump(500);
    panel.Received().clear();
    Pump(1000);
    EXPECT_TRUE(panel.Of(panel.Meter()).empty());
}

struct VerdictCase {
    const char* name;
    double silentSeconds;  // before the tone, so that the baseline is quiet
    double toneDbfs;       // 0 for no tone
    UINT want;
};

TEST(WavrelProgram, AudioTestVerdict) {
    const VerdictCase cases[] = {
        {"tone", 2.5, kToneDbfs, WM_USER + 1},
        {"silence", 0, 0, WM_USER + 2},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.name);
        PeerWindow test(L"Audio Test");
        Meter meter(MeterExe(), " audioTest");
        ASSERT_TRUE(meter.Started());
        ASSERT_TRUE(PumpUntil([&] { return meter.Dialog() != nullptr; }, 10000));
        std::unique_ptr<Tone> tone;
        if (c.toneDbfs != 0) tone.reset(new Tone(metertest::ToneSamples(c.silentSeconds, 10, c.toneDbfs)));
        auto answered = [&] { return !test.Of(WM_USER + 1).empty() || !test.Of(WM_USER + 2).empty(); };
        // Start, ten updates of baseline and at most 76 compared ones.
        ASSERT_TRUE(PumpUntil(answered, 20000));
        EXPECT_EQ(test.Received().front().message, c.want);
        EXPECT_FALSE(::IsWindowVisible(meter.Dialog())) << "audio-test mode keeps the window hidden";
        // The verdict is given once.
        Pump(1000);
        EXPECT_EQ(test.Of(WM_USER + 1).size() + test.Of(WM_USER + 2).size(), 1u);
    }
}

TEST(WavrelProgram, MoreThanTwentyWordsAreRefusedOneByOne) {
    std::string words;
    for (int i = 0; i < 21; ++i) words += " w" + std::to_string(i);
    Meter meter(MeterExe(), words.c_str());
    ASSERT_TRUE(meter.Started());
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil(
        [&] {
            const std::vector<HWND> boxes = meter.Windows("Pexmor Message");
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr;
        },
        10000));
    char text[128] = {};
    ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_STREQ(text, "Too many parameters 20");
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    // Then the meter starts as usual.
    EXPECT_TRUE(PumpUntil([&] { return meter.Dialog() != nullptr; }, 10000));
}

}  // namespace
