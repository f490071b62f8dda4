// A push source: each output pin runs its own thread that fills buffers
// and delivers them.
#pragma once

#include "platform/dshow/Allocator.h"
#include "platform/dshow/Filter.h"

class CSourceStream;

class AM_NOVTABLE CSource : public CBaseFilter {
public:
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr);
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid);
    CSource(LPCSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr);
    CSource(LPCSTR pName, LPUNKNOWN lpunk, CLSID clsid);
    // Deletes the remaining pins.
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    CCritSec* pStateLock() { return &m_cStateLock; }

    // Pins add and remove themselves in their constructor and destructor.
    HRESULT AddPin(CSourceStream* pStream);
    HRESULT RemovePin(CSourceStream* pStream);
    STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
    int FindPinNumber(IPin* iPin);

protected:
    int m_iPins;
    CSourceStream** m_paStreams;
    CCritSec m_cStateLock;
};

class AM_NOVTABLE CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
    CSourceStream(LPCSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
    ~CSourceStream() override;

protected:
    CSource* m_pFilter;

    // Fill one buffer: S_OK delivers it, S_FALSE ends the stream, an error
    // ends it and reports EC_ERRORABORT.
    virtual HRESULT FillBuffer(IMediaSample* pSamp) = 0;
    virtual HRESULT OnThreadCreate() { return NOERROR; }
    virtual HRESULT OnThreadDestroy() { return NOERROR; }
    virtual HRESULT OnThreadStartPlay() { return NOERROR; }

    // Starts the thread on Active and ends it on Inactive (after the
    // allocator is decommitted, so a wait for a buffer ends first).
    HRESULT Active() override;
    HRESULT Inactive() override;

public:
    enum Command { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }

protected:
    Command GetRequest() { return static_cast<Command>(CAMThread::GetRequest()); }
    BOOL CheckRequest(Command* pCom) {
        DWORD d;
        BOOL b = CAMThread::CheckRequest(&d);
        if (b && pCom) *pCom = static_cast<Command>(d);
        return b;
    }

    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    // For pins with a single type.
    virtual HRESULT GetMediaType(CMediaType* pMediaType);

    DWORD ThreadProc() override;
    virtual HRESULT DoBufferProcessingLoop();
    // Answers a command that reached the streaming loop; false once it is a
    // stop, which ends the loop.
    bool AnswerLoopCommand(Command com);

public:
    STDMETHODIMP QueryId(LPWSTR* Id) override;
};
