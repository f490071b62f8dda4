// "Korvell Layer II Audio Encoder": 16-bit PCM in, MPEG audio Layer I or II
// out through the Audova engine (or the PCM as DVD LPCM when downstream asks).
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/Transform.h"
#include "codec/audioencoder/AudioEncConfig.h"
#include "codec/audioencoder/OutputRecord.h"
#include "codec/audioencoder/TimestampQueue.h"

class AudioEncFilter : public CTransformFilter, public ISpecifyPropertyPages, public OutputSink, public AudioEncHost {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    ~AudioEncFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // The engine's output record calls these inside Encode and Done.
    HRESULT GetBuffer(BYTE** buffer, long* size, REFERENCE_TIME start) override;
    HRESULT Deliver(BYTE* buffer, long used, REFERENCE_TIME start, REFERENCE_TIME stop) override;

    // Calls of the configuration.
    bool IsStreaming() const override { return m_streaming; }
    void OnSettingsApplied(bool reconnect) override;

    const AudovaSettings& Settings() const { return m_settings; }

private:
    AudioEncFilter(LPUNKNOWN pUnk, HRESULT* phr);
    HRESULT EngineStart();
    // Bytes per input frame and the time-stamp queue for the input format.
    void StartTimes();
    void EngineStop(bool abort);
    HRESULT EngineRestart();
    HRESULT ReconnectOutput(const CMediaType& mt);
    HRESULT DeliverPassthrough(const BYTE* p, long n, IMediaSample* in);
    HRESULT TakeInputFormat(const WAVEFORMATEX* wfx);
    long OutSampleSize() const { return m_settings.buffer_size > 0 ? m_settings.buffer_size : 40960; }

    AudovaSettings m_settings = {};
    ConfigAudioEncImpl m_config;
    WAVEFORMATEX m_inputFormat = {};
    int m_samplesPerFrame = 1152;
    int m_bytesPerInputFrame = 4;
    bool m_passthrough = false;
    bool m_flushing = false;
    bool m_idle = true;
    bool m_streaming = false;
    AudovaHandle m_engine = nullptr;
    bufstream* m_record = nullptr;
    bool m_running = false;
    IMediaSample* m_heldSample = nullptr;
    audioenc::TimestampQueue m_times;
};
