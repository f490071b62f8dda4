#include "restamp/FilterStuff/DmxFilter.h"

#include "restamp/DemuxCommon/ChronelDispatcher.h"
#include "restamp/FilterStuff/DebugLog.h"

#include <cstring>
#include <cwchar>

using chronel::LOG_ERROR;
using chronel::LOG_TIMING;
using chronel::LOG_TRACE;

namespace {

constexpr long kChunkSize = 1000;
// The parser needs more than one transport packet of unparsed bytes.
constexpr DWORD kMinParseSpan = 189;
// How long stopping waits for the output queues to send what they hold.
constexpr DWORD kHandOnTimeoutMs = 2000;

#define LOG_FAILED(hr) DMX_LOG(LOG_ERROR, 1, " FAILED hr = 0x%X", static_cast<unsigned>(hr))

const GUID* const kAcceptedSubtypes[] = {
    &MEDIASUBTYPE_NULL,          &MEDIASUBTYPE_MPEG1Packet,     &MEDIASUBTYPE_MPEG1Payload,
    &MEDIASUBTYPE_MPEG1System,   &MEDIASUBTYPE_MPEG1VideoCD,    &MEDIASUBTYPE_MPEG1AudioPayload,
    &MEDIASUBTYPE_MPEG2_PROGRAM, &MEDIASUBTYPE_MPEG2_TRANSPORT, &MEDIASUBTYPE_MPEG2_AUDIO,
    &MEDIASUBTYPE_MPEG2_VIDEO,   &MEDIASUBTYPE_DOLBY_AC3};

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL},          {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1Packet},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1Payload},  {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1System},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1VideoCD},  {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1AudioPayload},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_PROGRAM}, {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_TRANSPORT},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_AUDIO},   {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_VIDEO},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL},           {&MEDIATYPE_Audio, &MEDIASUBTYPE_NULL},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_DOLBY_AC3},
};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 13, kPinTypes},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, TRUE, TRUE, &CLSID_NULL, NULL, 13, kPinTypes},
};

}  // namespace

extern const AMOVIESETUP_FILTER g_ChronelSetup;
const AMOVIESETUP_FILTER g_ChronelSetup = {&CLSID_KorvellChronel, L"Korvell Chronel", 0x200000, 2, kPins};

// ---- input pin ----

CDmxPushInPin::CDmxPushInPin(CDmxPushFilter* pFilter, CCritSec* pLock, HRESULT* phr)
    : CBaseInputPin("CDmxPushInPin", pFilter, pLock, phr, L"Input"), m_pDmx(pFilter) {}

HRESULT CDmxPushInPin::CheckMediaType(const CMediaType* pmt) {
    CheckPointer(pmt, E_POINTER);
    if (!IsEqualGUID(pmt->majortype, MEDIATYPE_Stream) && !IsEqualGUID(pmt->majortype, MEDIATYPE_Video) &&
        !IsEqualGUID(pmt->majortype, MEDIATYPE_Audio))
        return S_FALSE;
    for (const GUID* sub : kAcceptedSubtypes)
        if (IsEqualGUID(pmt->subtype, *sub)) return S_OK;
    return S_FALSE;
}

HRESULT CDmxPushInPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBaseInputPin::CheckConnect(pPin);
    if (FAILED(hr)) return hr;
    IMemAllocator* pinAllocator = NULL;
    hr = m_pDmx->MakeInputAllocators(&pinAllocator);
    if (FAILED(hr)) {
        LOG_FAILED(hr);
        return hr;
    }
    if (m_pAllocator) m_pAllocator->Release();
    m_pAllocator = pinAllocator;
    return S_OK;
}

HRESULT CDmxPushInPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    EmptyCarry();
    return m_pDmx->OnInputConnected(pReceivePin);
}

HRESULT CDmxPushInPin::BreakConnect() {
    EmptyCarry();
    m_pDmx->OnInputDisconnected();
    m_pDmx->ReleaseInputAllocators();
    return CBaseInputPin::BreakConnect();
}

