// The update check against a stand-in server on this machine (started around
// the test on a port of its own, see update_server.py): the quiet check on the tenth tick finds a
// newer version; the settings dialog's button finds none and says so; a
// silent server and one that never stops talking are given up after the
// time limit, which this test shortens.
#include <windows.h>

#include <gtest/gtest.h>

#include "recorder/tests/ZelboDriver.h"

#include <sstream>
#include <string>

namespace {

using namespace zelbotest;

const int kUpdateButton = 1047;
const DWORD kLimitMs = 3000;

std::string ExpectedRequestHex() {
    const std::string request =
        "GET /VersionZelbo.txt HTTP/1.1\r\nAccept: */*\r\nUser-Agent: Pexmor\r\nHost: 127.0.0.1\r\n"
        "Connection: Close\r\n\r\n";
    std::string hex;
    char byte[3];
    for (unsigned char c : request) {
        std::snprintf(byte, sizeof byte, "%02x", c);
        hex += byte;
    }
    return hex;
}

// Waits for a line of the server's log that starts with `prefix`.
std::string WaitForLog(const std::string& prefix, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 200) {
        std::istringstream lines(ReadFile(FromUnix(UPDATE_SERVER_LOG)));
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind(prefix, 0) == 0) return line;
        ::Sleep(200);
    }
    return "(no '" + prefix + "' in the server's log)";
}

double SecondsIn(const std::string& line) {
    const std::size_t after = line.find("after ");
    return after == std::string::npos ? -1 : std::atof(line.c_str() + after + 6);
}

TEST(ZelboUpdate, AsksTellsAndGivesUp) {
    ASSERT_EQ("listening", WaitForLog("listening", 1000));
    ::SetEnvironmentVariableA("ZELBO_UPDATE_LIMIT_MS", std::to_string(kLimitMs).c_str());
    ::SetEnvironmentVariableA("ZELBO_UPDATE_PORT", UPDATE_SERVER_PORT);
    const std::string folder = MakeProgramFolder();
    WriteFile(folder + "\\Settings.ini", GoldenSettings());
    Program program(folder);
    ASSERT_NE(nullptr, WaitForWindow("Zelbo", 30000));

    // The quiet check on the tenth tick: a newer version is always told.
    EXPECT_EQ("New version available 3.1 - 01.01.09.\n\nWould you like to download the new version now?",
              AnswerMessageBox(program, IDNO, 30000));
    EXPECT_EQ("request " + ExpectedRequestHex(), WaitForLog("request", 1000));

    HWND settings = WaitForWindow("Vantor Settings", 5000);
    ASSERT_NE(nullptr, settings);
    auto press = [settings] {
        ::PostMessageA(settings, WM_COMMAND, MAKEWPARAM(kUpdateButton, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(settings, kUpdateButton)));
    };
    // Asked by the user: "no updates" is told too.
    press();
    EXPECT_EQ(" No updates are currently posted. Current version is 3.0 - 08.07.08",
              AnswerMessageBox(program, IDOK, 20000));

    // A server that takes the request and stays silent, then one that never
    // stops talking: each is left after the limit, without a message.
    for (const char* behaviour : {"silent", "chatty"}) {
        press();
        const std::string closed = WaitForLog(std::string(behaviour) + " closed", kLimitMs + 20000);
        const double seconds = SecondsIn(closed);
        EXPECT_GE(seconds, kLimitMs / 1000.0 - 0.5) << closed;
        EXPECT_LE(seconds, kLimitMs / 1000.0 + 3.0) << closed;
    }
    EXPECT_EQ("(no message box)", AnswerMessageBox(program, IDOK, 1000));
    EXPECT_EQ("done", WaitForLog("done", 5000));
}

}  // namespace
