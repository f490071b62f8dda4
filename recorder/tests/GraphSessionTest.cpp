// The capture graph of the control program with every registered filter of
// the recording and a generated tone as its audio source (the platform's
// audio capture under Wine offers no pins): the audio branch, the
// multiplexer's two inputs and the file writer. The file is kept for the
// ffprobe checks of check_recording.sh.
#include <windows.h>

#include <dshow.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/GraphHelpers.h"
#include "recorder/app/GraphSession.h"
#include "recorder/app/Program.h"
#include "recorder/app/SettingsStore.h"
#include "recorder/shared/WmvSetup.h"
#include "tests/support/TestFilters.h"

namespace {

// Messages are collected instead of shown; the tone replaces the device.
class TestSession : public zelbo::GraphSession {
public:
    std::vector<std::string> messages;
    IBaseFilter* tone = nullptr;

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AddFilter(recorder::GraphFilter filter, const std::string& name) override {
        if (filter != recorder::GraphFilter::AudioSource) return GraphSession::AddFilter(filter, name);
        return AdoptFilter(filter, tone, name);
    }
};

std::string MissingFilters() {
    const wchar_t* filters[] = {L"Korvell MPEG-2 Video Encoder", L"Korvell MPEG Muxteron", L"Korvell Chronel",
                                L"Korvell Sink Filter", L"Korvell Layer II Audio Encoder"};
    std::string missing;
    graphtest::ComPtr<IBaseFilter> filter;
    for (const wchar_t* name : filters)
        if (FAILED(graphtest::FindFilterByFriendlyName(graphtest::kLegacyFilterCategory, name, filter.Put())))
            missing += " \"" + zelbo::Narrow(name) + "\"";
    if (FAILED(graphtest::FindFilterByFriendlyName(CLSID_VideoInputDeviceCategory, L"UScreenCapture", filter.Put())))
        missing += " \"UScreenCapture\"";
    return missing;
}

// A recording's name in the temporary folder, of this process, not there yet.
std::string FreshTarget(const char* extension) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string target = std::string(temp) + "zelbo_graph_" + std::to_string(::GetCurrentProcessId()) + extension;
    ::DeleteFileA(target.c_str());
    return target;
}

// Moves a recording to the artefacts that the checks beside this test read.
void KeepArtefact(const std::string& target, const char* name) {
    std::string windows = "Z:" + std::string(ARTEFACT_DIR);
    for (char& c : windows)
        if (c == '/') c = '\\';
    ::CreateDirectoryA(windows.c_str(), nullptr);
    EXPECT_TRUE(::CopyFileA(target.c_str(), (windows + "\\" + name).c_str(), FALSE));
    ::DeleteFileA(target.c_str());
}

TEST(GraphSession, MpegGraphWithAToneRecordsBothStreams) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A filter that is not registered is a fault of the installation.
    const std::string missing = MissingFilters();
    if (!missing.empty()) {
        ::CoUninitialize();
        FAIL() << "cannot record, not registered:" << missing;
    }
    ASSERT_TRUE(zelbo::EnsureSourceRegistryKey());

    recorder::Settings settings;
    settings.protocol = 0;
    settings.videoBitrate = 4000;
    settings.audioBitrate = 256;  // the encoder's own default is 128
    settings.frameRate = 25;
    settings.audioSource = "Tone";
    settings.audioOutput = "Output";
    recorder::Region region{100, 100, 740, 580, 25};
    const std::string target = FreshTarget(".mpg");
    zelbo::WriteSourceRegion(region);

    {
        TestSession session;
        auto* tone = new testfilters::PcmSourceFilter({44100, 2, 16, 6.0, 40});
        tone->NonDelegatingAddRef();
        session.tone = tone;
        ASSERT_EQ(S_OK, session.CreateFilterGraph(nullptr));
        ASSERT_TRUE(recorder::StartCaptureGraph(session, settings, target, region))
            << (session.messages.empty() ? "" : session.messages.front());
        EXPECT_TRUE(session.messages.empty());
        session.Wait(5000);
        session.StopCaptureGraph(nullptr);
        session.ReleaseGraphFilters();
        session.ReleaseGraph();
        tone->NonDelegatingRelease();
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(::GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 10000u);
    KeepArtefact(target, "zelbo_graph_tone.mpg");
    ::CoUninitialize();
}