HRESULT CDmxPushInPin::Active() {
    EmptyCarry();
    if (m_pAllocator) {
        HRESULT hr = m_pAllocator->Commit();
        if (FAILED(hr)) {
            LOG_FAILED(hr);
            return hr;
        }
    }
    if (CSequentialAllocator* input = m_pDmx->InputAllocator()) {
        HRESULT hr = input->Commit();
        if (FAILED(hr)) {
            LOG_FAILED(hr);
            return hr;
        }
    }
    return CBaseInputPin::Active();
}

HRESULT CDmxPushInPin::Inactive() {
    // Releases a Receive waiting for a slice.
    if (CSequentialAllocator* input = m_pDmx->InputAllocator()) input->Decommit();
    return CBaseInputPin::Inactive();
}

STDMETHODIMP CDmxPushInPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    CheckPointer(pAllocator, E_POINTER);
    return CBaseInputPin::NotifyAllocator(pAllocator, bReadOnly);
}

HRESULT CDmxPushInPin::SendChunk(const BYTE* carried, long carriedLen, const BYTE* p, long len,
                                 const REFERENCE_TIME* times) {
    CSequentialAllocator* input = m_pDmx->InputAllocator();
    if (!input) return E_FAIL;
    IMediaSample* chunk = NULL;
    HRESULT hr = input->GetBuffer(&chunk, NULL, NULL, 0);
    if (FAILED(hr)) {
        LOG_FAILED(hr);
        return hr;
    }
    BYTE* dst = NULL;
    hr = chunk->GetPointer(&dst);
    if (SUCCEEDED(hr) && (!dst || chunk->GetSize() < carriedLen + len)) hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        if (carriedLen) std::memcpy(dst, carried, static_cast<size_t>(carriedLen));
        if (len) std::memcpy(dst + carriedLen, p, static_cast<size_t>(len));
        chunk->SetActualDataLength(carriedLen + len);
        if (times) {
            REFERENCE_TIME start = times[0], stop = times[1];
            chunk->SetTime(&start, &stop);
        }
        hr = m_pDmx->ProcessInput(chunk, carriedLen ? m_carrySent : 0);
    }
    chunk->Release();
    if (carriedLen) m_carrySent = 0;
    return hr;
}

HRESULT CDmxPushInPin::DeliverCarried() {
    if (m_carried <= m_carrySent) return S_OK;
    HRESULT hr = m_pDmx->DeliverAhead(m_carry + m_carrySent, m_carried - m_carrySent);
    if (FAILED(hr)) return hr;
    m_carrySent = m_carried;
    return S_OK;
}

STDMETHODIMP CDmxPushInPin::Receive(IMediaSample* pSample) {
    CAutoLock lock(m_pDmx->ReceiveLock());
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    BYTE* p = NULL;
    hr = pSample->GetPointer(&p);
    if (FAILED(hr)) return hr;
    long len = pSample->GetActualDataLength();
    if (len > 0 && !p) return E_POINTER;
    REFERENCE_TIME times[2] = {};
    HRESULT timed = pSample->GetTime(&times[0], &times[1]);
    bool hasTime = timed == S_OK || timed == VFW_S_NO_STOP_TIME;
    long offset = 0;
    while (offset < len) {
        long remaining = len - offset;
        if (m_carried + remaining >= kChunkSize) {
            long take = kChunkSize - m_carried;
            long carried = m_carried;
            m_carried = 0;  // m_carrySent still counts for this chunk
            hr = SendChunk(m_carry, carried, p + offset, take, hasTime ? times : NULL);
            hasTime = false;  // only the first chunk of a sample gets its time
            offset += take;
            if (FAILED(hr)) return hr;
        } else {
            std::memcpy(m_carry + m_carried, p + offset, static_cast<size_t>(remaining));
            m_carried += remaining;
            offset = len;
        }
    }
    // Not running (paused on the way to a stop): hold nothing back.
    if (!m_pDmx->HoldsBack()) {
        hr = DeliverCarried();
        if (FAILED(hr)) LOG_FAILED(hr);
    }
    return S_OK;
}

