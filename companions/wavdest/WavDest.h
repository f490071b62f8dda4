// "WAV Dest": a renderer that stores the PCM it receives as a WAV file. The
// target is named through IFileSinkFilter; without a name the sound is
// taken and dropped (the audio test only needs a running capture). The file
// is opened (truncated) when the filter leaves Stopped, its header written
// with the connection's format, and the RIFF and data sizes filled in at
// Stop and at end of stream.
#pragma once

#include <string>

#include "platform/dshow/BaseClasses.h"

// {209F757A-1F60-4968-AE77-40D94CBA0847}
DEFINE_GUID(CLSID_WavDest, 0x209f757a, 0x1f60, 0x4968, 0xae, 0x77, 0x40, 0xd9, 0x4c, 0xba, 0x08, 0x47);

class CWavDest;

class CWavDestInputPin : public CWriterInputPin {
public:
    CWavDestInputPin(CWavDest* pFilter, CCritSec* pLock, HRESULT* phr);

    // Audio with a WAVEFORMATEX of integer PCM or float samples.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
};

class CWavDest : public CBaseFilter, public IFileSinkFilter, public IAMFilterMiscFlags, public CWriterTarget {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    ~CWavDest() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;

    STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

    STDMETHODIMP_(ULONG) GetMiscFlags() override;

private:
    friend class CWavDestInputPin;
    CWavDest(LPUNKNOWN pUnk, HRESULT* phr);

    HRESULT WriteSample(IMediaSample* pSample) override;
    HRESULT EndOfStreamReached() override;
    CCritSec* ReceiveLock() override { return &m_receiveLock; }
    HRESULT OpenTarget();   // with m_receiveLock held
    HRESULT CloseTarget();  // with m_receiveLock held; fills in the sizes

    CCritSec m_filterLock;
    CCritSec m_receiveLock;
    CWavDestInputPin* m_pPin;
    std::wstring m_fileName;

    // Guarded by m_receiveLock.
    HANDLE m_hFile;
    DWORD m_dataOffset;  // where the samples begin
    unsigned long long m_dataBytes;
    bool m_endOfStream;
    bool m_completePending;
};
