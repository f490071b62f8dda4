// The audio source dialog "Audio Test" of Zelbo.exe under the harness: the
// source list with "Korvell Audio Capture" and its preselected input, the
// answers that come with no test running, the sound test with the test
// sound and with silence (the level meter restarted each time), OK; and
// the driver start's failure text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "levelmeter/tests/MeterDriver.h"
#include "recorder/tests/ZelboDriver.h"

namespace {

using namespace zelbotest;
using metertest::Pump;
using metertest::PumpUntil;

constexpr int kAudioTestButton = 1041;
constexpr int kTonvikBox = 1073;
constexpr int kSources = 9;
constexpr int kInputs = 1031;
constexpr int kTest = 1057;
constexpr int kLog = 1059;

std::string Text(HWND dialog, int id) {
    char text[2048] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void Press(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

std::string Settings(const std::string& folder) {
    std::string s = GoldenSettings();
    auto set = [&s](const std::string& key, const std::string& value) {
        const std::size_t at = s.find(key + ":");
        const std::size_t end = s.find('\n', at);
        s.replace(at, end - at, key + ": " + value);
    };
    set("Recording Folder", folder);
    set("Audio Source", "Korvell Audio Capture");
    set("Audio Input", "");
    set("Audio Message", "0");
    return s;
}

// The sound test plays this file: silence while the meter takes its
// baseline, then the tone (or more silence).
void WriteTestSound(const std::string& folder, bool tone) {
    // The sound of a test that has its answer stops soon after.
    EXPECT_TRUE(PumpUntil(
        [&] {
            return metertest::WriteWav(folder + "\\AudioTest_2.wav", metertest::ToneSamples(6, 4, tone ? -10 : -200));
        },
        10000));
}

HWND MeterWindow() {
    return ::FindWindowA(nullptr, "Wavrel");
}

TEST(AudioTestDialog, ListsPreselectsAnswersAndTests) {
    const std::string folder = MakeProgramFolder();
    WriteFile(folder + "\\Settings.ini", Settings(folder));
    WriteTestSound(folder, true);
    Program program(folder);
    HWND panel = WaitForWindow("Zelbo", 30000);
    ASSERT_NE(nullptr, panel);
    HWND options = WaitForWindow("Vantor Settings", 10000);
    ASSERT_NE(nullptr, options);
    // The panel started its level meter.
    ASSERT_TRUE(PumpUntil([] { return MeterWindow() != nullptr; }, 25000));

    Press(options, kAudioTestButton);
    HWND dialog = WaitForWindow("Audio Test", 15000);
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(Text(dialog, kSources), "Korvell Audio Capture");
    EXPECT_EQ(Text(dialog, kInputs), "Stereo Mix") << "preselected: no input stored";

    // Answers with no test running change nothing: the meter's, and the
    // panel's own level handling, which decides on levels it is sent.
    const std::string intro = Text(dialog, kLog);
    ASSERT_NE(intro.find("Click the Test button to begin."), std::string::npos);
    ::SendMessageA(dialog, WM_USER + 2, 0, 0);
    ::SendMessageA(dialog, WM_USER + 1, 0, 0);
    const UINT levelUpdate = ::RegisterWindowMessageA("update Zelbo");
    for (int i = 0; i < 10; ++i) ::PostMessageA(panel, levelUpdate, 0, 0);
    for (int i = 0; i < 80; ++i) ::PostMessageA(panel, levelUpdate, 90, 90);
    Pump(1500);
    EXPECT_EQ(Text(dialog, kLog), intro);

    // Test with the tone in the test sound.
    const HWND panelMeter = MeterWindow();
    Press(dialog, kTest);
    ASSERT_TRUE(PumpUntil([&] { return Text(dialog, kLog).find("Recording OK") != std::string::npos; }, 45000))
        << Text(dialog, kLog);
    EXPECT_NE(MeterWindow(), panelMeter) << "the meter was started anew for the test";

    // A second test, with the sound muted, restarts the meter again.
    WriteTestSound(folder, false);
    const HWND firstTestMeter = MeterWindow();
    Press(dialog, kTest);
    ASSERT_TRUE(PumpUntil(
        [&] { return Text(dialog, kLog).find("not available or could not be detected") != std::string::npos; }, 45000))
        << Text(dialog, kLog);
    EXPECT_NE(MeterWindow(), firstTestMeter);

    // Choosing the input enables it through the line's mixer interface.
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kInputs, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kInputs)));
    EXPECT_EQ(AnswerMessageBox(program, IDOK, 2000), "(no message box)");

    Press(dialog, IDOK);
    EXPECT_TRUE(PumpUntil([] { return ::FindWindowA(nullptr, "Audio Test") == nullptr; }, 10000));
    const std::string saved = ReadFile(folder + "\\Settings.ini");
    EXPECT_NE(saved.find("Audio Input: Stereo Mix"), std::string::npos);
    EXPECT_NE(saved.find("Audio Output: Capture"), std::string::npos);
}

// The driver's failure names the program file it opens. Only off Vista:
// the prefix reports Windows XP to this run of the program.
TEST(AudioTestDialog, TonvikFailureNamesTonvik) {
    const char kAppKey[] = "Software\\Wine\\AppDefaults\\Zelbo.exe";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExA(HKEY_CURRENT_USER, kAppKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    const char xp[] = "winxp";
    EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(xp), sizeof xp));
    ::RegCloseKey(key);
    struct Restore {
        ~Restore() { ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\Zelbo.exe"); }
    } restore;

    const std::string folder = MakeProgramFolder();
    WriteFile(folder + "\\Settings.ini", Settings(folder));
    Program program(folder);
    HWND options = WaitForWindow("Vantor Settings", 30000);
    ASSERT_NE(nullptr, options);
    Press(options, kTonvikBox);
    EXPECT_NE(AnswerMessageBox(program, IDYES).find("Use this option only"), std::string::npos);
    EXPECT_EQ(AnswerMessageBox(program), "Cannot open program Tonvik.exe. Cannot run the sound test");
}

}  // namespace