// The last bytes of a stream that do not fill a chunk still go out.
HRESULT CDmxPushInPin::FlushCarry() {
    if (m_carried == 0) return S_OK;
    long carried = m_carried;
    m_carried = 0;
    HRESULT hr = SendChunk(m_carry, carried, NULL, 0, NULL);
    m_carrySent = 0;
    return hr;
}

STDMETHODIMP CDmxPushInPin::EndOfStream() {
    CAutoLock lock(m_pDmx->ReceiveLock());
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    hr = FlushCarry();
    if (FAILED(hr)) LOG_FAILED(hr);
    HRESULT eos = m_pDmx->OnEndOfStream();
    return FAILED(hr) ? hr : eos;
}

STDMETHODIMP CDmxPushInPin::BeginFlush() {
    CAutoLock lock(m_pDmx->ReceiveLock());
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr)) return hr;
    EmptyCarry();  // flushed bytes must not lead the data that follows
    return m_pDmx->OnBeginFlush();
}

STDMETHODIMP CDmxPushInPin::EndFlush() {
    CAutoLock lock(m_pDmx->ReceiveLock());
    HRESULT hr = CBaseInputPin::EndFlush();
    if (FAILED(hr)) return hr;
    EmptyCarry();
    return m_pDmx->OnEndFlush();
}

// ---- filter ----

CUnknown* WINAPI CDmxPushFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    HRESULT hr = S_OK;
    auto* filter = new (std::nothrow) CDmxPushFilter(pUnk, &hr);
    if (!filter) {
        DMX_LOG(LOG_ERROR, 1, "E_OUTOFMEMORY");
        if (phr) *phr = E_OUTOFMEMORY;
        return NULL;
    }
    if (SUCCEEDED(hr)) hr = filter->CreateOutputPin(L"Output", DmxStreamDescriptor{GUID_NULL, 0, 0});
    if (FAILED(hr)) {
        DMX_LOG(LOG_ERROR, 1, "FAILED %X", static_cast<unsigned>(hr));
        delete filter;
        if (phr) *phr = hr;
        return NULL;
    }
    return filter;
}

CDmxPushFilter::CDmxPushFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseFilter("CDmxFilter", pUnk, &m_filterLock, CLSID_KorvellChronel, phr),
      m_log(g_hInst),
      m_dispatcher(new CChronelDispatcher(this)) {
    m_pInput = new (std::nothrow) CDmxPushInPin(this, &m_filterLock, phr);
    if (!m_pInput && phr) *phr = E_OUTOFMEMORY;
    // The filter's own clock; a clock without its thread fails the filter.
    m_pClock = new (std::nothrow) CDmxrClock(phr);
    if (m_pClock)
        m_pClock->NonDelegatingAddRef();
    else if (phr)
        *phr = E_OUTOFMEMORY;
}

CDmxPushFilter::~CDmxPushFilter() {
    ReleaseInputAllocators();
    for (CDmxOutPin* pin : m_outPins) {
        if (pin->IsConnected()) {
            IPin* peer = pin->GetConnected();
            peer->Disconnect();
            pin->Disconnect();
        }
        delete pin;
    }
    delete m_pInput;
    if (m_pClock) m_pClock->NonDelegatingRelease();
}

