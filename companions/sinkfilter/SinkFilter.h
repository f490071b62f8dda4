// "Korvell Sink Filter": a file writer that stores every sample it receives in
// arrival order, ignoring sample times. The file is opened (truncated) when
// the filter leaves Stopped and flushed and closed at Stop and at end of
// stream. A failed open or write goes to the graph as EC_ERRORABORT; the
// failing call returns the error and every later sample is refused with it.
#pragma once

#include <string>

#include "platform/dshow/BaseClasses.h"
#include "companions/sinkfilter/KorvellSinkIds.h"
#include "companions/sinkfilter/SinkConfig.h"

class CKorvellSink;

class CSinkInputPin : public CWriterInputPin {
public:
    CSinkInputPin(CKorvellSink* pFilter, CCritSec* pLock, HRESULT* phr);

    // Any byte stream is stored as it comes, so every type is taken.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
};

class CKorvellSink : public CBaseFilter, public IFileSinkFilter, public IAMFilterMiscFlags, public CWriterTarget {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    ~CKorvellSink() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;

    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

    // IAMFilterMiscFlags: a renderer, so the graph waits for its EC_COMPLETE.
    STDMETHODIMP_(ULONG) GetMiscFlags() override;

private:
    friend class CSinkInputPin;

    CKorvellSink(LPUNKNOWN pUnk, HRESULT* phr);

    // Streaming side, called by the input pin.
    HRESULT WriteSample(IMediaSample* pSample) override;
    HRESULT WriteAll(IMediaSample* pSample);
    HRESULT EndOfStreamReached() override;
    CCritSec* ReceiveLock() override { return &m_receiveLock; }

    // Opens the target (truncating); fails when no name is set.
    HRESULT OpenTarget();

    // Flushes and closes the target; the flush result (S_OK when none open).
    HRESULT CloseTarget();
    // Sends EC_ERRORABORT once per run for the failure m_failure holds (or
    // else the warning m_diskLow holds), when running (else Run sends it) or
    // stopping.
    void ReportFailure(bool stopping = false);
    // Looks at the free space of the target's disk every kFreeSpaceStep bytes
    // (at once with `force`); sets m_diskLow when it fell below the reserve.
    void CheckFreeSpace(DWORD written, bool force);

    CCritSec m_filterLock;   // state changes, connection, file name
    CCritSec m_receiveLock;  // the target file and the streaming flags
    CSinkInputPin* m_pPin;
    std::wstring m_fileName;
    CMediaType m_fileType;
    bool m_hasFileType;

    // Guarded by m_receiveLock.
    HANDLE m_hFile;
    HRESULT m_failure;  // first failure of this run; later samples get it too
    // The disk is nearly full: reported as a full disk so that the host ends
    // the recording, while the reserve still takes the stream's end, which
    // a write cut by the disk itself would lose (with the picture it cut).
    HRESULT m_diskLow;
    std::wstring m_targetFolder;  // where free space is looked up
    DWORD m_sinceFreeSpaceCheck;
    bool m_endOfStream;
    bool m_failureReported;
    // End of stream came before Run: EC_COMPLETE waits for Run, as the graph
    // counts completions of running renderers only.
    bool m_completePending;

    // IModuleConfig: replace or append on the next open.
    SinkConfig m_config;
};
