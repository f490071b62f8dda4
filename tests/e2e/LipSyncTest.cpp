// Lip sync through the control program: a black window over the capture
// region turns white at a known moment while a tone starts in the sound
// server's null sink (through wave output, which plays there). The kept
// recordings are checked by check_lipsync.sh: the first bright frame and the
// onset of the sound within 40 ms, audio and video as long as each other.
#include "tests/e2e/RecordingFixture.h"

namespace {

using namespace e2e;

struct Case {
    int seconds;  // from the first bytes of the file to Stop
    int flashMs;  // from the first bytes of the file to the flash
    const char* artefact;
};

class LipSync : public ::testing::TestWithParam<Case> {};

TEST_P(LipSync, FlashAndToneStartTogether) {
    const Case c = GetParam();
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    constexpr int kFps = 30;  // the most the control program takes
    WriteRegion(100, 100, 420, 340, kFps);
    Backdrop window(100, 100, 320, 240);
    TonePlayer tone;
    ASSERT_TRUE(tone.Ready()) << "no wave output";
    const std::string folder = MakeProgramFolder();
    WriteFile(folder + "\\Settings.ini", Settings(folder, kFps));
    {
        Program program(folder);
        HWND panel = WaitForWindow("Zelbo", 30000);
        ASSERT_TRUE(panel);
        for (int i = 0; i < 100 && !::FindWindowA(nullptr, "Vantor Settings"); ++i) Hold(window, 100);
        Hold(window, 500);
        Click(panel, 30, 130);
        for (int i = 0; i < 400 && FileSize(FindRecording(folder)) == 0; ++i) Hold(window, 50);
        ASSERT_GT(FileSize(FindRecording(folder)), 0u)
            << "no recording appeared: " << AnswerMessageBox(program, IDOK, 100);
        Hold(window, static_cast<DWORD>(c.flashMs));
        window.Flash();
        tone.Start();
        Hold(window, static_cast<DWORD>(c.seconds * 1000 - c.flashMs));
        Click(panel, 30, 130);
        const std::string stopped = AnswerMessageBox(program);
        EXPECT_EQ(0u, stopped.find("Recording Stopped: ")) << stopped;
        Click(panel, 315, 15);
        DWORD code = 1;
        EXPECT_TRUE(program.Exited(15000, code));
    }
    const std::string out = FromUnix(KORVELL_E2E_OUT);
    ::CreateDirectoryA(out.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(FindRecording(folder).c_str(), (out + "\\" + c.artefact).c_str(), FALSE));
    ::CoUninitialize();
}

INSTANTIATE_TEST_SUITE_P(Lengths, LipSync,
                         ::testing::Values(Case{1, 500, "lipsync_1s.mpg"}, Case{10, 8000, "lipsync_10s.mpg"}));

}  // namespace