STDMETHODIMP CDmxPushFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (riid == IID_IAMStreamSelect) return GetInterface(static_cast<IAMStreamSelect*>(this), ppv);
    if (riid == IID_IVexoParserSettings) return GetInterface(static_cast<IVexoParserSettings*>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CDmxPushFilter::GetPinCount() {
    return 1 + static_cast<int>(m_outPins.size());
}

CBasePin* CDmxPushFilter::GetPin(int n) {
    if (n == 0) return m_pInput;
    if (n < 0 || static_cast<size_t>(n) > m_outPins.size()) return NULL;
    return m_outPins[static_cast<size_t>(n - 1)];
}

LPAMOVIESETUP_FILTER CDmxPushFilter::GetSetupData() {
    return const_cast<LPAMOVIESETUP_FILTER>(&g_ChronelSetup);
}

HRESULT CDmxPushFilter::CreateOutputPin(LPCWSTR name, const DmxStreamDescriptor& stream) {
    HRESULT hr = S_OK;
    auto* pin = new (std::nothrow) CDmxOutPin(this, &m_filterLock, &hr, name, stream);
    if (!pin) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete pin;
        return hr;
    }
    IGraphConfig* config = NULL;
    if (m_pGraph && SUCCEEDED(m_pGraph->QueryInterface(IID_IGraphConfig, reinterpret_cast<void**>(&config))))
        config->Release();  // the graph outlives its filters: kept unreferenced
    pin->SetConfigInfo(config, NULL);
    CAutoLock lock(&m_receiveLock);
    m_outPins.push_back(pin);
    IncrementPinVersion();
    return S_OK;
}

void CDmxPushFilter::SetDispatcher(std::unique_ptr<chronel::ChunkDispatcher> dispatcher) {
    CAutoLock lock(&m_receiveLock);
    m_dispatcher = std::move(dispatcher);
}

STDMETHODIMP CDmxPushFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(&m_filterLock);
    IGraphConfig* config = NULL;
    if (pGraph && SUCCEEDED(pGraph->QueryInterface(IID_IGraphConfig, reinterpret_cast<void**>(&config))))
        config->Release();
    {
        CAutoLock receive(&m_receiveLock);
        for (CDmxOutPin* pin : m_outPins) pin->SetConfigInfo(config, NULL);
    }
    return CBaseFilter::JoinFilterGraph(pGraph, pName);
}

void CDmxPushFilter::ResetStreamState() {
    if (m_pInputAllocator) m_pInputAllocator->Reset();
    m_dispatcher->ResetStreamState();
}

STDMETHODIMP CDmxPushFilter::Pause() {
    CAutoLock lock(&m_filterLock);
    DMX_LOG(LOG_TRACE, 1, "PAUSE");
    if (m_State == State_Stopped) {
        for (CDmxOutPin* pin : m_outPins) {
            if (!pin->IsConnected()) continue;
            HRESULT hr = pin->Active();
            if (FAILED(hr)) {
                LOG_FAILED(hr);
                return hr;
            }
        }
        CAutoLock receive(&m_receiveLock);
        if (m_pInput->IsConnected()) {
            HRESULT hr = m_pInput->Active();
            if (FAILED(hr)) {
                LOG_FAILED(hr);
                return hr;
            }
        }
        m_State = State_Paused;
        ResetStreamState();
    } else {
        // Leaving Run: a stop may follow with no end of stream.
        const bool wasRunning = m_State == State_Running;
        m_holdBack = false;
        m_State = State_Paused;
        if (wasRunning) HandOnHeldBytes();
    }
    return S_OK;
}

// The receive lock is taken here (it may be held already): a Receive in
// progress finishes first, so its carried bytes go too.
void CDmxPushFilter::HandOnHeldBytes() {
    {
        CAutoLock receive(&m_receiveLock);
        if (m_pInput->IsConnected()) {
            HRESULT hr = m_pInput->DeliverCarried();
            if (FAILED(hr)) LOG_FAILED(hr);
        }
    }
    for (CDmxOutPin* pin : m_outPins)
        if (pin->IsConnected()) pin->DrainQueue(kHandOnTimeoutMs);
}

STDMETHODIMP CDmxPushFilter::Run(REFERENCE_TIME tStart) {
    HRESULT hr = CBaseFilter::Run(tStart);
    if (SUCCEEDED(hr)) m_holdBack = true;
    DMX_LOG(LOG_TRACE, 1, "RUN");
    return hr;
}

