// "Korvell MPEG-2 Video Encoder": uncompressed frames in on "Input", an
// MPEG-1 or MPEG-2 video elementary stream out on "Output", coded by the
// Vidova engine and configured through IModuleConfig.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/Transform.h"
#include "codec/videoencoder/CaptionPin.h"
#include "codec/videoencoder/VideoEncConfig.h"
#include "codec/videoencoder/VideoEncStreams.h"
#include "codec/videoencoder/VidovaBinding.h"

class Mpeg2EncFilter : public CTransformFilter,
                       public ISpecifyPropertyPages,
                       public VideoEncHost,
                       public vidcore::OutputSink {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    ~Mpeg2EncFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override;
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT BreakConnect(PIN_DIRECTION direction) override;
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;

    // VideoEncHost
    IUnknown* Owner() override { return GetOwner(); }
    bool InputConnected() override { return m_pInput && m_pInput->IsConnected(); }
    int DetectedFrameRateCode() override { return m_detectedCode; }
    void PictureAspect(int* x, int* y) override {
        *x = m_aspectX;
        *y = m_aspectY;
    }
    void Reconnect(bool input, bool output) override;

    // OutputSink: called by the engine's output inside PutFrame and Done.
    bool GetBuffer(uint8_t** data, uint32_t* size) override;
    void Deliver(uint8_t* data, uint32_t used, const int32_t times[4]) override;
    void Notify(uint32_t id, const void* data, uint32_t size) override;

private:
    Mpeg2EncFilter(LPUNKNOWN pUnk, HRESULT* phr);
    HRESULT EngineStart();
    // `final`: the run is over, so a second pass may delete its statistics.
    void EngineFinish(bool final);
    void FlushAndRestart();
    HRESULT TakeInputType(const CMediaType* mt);
    std::string StatsBasePath(bool* ok);
    vidcore::Record& Rec() { return m_settings.rec; }

    VideoEncSettings m_settings = {};
    ConfigVideoEncImpl m_config;
    vidova_handle m_engine = nullptr;
    bufstream* m_output = nullptr;
    bufstream* m_stats = nullptr;
    bool m_running = false;
    CCritSec m_engineLock;
    IMediaSample* m_held = nullptr;
    bool m_toFileWriter = false;
    static constexpr int kCaptionPinIndex = 2;
    Mpeg2EncCCPin* m_ccPin = nullptr;  // made on the first GetPin(2)
    uint64_t m_bytesOut = 0;
    int64_t m_inFrames = 0, m_outFrames = 0;
    int64_t m_nextStart = 0;
    DWORD m_startTick = 0, m_stopTick = 0;
    double m_outputRate = 25.0;
    int32_t m_width = 0, m_height = 0;
    uint32_t m_fourcc = 0;
    int32_t m_stride = 0, m_firstLineOffset = 0;
    int64_t m_frameBytes = 0;  // bytes one input picture needs
    int m_detectedCode = 3;
    int m_aspectX = 1, m_aspectY = 1;
    bool m_takingType = false;
};
