// "Korvell Audio Capture": a live source of 16-bit PCM from the default wave
// input device, on the output pin "Capture". The platform's own audio
// capture filter has no pins under Wine; this one records through waveIn.
#pragma once

#include "companions/wavecap/CaptureTimeline.h"
#include "companions/wavecap/MixerLinePin.h"
#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/LiveStreamControl.h"
#include "platform/dshow/Source.h"

#include <mmsystem.h>

#include <vector>

// {8F3C2B6A-1D4E-4F70-A5B9-C6D7E8F90A1B}
extern "C" const CLSID CLSID_KorvellAudioCapture;

class WaveCaptureSource;

// The pin takes IAMStreamControl::StopAt, so a recorder can end the stream
// before it stops the graph.
class WaveCaptureStream : public CLiveSourceStream {
public:
    WaveCaptureStream(WaveCaptureSource* filter, HRESULT* phr);
    ~WaveCaptureStream() override;

    HRESULT GetMediaType(CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT OnThreadStartPlay() override;
    HRESULT DoBufferProcessingLoop() override;
    // The device opens with the connection, so that it has settled by the
    // time the graph runs (a wave-input device that starts with the run
    // hands over its first sound only after a second or more under Wine).
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT BreakConnect() override;

private:
    HRESULT OpenDevice();
    // Hands every buffer back to the device, emptied, and starts it.
    HRESULT RestartDevice();
    void CloseDevice();
    // Stream time now; false when the graph has no clock.
    bool StreamNow(REFERENCE_TIME* now);
    // Sends `frames` frames, from `data` or silence when null.
    HRESULT Send(const BYTE* data, uint32_t frames);

    WaveCaptureSource* m_source;
    WAVEFORMATEX m_format{};
    HWAVEIN m_device = nullptr;
    HANDLE m_filled = nullptr;
    std::vector<std::vector<BYTE>> m_blocks;
    std::vector<WAVEHDR> m_headers;
    size_t m_next = 0;  // header to wait for
    wavecap::CaptureTimeline m_timeline;
    REFERENCE_TIME m_countedTime = 0;  // without a clock: the time of the frames counted
};

class WaveCaptureSource : public CSource {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    bool IsRunning() { return m_State == State_Running; }
    IReferenceClock* Clock() { return m_pClock; }
    REFERENCE_TIME StartTime() const { return m_tStart; }

    // The output pin "Capture", then the input line "Stereo Mix".
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

private:
    WaveCaptureSource(LPUNKNOWN pUnk, HRESULT* phr);

    MixerLinePin m_line;
};
