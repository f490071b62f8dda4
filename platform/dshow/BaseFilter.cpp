#include <cwchar>
#include <new>

#include "platform/dshow/Filter.h"

static WCHAR* DupName(LPCWSTR pName) {
    if (pName == NULL) return NULL;
    size_t n = wcslen(pName) + 1;
    WCHAR* p = new (std::nothrow) WCHAR[n];
    if (p) CopyMemory(p, pName, n * sizeof(WCHAR));
    return p;
}

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid)
    : CUnknown(pName, pUnk),
      m_State(State_Stopped),
      m_pClock(NULL),
      m_clsid(clsid),
      m_pLock(pLock),
      m_pName(NULL),
      m_pGraph(NULL),
      m_pSink(NULL),
      m_PinVersion(1) {}

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT*)
    : CBaseFilter(pName, pUnk, pLock, clsid) {}

CBaseFilter::CBaseFilter(LPCSTR, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid)
    : CBaseFilter(static_cast<LPCTSTR>(NULL), pUnk, pLock, clsid) {}

CBaseFilter::CBaseFilter(LPCSTR, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT*)
    : CBaseFilter(static_cast<LPCTSTR>(NULL), pUnk, pLock, clsid) {}

CBaseFilter::~CBaseFilter() {
    delete[] m_pName;
    if (m_pClock) m_pClock->Release();
}

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IBaseFilter) || IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IPersist))
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (IsEqualIID(riid, IID_IAMovieSetup)) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
    CheckPointer(pClsID, E_POINTER);
    *pClsID = m_clsid;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
    CheckPointer(State, E_POINTER);
    *State = m_State;
    return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(m_pLock);
    if (pClock) pClock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = pClock;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    CheckPointer(pClock, E_POINTER);
    CAutoLock lock(m_pLock);
    if (m_pClock) m_pClock->AddRef();
    *pClock = m_pClock;
    return NOERROR;
}

STDMETHODIMP CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hr = NOERROR;
    if (m_State != State_Stopped) {
        int cPins = GetPinCount();
        for (int c = 0; c < cPins; c++) {
            CBasePin* pPin = GetPin(c);
            if (pPin == NULL || !pPin->IsConnected()) continue;
            HRESULT hrTmp = pPin->Inactive();
            if (FAILED(hrTmp) && SUCCEEDED(hr)) hr = hrTmp;
        }
    }
    m_State = State_Stopped;
    return hr;
}

STDMETHODIMP CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        m_ranSincePause = false;
        int cPins = GetPinCount();
        for (int c = 0; c < cPins; c++) {
            CBasePin* pPin = GetPin(c);
            if (pPin == NULL || !pPin->IsConnected()) continue;
            HRESULT hr = pPin->Active();
            if (FAILED(hr)) return hr;
        }
    }
    m_State = State_Paused;
    return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        int cPins = GetPinCount();
        for (int c = 0; c < cPins; c++) {
            CBasePin* pPin = GetPin(c);
            if (pPin == NULL || !pPin->IsConnected()) continue;
            HRESULT hr = pPin->Run(tStart);
            if (FAILED(hr)) return hr;
        }
    }
    m_State = State_Running;
    m_ranSincePause = true;
    return S_OK;
}

HRESULT CBaseFilter::StreamTime(CRefTime& rtStream) {
    if (m_pClock == NULL) return VFW_E_NO_CLOCK;
    REFERENCE_TIME now;
    HRESULT hr = m_pClock->GetTime(&now);
    if (FAILED(hr)) return hr;
    rtStream = now - m_tStart.m_time;
    return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = new (std::nothrow) CEnumPins(this, NULL);
    return *ppEnum ? NOERROR : E_OUTOFMEMORY;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    CheckPointer(ppPin, E_POINTER);
    *ppPin = NULL;
    CheckPointer(Id, E_POINTER);
    CAutoLock lock(m_pLock);
    int cPins = GetPinCount();
    for (int c = 0; c < cPins; c++) {
        CBasePin* pPin = GetPin(c);
        if (pPin != NULL && pPin->Name() != NULL && wcscmp(pPin->Name(), Id) == 0) {
            *ppPin = pPin;
            pPin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    CheckPointer(pInfo, E_POINTER);
    if (m_pName) {
        lstrcpynW(pInfo->achName, m_pName, MAX_FILTER_NAME);
    } else {
        pInfo->achName[0] = L'\0';
    }
    pInfo->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return NOERROR;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    m_pSink = NULL;
    if (m_pGraph) {
        IMediaEventSink* pSink = NULL;
        if (SUCCEEDED(m_pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink)))) {
            // Weak: the graph outlives our membership in it.
            m_pSink = pSink;
            pSink->Release();
        }
    }
    delete[] m_pName;
    m_pName = NULL;
    if (pName) {
        m_pName = DupName(pName);
        if (m_pName == NULL) return E_OUTOFMEMORY;
    }
    return NOERROR;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo) {
    CheckPointer(pVendorInfo, E_POINTER);
    *pVendorInfo = NULL;
    return E_NOTIMPL;
}

