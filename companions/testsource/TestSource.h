#pragma once

#include <string>

#include "platform/dshow/BaseClasses.h"
#include "companions/testsource/TestSourceControl.h"

class CTestFileSource;

// The output pin "Output" and its streaming thread: one file read per sample.
class CTestFileStream : public CSourceStream {
public:
    CTestFileStream(HRESULT* phr, CTestFileSource* pFilter);

    HRESULT GetMediaType(CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    HRESULT Deliver(IMediaSample* pSample) override;

protected:
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;
    HRESULT FillBuffer(IMediaSample* pSample) override;

private:
    CTestFileSource* m_pSource;
    HANDLE m_hFile;
};

class CTestFileSource : public CSource, public IFileSourceFilter, public ITestSourceControl {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFileSourceFilter
    STDMETHODIMP Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

    // ITestSourceControl
    HRESULT STDMETHODCALLTYPE SetPacing(ULONG sampleBytes, ULONG delayMs) override;
    HRESULT STDMETHODCALLTYPE GetDelivered(ULONG* samples) override;

private:
    friend class CTestFileStream;

    CTestFileSource(LPUNKNOWN pUnk, HRESULT* phr);

    CTestFileStream* m_pStream;
    std::wstring m_fileName;
    GUID m_subtype;
    ULONG m_sampleBytes;
    volatile LONG m_delayMs;
    volatile LONG m_delivered;
};
