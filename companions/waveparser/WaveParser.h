// "Wave Parser" stand-in: reads a RIFF/WAVE stream from an IAsyncReader
// upstream ("input pin") and pushes its PCM on "output" in twentieths of a
// second. A live stream (one whose reader keeps growing) is joined at its
// newest sound when the graph runs, so its sound starts with the pictures.
#pragma once

#include <atomic>
#include <thread>

#include "companions/waveparser/WaveHeader.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/BaseClasses.h"

// {0A5C3E17-8B24-4D6F-B1E9-47C2D8A3F610}
DEFINE_GUID(CLSID_KorvellWaveParser, 0x0a5c3e17, 0x8b24, 0x4d6f, 0xb1, 0xe9, 0x47, 0xc2, 0xd8, 0xa3, 0xf6, 0x10);

class CWaveParser;

class CWaveInputPin : public CBasePin {
public:
    CWaveInputPin(CWaveParser* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT CompleteConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }

private:
    CWaveParser* parser_;
};

class CWaveOutputPin : public CBaseOutputPin {
public:
    CWaveOutputPin(CWaveParser* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

private:
    CWaveParser* parser_;
};

class CWaveParser : public CBaseFilter {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);
    ~CWaveParser() override;

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;

private:
    friend class CWaveInputPin;
    friend class CWaveOutputPin;
    CWaveParser(LPUNKNOWN outer, HRESULT* phr);
    HRESULT ReadHeader();
    void Stream();
    long BlockBytes() const;

    CCritSec lock_;
    CWaveInputPin input_;
    CWaveOutputPin output_;
    com::ComPtr<IAsyncReader> reader_;
    waveparser::PcmFormat format_;
    LONGLONG dataOffset_ = 0;
    bool haveFormat_ = false;
    std::thread streamer_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
};

EXTERN_C const AMOVIESETUP_FILTER kWaveParserSetup;
