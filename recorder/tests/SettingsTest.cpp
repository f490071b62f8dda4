#include "recorder/core/Settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace recorder {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(SettingsFile, GoldenFileRoundTripsByteForByte) {
    const std::string golden = ReadFile(RECORDER_TEST_DATA "/Settings.ini");
    ASSERT_FALSE(golden.empty());
    Settings s;
    ParseSettingsFile(golden, s);
    EXPECT_EQ("C:\\Users\\tester\\Videos\\Zlb Recordings", s.recordingFolder);
    EXPECT_EQ(0, s.protocol);
    EXPECT_EQ("Line In (High Definition [Audio])", s.audioSource);
    EXPECT_EQ(4096, s.maxFileSize);
    EXPECT_EQ(-250, s.delay);
    EXPECT_EQ(1, s.videoMessage);
    EXPECT_EQ(0, s.vistaAudio);
    EXPECT_EQ(golden, FormatSettingsFile(s));
}

TEST(SettingsFile, DefaultsBeforeReadingAndLayout) {
    Settings s;
    EXPECT_EQ(1, s.protocol);
    const std::string text = FormatSettingsFile(s);
    EXPECT_EQ(0u, text.find("Vantor Settings -- Do not delete or alter\n" + std::string(53, '*') +
                            "\n"
                            "Recording Folder: \nProtocol: 1\n"));
    EXPECT_NE(std::string::npos, text.find("\nVistaAudio: 0\n" + std::string(53, '*') + "\n"));
    EXPECT_NE('\n', text.back());
}

TEST(SettingsFile, ReaderQuirks) {
    struct Case {
        const char* text;
        int Settings::*field;
        int expected;
    };
    const Case cases[] = {
        // The unterminated last line is ignored.
        {"VistaAudio: 0\nVistaAudio: 1", &Settings::vistaAudio, 0},
        // Keys are found anywhere in the line.
        {"xx Hide: 1\n", &Settings::hide, 1},
        {"Protocol: 2abc\n", &Settings::protocol, 2},
        {"Protocol: abc\n", &Settings::protocol, 0},
        {"Delay:   -40ms\n", &Settings::delay, -40},
        {"Delay: +7\n", &Settings::delay, 7},
        {"Delay: 99999999999999\n", &Settings::delay, 2147483647},
        {"Delay: -99999999999999\n", &Settings::delay, -2147483647 - 1},
        // The first key of the reading order decides a line with two keys.
        {"Hide: 5 Protocol: 3\n", &Settings::protocol, 3},
        {"no key here: 5\n", &Settings::protocol, 1},
    };
    for (const Case& c : cases) {
        Settings s;
        ParseSettingsFile(c.text, s);
        EXPECT_EQ(c.expected, s.*c.field) << c.text;
    }
}

TEST(SettingsFile, OverlongLineIsReadInPieces) {
    // The first 255 characters have no line feed and are dropped; the rest
    // of the line is a piece of its own and may still hold a key.
    Settings s;
    ParseSettingsFile("Audio Source: " + std::string(300, 'a') + "\n", s);
    EXPECT_EQ("", s.audioSource);
    ParseSettingsFile(std::string(250, 'x') + "Hide: 1\n", s);
    EXPECT_EQ(0, s.hide);
    ParseSettingsFile(std::string(255, 'x') + "Hide: 1\n", s);
    EXPECT_EQ(1, s.hide);
    // CR LF line ends read like LF ones.
    ParseSettingsFile("Recording Folder: D:\\Rec\r\nHide: 0\r\n", s);
    EXPECT_EQ("D:\\Rec", s.recordingFolder);
    EXPECT_EQ(0, s.hide);
    // A text value keeps its blanks and brackets unchanged.
    ParseSettingsFile("Audio Source:  Mic [USB] (2) \n", s);
    EXPECT_EQ(" Mic [USB] (2) ", s.audioSource);
}

// Text values survive any number of saves and loads unchanged, carriage
// returns included.
TEST(SettingsFile, TextValuesRoundTripWithCarriageReturns) {
    const std::string values[] = {"abc\r", "\r", "a\rb", "x\r\r", "plain"};
    for (const std::string& value : values) {
        Settings s;
        s.audioSource = value;
        s.recordingFolder = "D:\\Rec" + value;
        for (int round = 0; round < 3; ++round) {
            Settings read;
            ParseSettingsFile(FormatSettingsFile(s), read);
            s = read;
        }
        EXPECT_EQ(value, s.audioSource);
        EXPECT_EQ("D:\\Rec" + value, s.recordingFolder);
    }
}

TEST(SettingsFile, ByteLimitIsSixtyFourBit) {
    Settings s;
    s.maxFileSize = 4096;
    EXPECT_EQ(4096ull * 1048576ull, s.MaxFileBytes());
    s.maxFileSize = -1;
    EXPECT_EQ(0u, s.MaxFileBytes());
}

}  // namespace
}  // namespace recorder