// The WMV graph through the stand-in WM ASF Writer: a 48 kHz tone through
// "ACM Wrapper" and the screen into one ASF file; the Windows Media writer
// goes with the recording.
TEST(GraphSession, WmvGraphWithAToneRecordsBothStreams) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(zelbo::EnsureSourceRegistryKey());
    zelbo::StoreProgramFolder();

    recorder::Settings settings;
    settings.protocol = 1;
    settings.videoBitrate = 1000;
    settings.audioBitrate = 128;
    settings.frameRate = 15;
    settings.audioSource = "Tone";
    settings.audioOutput = "Output";
    recorder::Region region{100, 100, 420, 340, 15};
    const std::string target = FreshTarget(".wmv");
    zelbo::WriteSourceRegion(region);

    {
        TestSession session;
        auto* tone = new testfilters::PcmSourceFilter({48000, 2, 16, 6.0, 40});
        tone->NonDelegatingAddRef();
        session.tone = tone;
        ASSERT_EQ(S_OK, session.CreateFilterGraph(nullptr));
        ASSERT_TRUE(recorder::StartCaptureGraph(session, settings, target, region))
            << (session.messages.empty() ? "" : session.messages.front());
        EXPECT_TRUE(session.messages.empty());
        EXPECT_TRUE(capture::HoldsWmWriter());
        session.Wait(5000);
        session.StopCaptureGraph(nullptr);
        EXPECT_FALSE(capture::HoldsWmWriter()) << "the Windows Media writer outlived its recording";
        EXPECT_EQ(nullptr, capture::HeldProfile());
        session.ReleaseGraphFilters();
        session.ReleaseGraph();
        tone->NonDelegatingRelease();
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(::GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 100000u);
    KeepArtefact(target, "zelbo_graph_tone.wmv");
    ::CoUninitialize();
}

TEST(GraphSession, AudioTestGraphStoresTheSourcesOutputPin) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    graphtest::ComPtr<IBaseFilter> dest;
    if (FAILED(graphtest::FindFilterByFriendlyName(graphtest::kLegacyFilterCategory, L"WAV Dest", dest.Put()))) {
        ::CoUninitialize();
        FAIL() << "\"WAV Dest\" is not registered";
    }
    dest.Reset();
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string settingsFile =
        std::string(temp) + "zelbo_graph_settings_" + std::to_string(::GetCurrentProcessId()) + ".ini";
    zelbo::SetSettingsPath(settingsFile);
    recorder::Settings& settings = zelbo::TheSettings();
    settings.recordingFolder = temp;
    settings.audioSource = "Tone";
    settings.audioOutput = "Capture";  // what another device called its pin

    {
        TestSession session;
        auto* tone = new testfilters::PcmSourceFilter({44100, 2, 16, 1.0, 40});
        tone->NonDelegatingAddRef();
        session.tone = tone;
        ASSERT_EQ(S_OK, session.CreateFilterGraph(nullptr));
        ASSERT_TRUE(session.BuildAudioTestGraph()) << (session.messages.empty() ? "" : session.messages.front());
        EXPECT_EQ("Output", settings.audioOutput);
        graphtest::ComPtr<IPin> in;
        ASSERT_EQ(S_OK, graphtest::FindPinByName(session.Filter(recorder::GraphFilter::WavDest), PINDIR_INPUT, L"In",
                                                 in.Put()));
        graphtest::ComPtr<IPin> peer;
        EXPECT_EQ(S_OK, in->ConnectedTo(peer.Put()));
        session.ReleaseGraphFilters();
        session.ReleaseGraph();
        tone->NonDelegatingRelease();
    }
    // The pin name was written to the settings file.
    std::string text;
    if (FILE* f = std::fopen(settingsFile.c_str(), "rb")) {
        char buffer[4096];
        text.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    EXPECT_NE(std::string::npos, text.find("\nAudio Output: Output\n")) << text;
    ::DeleteFileA(settingsFile.c_str());
    ::CoUninitialize();
}

}  // namespace
