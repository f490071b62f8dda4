// Pause and resume through the control program: 3 s recorded, a pause of
// 2 s, 3 s more, into one file, kept for check_pause.sh (one rising
// timeline without the pause in it, no decoding error, a seek into the
// second part lands there). "Max File Time" counts the recorded time of
// the whole recording, not only the part after the last resume.
#include "tests/e2e/RecordingFixture.h"

namespace {

using namespace e2e;

constexpr int kFps = 25;
constexpr POINT kRecord = {30, 130};
constexpr POINT kPausePlay = {100, 130};

class PauseResume : public ::testing::Test {
protected:
    void SetUp() override {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        WriteRegion(100, 100, 420, 340, kFps);
    }
    void TearDown() override { ::CoUninitialize(); }

    // Starts the program with its settings and presses Record; the file's
    // first bytes show that the graph runs.
    void Start(int maxFileTime) {
        WriteFile(folder_ + "\\Settings.ini", Settings(folder_, kFps, maxFileTime));
        program_ = new Program(folder_);
        panel_ = WaitForWindow("Zelbo", 30000);
        ASSERT_TRUE(panel_);
        for (int i = 0; i < 100 && !::FindWindowA(nullptr, "Vantor Settings"); ++i) Hold(window_, 100);
        Hold(window_, 500);
        Press(kRecord);
        ASSERT_TRUE(WaitForGrowth(0)) << "no recording appeared: " << AnswerMessageBox(*program_, IDOK, 100);
    }
    void Press(POINT p) { Click(panel_, p.x, p.y); }
    // True once the recording is larger than `size`.
    bool WaitForGrowth(std::uint64_t size) {
        for (int i = 0; i < 400 && FileSize(FindRecording(folder_)) <= size; ++i) Hold(window_, 50);
        return FileSize(FindRecording(folder_)) > size;
    }
    void Exit() {
        Click(panel_, 315, 15);
        DWORD code = 1;
        EXPECT_TRUE(program_->Exited(15000, code));
        delete program_;
        program_ = nullptr;
    }

    Backdrop window_{100, 100, 320, 240};
    std::string folder_ = MakeProgramFolder();
    Program* program_ = nullptr;
    HWND panel_ = nullptr;
};

TEST_F(PauseResume, TwoSegmentsMakeOneFile) {
    Start(0);
    Hold(window_, 3000);
    Press(kPausePlay);
    Hold(window_, 2000);
    const std::uint64_t paused = FileSize(FindRecording(folder_));
    window_.Flash();  // the second segment is white
    Press(kPausePlay);
    ASSERT_TRUE(WaitForGrowth(paused)) << "the resumed recording does not grow";
    Hold(window_, 3000);
    Press(kRecord);
    const std::string stopped = AnswerMessageBox(*program_);
    EXPECT_EQ(0u, stopped.find("Recording Stopped: ")) << stopped;
    Exit();
    const std::string out = FromUnix(KORVELL_E2E_OUT);
    ::CreateDirectoryA(out.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(FindRecording(folder_).c_str(), (out + "\\pause.mpg").c_str(), FALSE));
}

TEST_F(PauseResume, MaxFileTimeCountsTheWholeRecording) {
    Start(8);
    Hold(window_, 6000);
    Press(kPausePlay);
    Hold(window_, 1500);
    // Over 6 s are recorded (counted from the press of Record): the limit
    // ends the recording on the first tick after the resumed graph runs,
    // not 8 s after the resume. The stop itself takes a few seconds.
    const DWORD resumed = ::GetTickCount();
    Press(kPausePlay);
    const std::string stopped = AnswerMessageBox(*program_, IDOK, 30000);
    const DWORD elapsed = ::GetTickCount() - resumed;
    EXPECT_EQ(0u, stopped.find("Recording Stopped: ")) << stopped;
    EXPECT_EQ("Recording Stopped. File time exceeded", AnswerMessageBox(*program_));
    EXPECT_LT(elapsed, 9000u);
    Exit();
}

}  // namespace