HRESULT CBaseFilter::NotifyEvent(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    IMediaEventSink* pSink = m_pSink;
    if (pSink == NULL) return E_NOTIMPL;
    if (EventCode == EC_COMPLETE) EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return pSink->Notify(EventCode, EventParam1, EventParam2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt) {
    if (m_pGraph == NULL) return E_NOINTERFACE;
    IFilterGraph2* pGraph2 = NULL;
    HRESULT hr = m_pGraph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&pGraph2));
    if (SUCCEEDED(hr)) {
        hr = pGraph2->ReconnectEx(pPin, pmt);
        pGraph2->Release();
        return hr;
    }
    return pmt == NULL ? m_pGraph->Reconnect(pPin) : E_NOINTERFACE;
}

STDMETHODIMP CBaseFilter::Register() {
    LPAMOVIESETUP_FILTER psetupdata = GetSetupData();
    if (psetupdata == NULL) return S_FALSE;
    IFilterMapper2* pMapper = NULL;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&pMapper));
    if (FAILED(hr)) return hr;
    hr = AMovieSetupRegisterFilter2(psetupdata, pMapper, TRUE);
    pMapper->Release();
    return hr;
}

STDMETHODIMP CBaseFilter::Unregister() {
    LPAMOVIESETUP_FILTER psetupdata = GetSetupData();
    if (psetupdata == NULL) return S_FALSE;
    IFilterMapper2* pMapper = NULL;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, NULL, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&pMapper));
    if (FAILED(hr)) return hr;
    hr = AMovieSetupRegisterFilter2(psetupdata, pMapper, FALSE);
    pMapper->Release();
    return hr;
}

// ---- CEnumPins ----

CEnumPins::CEnumPins(CBaseFilter* pFilter, CEnumPins* pEnumPins)
    : m_Position(0), m_PinCount(0), m_pFilter(pFilter), m_Version(0) {
    if (pEnumPins == NULL) {
        m_Version = m_pFilter->GetPinVersion();
        m_PinCount = m_pFilter->GetPinCount();
    } else {
        m_Position = pEnumPins->m_Position;
        m_PinCount = pEnumPins->m_PinCount;
        m_Version = pEnumPins->m_Version;
    }
    m_pFilter->AddRef();
}

CEnumPins::~CEnumPins() {
    m_pFilter->Release();
}

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    CheckPointer(ppPins, E_POINTER);
    if (pcFetched != NULL)
        *pcFetched = 0;
    else if (cPins > 1)
        return E_INVALIDARG;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG cFetched = 0;
    while (cFetched < cPins && m_Position < m_PinCount) {
        CBasePin* pPin = m_pFilter->GetPin(m_Position++);
        if (pPin == NULL) break;
        ppPins[cFetched++] = pPin;
        pPin->AddRef();
    }
    if (pcFetched != NULL) *pcFetched = cFetched;
    return cFetched == cPins ? NOERROR : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG left = static_cast<ULONG>(m_PinCount - m_Position);
    if (cPins > left) {
        m_Position = m_PinCount;
        return S_FALSE;
    }
    m_Position += static_cast<int>(cPins);
    return NOERROR;
}

STDMETHODIMP CEnumPins::Reset() {
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
    m_Position = 0;
    return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = NULL;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new (std::nothrow) CEnumPins(m_pFilter, this);
    return *ppEnum ? NOERROR : E_OUTOFMEMORY;
}

// ---- CEnumMediaTypes ----

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, CEnumMediaTypes* pEnum) : m_Position(0), m_pPin(pPin), m_Version(0) {
    if (pEnum == NULL) {
        m_Version = m_pPin->GetMediaTypeVersion();
    } else {
        m_Position = pEnum->m_Position;
        m_Version = pEnum->m_Version;
    }
    m_pPin->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() {
    m_pPin->Release();
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
    CheckPointer(ppMediaTypes, E_POINTER);
    if (pcFetched != NULL)
        *pcFetched = 0;
    else if (cMediaTypes > 1)
        return E_INVALIDARG;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG cFetched = 0;
    while (cFetched < cMediaTypes) {
        CMediaType cmt;
        if (m_pPin->GetMediaType(m_Position, &cmt) != S_OK) break;
        AM_MEDIA_TYPE* pmt = CreateMediaType(&cmt);
        if (pmt == NULL) {
            for (ULONG i = 0; i < cFetched; i++) {
                DeleteMediaType(ppMediaTypes[i]);
                ppMediaTypes[i] = NULL;
            }
            return E_OUTOFMEMORY;
        }
        m_Position++;
        ppMediaTypes[cFetched++] = pmt;
    }
    if (pcFetched != NULL) *pcFetched = cFetched;
    return cFetched == cMediaTypes ? NOERROR : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    while (cMediaTypes > 0) {
        CMediaType cmt;
        if (m_pPin->GetMediaType(m_Position, &cmt) != S_OK) return S_FALSE;
        m_Position++;
        cMediaTypes--;
    }
    return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
    m_Position = 0;
    m_Version = m_pPin->GetMediaTypeVersion();
    return NOERROR;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    CheckPointer(ppEnum, E_POINTER);
    *ppEnum = NULL;
    if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
    return *ppEnum ? NOERROR : E_OUTOFMEMORY;
}
