#include "platform/tests/TestFilters.h"

#include <initguid.h>

// The same GUIDs again, this time defined.
DEFINE_GUID(CLSID_TestTransform, 0xb5a6d1c0, 0x3f52, 0x4e0a, 0x9c, 0x1b, 0x2d, 0x7e, 0x8f, 0x90, 0x1a, 0x01);
DEFINE_GUID(CLSID_TestSource, 0xb5a6d1c0, 0x3f52, 0x4e0a, 0x9c, 0x1b, 0x2d, 0x7e, 0x8f, 0x90, 0x1a, 0x02);
DEFINE_GUID(CLSID_PlatformNullRenderer, 0xc1f400a4, 0x3f08, 0x11d3, 0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37);

DWORD SequenceOf(IMediaSample* pSample) {
    BYTE* p = nullptr;
    if (FAILED(pSample->GetPointer(&p)) || pSample->GetActualDataLength() < 4) return 0xFFFFFFFF;
    DWORD v;
    memcpy(&v, p, 4);
    return v;
}

static void StreamType(CMediaType* pmt) {
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Stream);
    pmt->SetSubtype(&MEDIASUBTYPE_NULL);
    pmt->SetFormatType(&FORMAT_None);
    pmt->SetSampleSize(4);
}

// ---- TestSource ----

TestSource::TestSource(LPUNKNOWN pUnk, LONG count)
    : CSource(NAME("Test source"), pUnk, CLSID_TestSource), m_count(count) {
    HRESULT hr = S_OK;
    new Stream(this, &hr);  // owned by the filter
}

void TestSource::AddOutputPin() {
    HRESULT hr = S_OK;
    new Stream(this, &hr);
}

CUnknown* WINAPI TestSource::CreateInstance(LPUNKNOWN pUnk, HRESULT*) {
    return new TestSource(pUnk, 10);
}

TestSource::Stream::Stream(TestSource* pFilter, HRESULT* phr)
    : CSourceStream(NAME("Test source stream"), phr, pFilter, L"Output"), m_pSource(pFilter) {}

HRESULT TestSource::Stream::OnThreadStartPlay() {
    return S_OK;
}

HRESULT TestSource::Stream::GetMediaType(CMediaType* pmt) {
    StreamType(pmt);
    return S_OK;
}

HRESULT TestSource::Stream::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    pProps->cBuffers = 2;
    pProps->cbBuffer = 4;
    if (pProps->cbAlign == 0) pProps->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = pAlloc->SetProperties(pProps, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= 4 ? S_OK : E_FAIL;
}

HRESULT TestSource::Stream::FillBuffer(IMediaSample* pSample) {
    if (m_pSource->m_count >= 0 && m_next >= m_pSource->m_count) return S_FALSE;
    BYTE* p = nullptr;
    HRESULT hr = pSample->GetPointer(&p);
    if (FAILED(hr)) return hr;
    DWORD v = static_cast<DWORD>(m_next++);
    memcpy(p, &v, 4);
    pSample->SetActualDataLength(4);
    pSample->SetSyncPoint(TRUE);
    InterlockedIncrement(&m_pSource->m_delivered);
    return S_OK;
}

// ---- TestTransform ----

TestTransform::TestTransform(LPUNKNOWN pUnk) : CTransformFilter(NAME("Test transform"), pUnk, CLSID_TestTransform) {}

CUnknown* WINAPI TestTransform::CreateInstance(LPUNKNOWN pUnk, HRESULT*) {
    return new TestTransform(pUnk);
}

HRESULT TestTransform::CheckInputType(const CMediaType* mtIn) {
    return IsEqualGUID(*mtIn->Type(), MEDIATYPE_Stream) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TestTransform::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    return IsEqualGUID(*mtIn->Type(), *mtOut->Type()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TestTransform::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    pProps->cBuffers = 1;
    pProps->cbBuffer = 4;
    if (pProps->cbAlign == 0) pProps->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = pAlloc->SetProperties(pProps, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer >= 4 ? S_OK : E_FAIL;
}

HRESULT TestTransform::GetMediaType(int iPosition, CMediaType* pmt) {
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    StreamType(pmt);
    return S_OK;
}

HRESULT TestTransform::Transform(IMediaSample* pIn, IMediaSample* pOut) {
    BYTE *src = nullptr, *dst = nullptr;
    HRESULT hr = pIn->GetPointer(&src);
    if (SUCCEEDED(hr)) hr = pOut->GetPointer(&dst);
    if (FAILED(hr)) return hr;
    LONG n = pIn->GetActualDataLength();
    if (n > pOut->GetSize()) return E_FAIL;
    memcpy(dst, src, static_cast<size_t>(n));
    pOut->SetActualDataLength(n);
    {
        CAutoLock lock(&m_seenLock);
        m_seen.push_back(SequenceOf(pIn));
    }
    m_firstSample.Set();
    return S_OK;
}

std::vector<DWORD> TestTransform::Seen() {
    CAutoLock lock(&m_seenLock);
    return m_seen;
}

// ---- TestSink ----

TestSink::TestSink() : CBaseFilter(NAME("Test sink"), NULL, &m_lock, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pPin = new Pin(this, &hr);
}

TestSink::~TestSink() {
    for (IMediaSample* p : m_held) p->Release();
    delete m_pPin;
}

void TestSink::ReleaseHeld() {
    std::vector<IMediaSample*> held;
    {
        CAutoLock lock(&m_dataLock);
        held.swap(m_held);
    }
    for (IMediaSample* p : held) p->Release();
}

CBasePin* TestSink::GetPin(int n) {
    return n == 0 ? m_pPin : nullptr;
}
IPin* TestSink::InputPin() {
    return m_pPin;
}

std::vector<DWORD> TestSink::Seen() {
    CAutoLock lock(&m_dataLock);
    return m_seen;
}

std::vector<long> TestSink::Batches() {
    CAutoLock lock(&m_dataLock);
    return m_batches;
}

TestSink::Pin::Pin(TestSink* pSink, HRESULT* phr)
    : CBaseInputPin(NAME("Test sink pin"), pSink, &pSink->m_lock, phr, L"In"), m_pSink(pSink) {}

STDMETHODIMP TestSink::Pin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    {
        CAutoLock lock(&m_pSink->m_dataLock);
        m_pSink->m_seen.push_back(SequenceOf(pSample));
        if (m_pSink->m_hold) {
            pSample->AddRef();
            m_pSink->m_held.push_back(pSample);
        }
    }
    m_pSink->m_arrived.Set();
    return S_OK;
}

STDMETHODIMP TestSink::Pin::ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nProcessed) {
    {
        CAutoLock lock(&m_pSink->m_dataLock);
        m_pSink->m_batches.push_back(nSamples);
    }
    return CBaseInputPin::ReceiveMultiple(pSamples, nSamples, nProcessed);
}

STDMETHODIMP TestSink::Pin::EndOfStream() {
    InterlockedIncrement(&m_pSink->m_eos);
    m_pSink->m_arrived.Set();
    return S_OK;
}
