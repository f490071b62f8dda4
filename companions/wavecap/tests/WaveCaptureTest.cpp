// "Korvell Audio Capture" records what plays into the sound server: a tone
// played through wave output comes back on its "Capture" pin with true times.
#include <gtest/gtest.h>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "tests/support/GraphHelpers.h"

#include <mmsystem.h>

#include <cmath>
#include <cstdint>

using namespace graphtest;
using namespace testfilters;

namespace {

// Plays a 1 kHz tone on the default wave output for the given seconds.
class TonePlayer {
public:
    explicit TonePlayer(double seconds) : pcm_(static_cast<size_t>(seconds * 48000) * 2) {
        for (size_t i = 0; i < pcm_.size() / 2; ++i) {
            auto v =
                static_cast<int16_t>(12000 * std::sin(2 * 3.14159265358979 * 1000 * static_cast<double>(i) / 48000));
            pcm_[2 * i] = pcm_[2 * i + 1] = v;
        }
        WAVEFORMATEX f = {WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};
        if (waveOutOpen(&out_, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) out_ = nullptr;
        if (!out_) return;
        header_.lpData = reinterpret_cast<LPSTR>(pcm_.data());
        header_.dwBufferLength = static_cast<DWORD>(pcm_.size() * 2);
        waveOutPrepareHeader(out_, &header_, sizeof header_);
        waveOutWrite(out_, &header_, sizeof header_);
    }
    ~TonePlayer() {
        if (!out_) return;
        waveOutReset(out_);
        waveOutUnprepareHeader(out_, &header_, sizeof header_);
        waveOutClose(out_);
    }
    bool Playing() const { return out_ != nullptr; }

private:
    std::vector<int16_t> pcm_;
    HWAVEOUT out_ = nullptr;
    WAVEHDR header_ = {};
};

TEST(WaveCapture, RecordsTheToneThatPlays) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph.PutVoid()));
        ComPtr<IMediaControl> control;
        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, control.PutVoid()));
        ComPtr<IBaseFilter> capture;
        ASSERT_EQ(S_OK,
                  FindFilterByFriendlyName(CLSID_AudioInputDeviceCategory, L"Korvell Audio Capture", capture.Put()))
            << "KorvellAudioCapture.ax not registered";
        RecorderFilter* recorder = new RecorderFilter;
        recorder->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph->AddFilter(capture.Get(), L"Korvell Audio Capture"));
        ASSERT_EQ(S_OK, graph->AddFilter(recorder, L"Recorder"));
        ComPtr<IPin> out;
        ASSERT_EQ(S_OK, FindPinByName(capture.Get(), PINDIR_OUTPUT, L"Capture", out.Put()));
        ASSERT_EQ(S_OK, graph->ConnectDirect(out.Get(), &recorder->Pin(), nullptr));
        // The device opens with the connection; as in the recorder, it has a
        // moment to settle before the graph runs (a device that has just
        // opened hands over its first sound late, and the time before it
        // becomes silence).
        Sleep(1500);

        TonePlayer tone(8.0);
        ASSERT_TRUE(tone.Playing());
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        Sleep(5000);
        control->Stop();
        std::vector<SeenSample> seen = recorder->Pin().Seen();
        ASSERT_GT(seen.size(), 20u);
        REFERENCE_TIME expected = 0;
        std::vector<int16_t> left;
        for (const SeenSample& s : seen) {
            ASSERT_TRUE(s.timed);
            EXPECT_EQ(expected, s.start);
            expected = s.stop;
            for (size_t i = 0; i + 3 < s.bytes.size(); i += 4)
                left.push_back(static_cast<int16_t>(s.bytes[i] | (s.bytes[i + 1] << 8)));
        }
        // Up to 5 s of sound (the sound server starts with some latency), with
        // the tone's 2000 zero crossings a second.
        const double captured = static_cast<double>(left.size()) / 48000;
        EXPECT_GT(captured, 2.0);
        EXPECT_LT(captured, 5.5);
        size_t crossings = 0;
        double energy = 0;
        for (size_t i = 1; i < left.size(); ++i) {
            if ((left[i - 1] < 0) != (left[i] < 0)) ++crossings;
            energy += static_cast<double>(left[i]) * left[i];
        }
        double seconds = static_cast<double>(left.size()) / 48000;
        EXPECT_GT(std::sqrt(energy / static_cast<double>(left.size())), 1000.0) << "silence captured";
        EXPECT_NEAR(2000.0, static_cast<double>(crossings) / seconds, 300.0);
        graph->RemoveFilter(recorder);
        recorder->NonDelegatingRelease();
    }
    CoUninitialize();
}

}  // namespace