STDMETHODIMP CDmxPushFilter::Stop() {
    CAutoLock lock(&m_filterLock);
    DMX_LOG(LOG_TRACE, 1, "STOP");
    m_holdBack = false;
    if (m_State != State_Stopped) {
        // First the input: a Receive waiting for a slice gives up and returns.
        if (m_pInput->IsConnected()) m_pInput->Inactive();
        CAutoLock receive(&m_receiveLock);
        // What the filter still holds goes out before the outputs stop.
        HandOnHeldBytes();
        for (CDmxOutPin* pin : m_outPins)
            if (pin->IsConnected()) pin->Inactive();
        ResetStreamState();
        m_State = State_Stopped;
    }
    m_keptTime = 0;
    return S_OK;
}

void CDmxPushFilter::OnTime(int64_t time) {
    DMX_LOG(LOG_TIMING, 1, "OnTime %lld", static_cast<long long>(time));
    m_keptTime = time;
}

HRESULT CDmxPushFilter::DeliverAhead(const BYTE* p, long cb) {
    CDmxOutPin* out = OutPin(0);
    HRESULT hr = out ? out->DeliverChunk(p, cb, chronel::kNoTime) : E_FAIL;
    if (FAILED(hr)) LOG_FAILED(hr);
    return hr;
}

HRESULT CDmxPushFilter::ProcessInput(IMediaSample* pChunk, long alreadySent) {
    if (!m_pInputAllocator) return E_UNEXPECTED;
    BYTE* p = NULL;
    HRESULT hr = pChunk->GetPointer(&p);
    long len = pChunk->GetActualDataLength();
    if (SUCCEEDED(hr)) hr = m_pInputAllocator->AddBuffer(pChunk);
    if (FAILED(hr)) {
        LOG_FAILED(hr);
        return hr;
    }
    // A chunk carries the time found while the earlier chunks were parsed.
    int64_t t = m_keptTime;
    m_keptTime = chronel::kNoTime;
    DWORD valid = 0;
    const BYTE* span = m_pInputAllocator->GetValid(&valid);
    uint32_t parsed = 0;
    if (valid >= kMinParseSpan) {
        int32_t rc = m_dispatcher->ProcessData(span, valid, m_position, &parsed);
        if (rc < 0) {
            LOG_FAILED(rc);
            return rc;
        }
    }
    CDmxOutPin* out = OutPin(0);
    if (alreadySent < 0 || alreadySent > len) alreadySent = 0;
    // A system stream's chunk may take the video sequence header in front of
    // a GOP header; only where the part before it has not gone out ahead.
    const uint8_t* header = NULL;
    uint32_t headerLength = 0, split = 0;
    const bool insert =
        out && valid >= kMinParseSpan &&
        m_dispatcher->PlanChunk(p, static_cast<uint32_t>(len), m_position, &header, &headerLength, &split) &&
        static_cast<long>(split) >= alreadySent;
    if (!out)
        hr = E_FAIL;
    else if (insert)
        hr = DeliverWithSeqHeader(out, p, len, alreadySent, split, header, headerLength, t);
    else if (alreadySent < len)
        hr = out->DeliverChunk(p + alreadySent, len - alreadySent, t);
    if (FAILED(hr)) {
        LOG_FAILED(hr);
        return hr;
    }
    // The chunk is out: whatever happens to the unparsed span, the stream goes on.
    hr = m_pInputAllocator->Advance(parsed);
    if (FAILED(hr)) {
        LOG_FAILED(hr);
        m_pInputAllocator->Reset();
    }
    if (DWORD dropped = m_pInputAllocator->TakeDropped()) {
        DWORD remaining = 0;
        m_pInputAllocator->GetValid(&remaining);
        DMX_LOG(LOG_ERROR, 1, "Unparsed span cut by %lu bytes, %lu kept", static_cast<unsigned long>(dropped),
                static_cast<unsigned long>(remaining));
        m_dispatcher->SpanCut(remaining);
    } else if (FAILED(hr)) {
        m_dispatcher->SpanCut(0);
    }
    m_position += len;
    return S_OK;
}

