#include "platform/dshow/RefClock.h"

#include <mmsystem.h>

#include <new>

CBaseReferenceClock::CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CAMSchedule*)
    : CUnknown(pName, pUnk),
      m_rtPrivateTime(0),
      m_rtLastGotTime(0),
      m_dwPrevSystemTime(timeGetTime()),
      m_nextCookie(1),
      m_hWake(NULL),
      m_hThread(NULL),
      m_bAbort(FALSE) {
    m_rtPrivateTime = static_cast<REFERENCE_TIME>(m_dwPrevSystemTime) * (UNITS / MILLISECONDS);
    m_hWake = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (m_hWake) {
        DWORD id;
        m_hThread = CreateThread(NULL, 0, AdviseThreadProc, this, 0, &id);
        if (m_hThread) SetThreadPriority(m_hThread, THREAD_PRIORITY_TIME_CRITICAL);
    }
    if ((m_hWake == NULL || m_hThread == NULL) && phr != NULL) *phr = E_FAIL;
}

CBaseReferenceClock::CBaseReferenceClock(LPCSTR, LPUNKNOWN pUnk, HRESULT* phr, CAMSchedule* pSched)
    : CBaseReferenceClock(static_cast<LPCTSTR>(NULL), pUnk, phr, pSched) {}

CBaseReferenceClock::~CBaseReferenceClock() {
    if (m_hThread) {
        m_bAbort = TRUE;
        SetEvent(m_hWake);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
    }
    if (m_hWake) CloseHandle(m_hWake);
}

STDMETHODIMP CBaseReferenceClock::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (IsEqualIID(riid, IID_IReferenceClock)) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

REFERENCE_TIME CBaseReferenceClock::GetPrivateTime() {
    CAutoLock lock(this);
    DWORD now = timeGetTime();
    // Unsigned difference: survives the 49-day wrap of the tick.
    m_rtPrivateTime += static_cast<REFERENCE_TIME>(now - m_dwPrevSystemTime) * (UNITS / MILLISECONDS);
    m_dwPrevSystemTime = now;
    return m_rtPrivateTime;
}

STDMETHODIMP CBaseReferenceClock::GetTime(REFERENCE_TIME* pTime) {
    CheckPointer(pTime, E_POINTER);
    CAutoLock lock(this);
    REFERENCE_TIME now = GetPrivateTime();
    HRESULT hr = S_FALSE;
    if (now > m_rtLastGotTime) {
        m_rtLastGotTime = now;
        hr = S_OK;
    }
    *pTime = m_rtLastGotTime;
    return hr;
}

STDMETHODIMP CBaseReferenceClock::SetTimeDelta(const REFERENCE_TIME& TimeDelta) {
    CAutoLock lock(this);
    m_rtPrivateTime += TimeDelta;
    if (TimeDelta > 0) TriggerThread();
    return NOERROR;
}

HRESULT CBaseReferenceClock::AddAdvise(REFERENCE_TIME due, REFERENCE_TIME period, HANDLE h, DWORD_PTR* pCookie) {
    {
        CAutoLock lock(this);
        Advise a = {m_nextCookie++, due, period, h};
        try {
            m_advises.push_back(a);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        *pCookie = a.cookie;
    }
    TriggerThread();
    return NOERROR;
}

STDMETHODIMP CBaseReferenceClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                             DWORD_PTR* pdwAdviseCookie) {
    CheckPointer(pdwAdviseCookie, E_POINTER);
    *pdwAdviseCookie = 0;
    const REFERENCE_TIME due = baseTime + streamTime;
    if (due <= 0 || streamTime < 0 || hEvent == 0) return E_INVALIDARG;
    return AddAdvise(due, 0, reinterpret_cast<HANDLE>(hEvent), pdwAdviseCookie);
}

STDMETHODIMP CBaseReferenceClock::AdvisePeriodic(REFERENCE_TIME StartTime, REFERENCE_TIME PeriodTime,
                                                 HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) {
    CheckPointer(pdwAdviseCookie, E_POINTER);
    *pdwAdviseCookie = 0;
    if (StartTime <= 0 || PeriodTime <= 0 || hSemaphore == 0) return E_INVALIDARG;
    return AddAdvise(StartTime, PeriodTime, reinterpret_cast<HANDLE>(hSemaphore), pdwAdviseCookie);
}

STDMETHODIMP CBaseReferenceClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    CAutoLock lock(this);
    for (size_t i = 0; i < m_advises.size(); i++) {
        if (m_advises[i].cookie == dwAdviseCookie) {
            m_advises.erase(m_advises.begin() + static_cast<ptrdiff_t>(i));
            return S_OK;
        }
    }
    return S_FALSE;
}

DWORD WINAPI CBaseReferenceClock::AdviseThreadProc(LPVOID pv) {
    return static_cast<CBaseReferenceClock*>(pv)->AdviseThread();
}

DWORD CBaseReferenceClock::AdviseThread() {
    while (!m_bAbort) {
        DWORD wait = INFINITE;
        {
            CAutoLock lock(this);
            REFERENCE_TIME now = GetPrivateTime();
            for (size_t i = 0; i < m_advises.size();) {
                Advise& a = m_advises[i];
                if (a.due <= now) {
                    if (a.period == 0) {
                        SetEvent(a.handle);
                        m_advises.erase(m_advises.begin() + static_cast<ptrdiff_t>(i));
                        continue;
                    }
                    ReleaseSemaphore(a.handle, 1, NULL);
                    a.due += a.period;
                    if (a.due <= now) a.due = now + a.period;  // fell behind: no burst
                }
                REFERENCE_TIME ms = (a.due - now + (UNITS / MILLISECONDS) - 1) / (UNITS / MILLISECONDS);
                if (ms < static_cast<REFERENCE_TIME>(wait)) wait = static_cast<DWORD>(ms);
                i++;
            }
        }
        WaitForSingleObject(m_hWake, wait);
    }
    return 0;
}
