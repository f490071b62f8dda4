// Locks, events and the request/reply worker thread.
#pragma once

#include "platform/dshow/ComBase.h"

class CCritSec {
public:
    CCritSec() { InitializeCriticalSection(&m_CritSec); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;
    ~CCritSec() { DeleteCriticalSection(&m_CritSec); }
    void Lock() {
        EnterCriticalSection(&m_CritSec);
        if (m_lockCount++ == 0) m_currentOwner = GetCurrentThreadId();
    }
    void Unlock() {
        if (--m_lockCount == 0) m_currentOwner = 0;
        LeaveCriticalSection(&m_CritSec);
    }
    // True when the calling thread holds the lock (for lock-order asserts).
    BOOL IsOwnedByCurrentThread() const { return m_currentOwner == GetCurrentThreadId(); }

private:
    CRITICAL_SECTION m_CritSec;
    volatile DWORD m_currentOwner = 0;
    LONG m_lockCount = 0;
};

inline BOOL WINAPI CritCheckIn(const CCritSec* pcCrit) {
    return pcCrit->IsOwnedByCurrentThread();
}
inline BOOL WINAPI CritCheckOut(const CCritSec* pcCrit) {
    return !pcCrit->IsOwnedByCurrentThread();
}

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* plock) : m_pLock(plock) { m_pLock->Lock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;
    ~CAutoLock() { m_pLock->Unlock(); }

protected:
    CCritSec* m_pLock;
};

class CAMEvent {
public:
    explicit CAMEvent(BOOL fManualReset = FALSE, HRESULT* phr = NULL);
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;
    ~CAMEvent();
    operator HANDLE() const { return m_hEvent; }
    void Set() { SetEvent(m_hEvent); }
    BOOL Wait(DWORD dwTimeout = INFINITE) { return WaitForSingleObject(m_hEvent, dwTimeout) == WAIT_OBJECT_0; }
    void Reset() { ResetEvent(m_hEvent); }
    BOOL Check() { return Wait(0); }

protected:
    HANDLE m_hEvent;
};

// An event whose wait still dispatches sent messages (for threads with windows).
class CAMMsgEvent : public CAMEvent {
public:
    CAMMsgEvent(HRESULT* phr = NULL) : CAMEvent(FALSE, phr) {}
    BOOL WaitMsg(DWORD dwTimeout = INFINITE);
};

// A worker thread driven by requests: CallWorker posts a DWORD and waits
// for the worker's Reply.
class AM_NOVTABLE CAMThread {
public:
    explicit CAMThread(HRESULT* phr = NULL);
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;
    virtual ~CAMThread();

    CCritSec m_AccessLock;  // serialises CallWorker and Create
    CCritSec m_WorkerLock;  // for the worker's own data

    BOOL Create();
    DWORD CallWorker(DWORD dwParam);
    void Close();
    BOOL ThreadExists() const { return m_hThread != NULL; }
    virtual DWORD ThreadProc() = 0;

    // Worker side. A request stays pending (GetRequest and CheckRequest see
    // it again) until Reply answers it.
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* pParam);
    void Reply(DWORD dw);
    HANDLE GetRequestHandle() const { return m_EventSend; }
    DWORD GetRequestParam() const { return m_dwParam; }

    static HRESULT CoInitializeHelper();

protected:
    HANDLE m_hThread;

private:
    static DWORD WINAPI InitialThreadProc(LPVOID pv);
    CAMEvent m_EventSend;
    CAMEvent m_EventComplete;
    DWORD m_dwParam;
    DWORD m_dwReturnVal;
};