HRESULT CDmxPushFilter::DeliverWithSeqHeader(CDmxOutPin* out, const BYTE* p, long len, long from, uint32_t split,
                                             const uint8_t* header, uint32_t headerLength, int64_t t) {
    const long k = static_cast<long>(split);
    HRESULT hr = S_OK;
    if (k > from) hr = out->DeliverChunk(p + from, k - from, t);  // an empty first piece sends nothing
    if (SUCCEEDED(hr)) hr = out->DeliverChunk(header, static_cast<long>(headerLength), chronel::kNoTime);
    if (SUCCEEDED(hr) && k < len) hr = out->DeliverChunk(p + k, len - k, chronel::kNoTime);
    if (FAILED(hr)) LOG_FAILED(hr);
    return hr;
}

HRESULT CDmxPushFilter::OnEndOfStream() {
    DMX_LOG(LOG_TRACE, 1, "EndOfStream");
    m_dispatcher->EndOfStream();
    ResetStreamState();
    for (CDmxOutPin* pin : m_outPins) pin->DeliverEndOfStream();
    return S_OK;
}

HRESULT CDmxPushFilter::OnBeginFlush() {
    for (CDmxOutPin* pin : m_outPins) pin->DeliverBeginFlush();
    return S_OK;
}

HRESULT CDmxPushFilter::OnEndFlush() {
    m_position = 0;
    ResetStreamState();
    for (CDmxOutPin* pin : m_outPins) pin->DeliverEndFlush();
    return S_OK;
}

HRESULT CDmxPushFilter::MakeInputAllocators(IMemAllocator** ppPinAllocator) {
    CheckPointer(ppPinAllocator, E_POINTER);
    *ppPinAllocator = NULL;
    ReleaseInputAllocators();
    HRESULT hr = S_OK;
    auto* pinAllocator = new (std::nothrow) CMemAllocator("CDmxPushInPin allocator", NULL, &hr);
    auto* input = new (std::nothrow) CSequentialAllocator(NULL, &hr);
    if (!pinAllocator || !input || FAILED(hr)) {
        delete pinAllocator;
        delete input;
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    }
    pinAllocator->AddRef();
    input->AddRef();
    ALLOCATOR_PROPERTIES want = {10, 65535, 1, 0}, got = {};
    hr = pinAllocator->SetProperties(&want, &got);
    if (SUCCEEDED(hr)) hr = input->SetProperties(&want, &got);
    if (FAILED(hr)) {
        pinAllocator->Release();
        input->Release();
        return hr;
    }
    m_pInputAllocator = input;
    *ppPinAllocator = pinAllocator;
    return S_OK;
}

void CDmxPushFilter::ReleaseInputAllocators() {
    if (m_pInputAllocator) {
        m_pInputAllocator->Decommit();
        m_pInputAllocator->Release();
        m_pInputAllocator = NULL;
    }
}

HRESULT CDmxPushFilter::OnInputConnected(IPin*) {
    if (!m_pInputAllocator) return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES want = {512, kChunkSize, 1, 0}, got = {};
    HRESULT hr = m_pInputAllocator->SetProperties(&want, &got);
    if (FAILED(hr)) {
        LOG_FAILED(hr);
        return hr;
    }
    const CMediaType& mt = m_pInput->CurrentMediaType();
    if (CDmxOutPin* out = OutPin(0)) {
        out->SetMediaTypes(mt);
        out->SetMajorType(mt.majortype);
    }
    for (CDmxOutPin* pin : m_outPins)
        if (pin->IsConnected()) ReconnectPin(pin, NULL);
    m_position = 0;
    return S_OK;
}

HRESULT CDmxPushFilter::OnInputDisconnected() {
    CAutoLock lock(&m_filterLock);
    CAutoLock pins(&m_pinChangeLock);
    for (CDmxOutPin* pin : m_outPins) {
        if (!pin->IsConnected()) continue;
        pin->GetConnected()->Disconnect();
        pin->Disconnect();
    }
    NotifyEvent(EC_GRAPH_CHANGED, 0, 0);
    m_dispatcher->ResetAll();
    ResetStreamState();
    m_position = 0;
    return S_OK;
}

