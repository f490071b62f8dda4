// A reference clock driven by the system tick, with one-shot and periodic
// advise requests served by a thread of its own.
#pragma once

#include <vector>

#include "platform/dshow/ComBase.h"
#include "platform/dshow/RefTime.h"
#include "platform/dshow/Sync.h"

class CAMSchedule;

class CBaseReferenceClock : public CUnknown, public IReferenceClock, public CCritSec {
public:
    CBaseReferenceClock(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CAMSchedule* pSched = 0);
    CBaseReferenceClock(LPCSTR pName, LPUNKNOWN pUnk, HRESULT* phr, CAMSchedule* pSched = 0);
    ~CBaseReferenceClock() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IReferenceClock. GetTime never goes backwards; S_FALSE when it has not
    // moved since the last call.
    STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override;
    STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                            DWORD_PTR* pdwAdviseCookie) override;
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME StartTime, REFERENCE_TIME PeriodTime, HSEMAPHORE hSemaphore,
                                DWORD_PTR* pdwAdviseCookie) override;
    STDMETHODIMP Unadvise(DWORD_PTR dwAdviseCookie) override;

    // The clock's own time base; the default counts system milliseconds.
    virtual REFERENCE_TIME GetPrivateTime();
    // Moves the clock by delta (for clocks that follow another source).
    STDMETHODIMP SetTimeDelta(const REFERENCE_TIME& TimeDelta);
    // Wakes the advise thread to look at the list again.
    void TriggerThread() { SetEvent(m_hWake); }

private:
    struct Advise {
        DWORD_PTR cookie;
        REFERENCE_TIME due;
        REFERENCE_TIME period;  // 0: one-shot event
        HANDLE handle;
    };
    static DWORD WINAPI AdviseThreadProc(LPVOID pv);
    DWORD AdviseThread();
    HRESULT AddAdvise(REFERENCE_TIME due, REFERENCE_TIME period, HANDLE h, DWORD_PTR* pCookie);

    REFERENCE_TIME m_rtPrivateTime;
    REFERENCE_TIME m_rtLastGotTime;
    DWORD m_dwPrevSystemTime;
    std::vector<Advise> m_advises;
    DWORD_PTR m_nextCookie;
    HANDLE m_hWake;
    HANDLE m_hThread;
    volatile BOOL m_bAbort;
};
