// "Korvell HTTP Source": the source filter of the http protocol. Load
// sends the GET request; a reader thread keeps the reply's body, which the
// output pin "Output" offers through IAsyncReader.
#pragma once

#include <winsock2.h>

#include <deque>
#include <string>
#include <thread>

#include "companions/httpsource/HttpBody.h"
#include "companions/httpsource/HttpSourceIds.h"
#include "platform/dshow/BaseClasses.h"

class CHttpSource;

class CHttpOutputPin : public CBasePin, public IAsyncReader {
public:
    CHttpOutputPin(CHttpSource* filter, CCritSec* lock, HRESULT* phr);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    // IAsyncReader's flush (an output pin gets no IPin flush): waiting
    // reads return at once meanwhile.
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    // IAsyncReader
    STDMETHODIMP RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                  IMemAllocator** actual) override;
    STDMETHODIMP Request(IMediaSample* sample, DWORD_PTR user) override;
    STDMETHODIMP WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) override;
    STDMETHODIMP SyncReadAligned(IMediaSample* sample) override;
    STDMETHODIMP SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
    STDMETHODIMP Length(LONGLONG* total, LONGLONG* available) override;

private:
    HRESULT ReadSample(IMediaSample* sample);
    HRESULT Read(LONGLONG position, LONG length, BYTE* buffer, LONG& got);

    CHttpSource* source_;
    CCritSec queueLock_;
    HANDLE queued_ = nullptr;
    struct Pending {
        IMediaSample* sample;
        DWORD_PTR user;
    };
    std::deque<Pending> requests_;
    bool flushing_ = false;

    friend class CHttpSource;
};

class CHttpSource : public CBaseFilter, public IFileSourceFilter {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);
    ~CHttpSource() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    // IFileSourceFilter
    STDMETHODIMP Load(LPCOLESTR url, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* url, AM_MEDIA_TYPE* pmt) override;

private:
    friend class CHttpOutputPin;
    CHttpSource(LPUNKNOWN outer, HRESULT* phr);
    void ReadReply();

    CCritSec lock_;
    CHttpOutputPin pin_;
    std::wstring url_;
    SOCKET socket_ = INVALID_SOCKET;
    std::thread reader_;
    httpsource::BodyBuffer body_;
    DWORD loadingThread_ = 0;  // pumps its messages while it waits for bytes
};

EXTERN_C const AMOVIESETUP_FILTER kHttpSourceSetup;