STDMETHODIMP CDmxPushFilter::GetPages(CAUUID* pPages) {
    CheckPointer(pPages, E_POINTER);
    pPages->cElems = 0;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pPages->pElems) return E_OUTOFMEMORY;
    pPages->pElems[0] = CLSID_KorvellChronelPage;
    pPages->cElems = 1;
    return S_OK;
}

STDMETHODIMP CDmxPushFilter::Count(DWORD* pcStreams) {
    CheckPointer(pcStreams, E_POINTER);
    CAutoLock lock(&m_receiveLock);
    *pcStreams = static_cast<DWORD>(m_outPins.size());
    return S_OK;
}

// Every out-parameter the caller passes is set, on failure too: the media
// type is a CoTaskMemAlloc block the caller frees with DeleteMediaType.
STDMETHODIMP CDmxPushFilter::Info(long lIndex, AM_MEDIA_TYPE** ppmt, DWORD* pdwFlags, LCID* plcid, DWORD* pdwGroup,
                                  WCHAR** ppszName, IUnknown** ppObject, IUnknown** ppUnk) {
    if (ppmt) *ppmt = NULL;
    if (pdwFlags) *pdwFlags = 0;
    if (plcid) *plcid = 0;
    if (pdwGroup) *pdwGroup = 0;
    if (ppszName) *ppszName = NULL;
    if (ppObject) *ppObject = NULL;
    if (ppUnk) *ppUnk = NULL;  // the streams form no group object
    CAutoLock lock(&m_receiveLock);
    if (lIndex < 0 || static_cast<size_t>(lIndex) >= m_outPins.size()) return S_FALSE;
    CDmxOutPin* pin = m_outPins[static_cast<size_t>(lIndex)];
    if (ppmt) {
        CMediaType mt;
        if (pin->IsConnected()) {
            mt = pin->CurrentMediaType();
        } else if (pin->GetMediaType(0, &mt) != S_OK) {
            mt.InitMediaType();
            mt.SetType(&MEDIATYPE_Stream);
        }
        *ppmt = CreateMediaType(&mt);
        if (!*ppmt) return E_OUTOFMEMORY;
    }
    if (ppszName) {
        *ppszName = static_cast<WCHAR*>(CoTaskMemAlloc(512));
        if (!*ppszName) {
            if (ppmt) {
                DeleteMediaType(*ppmt);
                *ppmt = NULL;
            }
            return E_OUTOFMEMORY;
        }
        lstrcpynW(*ppszName, pin->Name(), 256);
    }
    if (pdwFlags) *pdwFlags = AMSTREAMSELECTINFO_ENABLED;
    if (pdwGroup) *pdwGroup = pin->Stream().group;
    if (ppObject) {
        *ppObject = static_cast<IPin*>(pin);
        pin->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CDmxPushFilter::Enable(long lIndex, DWORD) {
    CAutoLock lock(&m_receiveLock);
    if (lIndex < 0 || static_cast<size_t>(lIndex) >= m_outPins.size()) return S_FALSE;
    return S_OK;  // every stream stays enabled
}

STDMETHODIMP CDmxPushFilter::GetFormatName(LPWSTR* name, void* context) {
    if (!name || !context) {
        LOG_FAILED(E_POINTER);
        return E_POINTER;
    }
    *name = static_cast<LPWSTR>(CoTaskMemAlloc(512));
    if (!*name) return E_OUTOFMEMORY;
    const char* text = m_dispatcher->FormatName();
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, *name, 256);
    if (n <= 0) (*name)[0] = L'\0';
    (*name)[255] = L'\0';
    return S_OK;
}

STDMETHODIMP CDmxPushFilter::SetSettingsWord(DWORD word) {
    m_settingsWord = word;
    return S_OK;
}
