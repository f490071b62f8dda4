#include "platform/dshow/Sync.h"

CAMEvent::CAMEvent(BOOL fManualReset, HRESULT* phr) {
    m_hEvent = CreateEventW(NULL, fManualReset, FALSE, NULL);
    if (m_hEvent == NULL && phr != NULL && SUCCEEDED(*phr)) *phr = E_OUTOFMEMORY;
}

CAMEvent::~CAMEvent() {
    if (m_hEvent) CloseHandle(m_hEvent);
}

BOOL CAMMsgEvent::WaitMsg(DWORD dwTimeout) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD wait = INFINITE;
        if (dwTimeout != INFINITE) {
            DWORD elapsed = GetTickCount() - start;
            wait = elapsed >= dwTimeout ? 0 : dwTimeout - elapsed;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &m_hEvent, FALSE, wait, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return TRUE;
        if (r != WAIT_OBJECT_0 + 1) return FALSE;
        MSG msg;
        // Dispatches the sent messages only.
        PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);
    }
}

CAMThread::CAMThread(HRESULT* phr)
    : m_hThread(NULL), m_EventSend(TRUE, phr), m_EventComplete(FALSE, phr), m_dwParam(0), m_dwReturnVal(0) {}

CAMThread::~CAMThread() {
    Close();
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID pv) {
    return static_cast<CAMThread*>(pv)->ThreadProc();
}

BOOL CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    if (ThreadExists()) return FALSE;
    DWORD id;
    m_hThread = CreateThread(NULL, 0, InitialThreadProc, this, 0, &id);
    return m_hThread != NULL;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists()) return static_cast<DWORD>(E_FAIL);
    m_dwParam = dwParam;
    m_EventSend.Set();
    // The worker may end instead of replying; do not wait for it forever then.
    HANDLE h[2] = {m_EventComplete, m_hThread};
    DWORD r = WaitForMultipleObjects(2, h, FALSE, INFINITE);
    if (r != WAIT_OBJECT_0) return static_cast<DWORD>(E_FAIL);
    return m_dwReturnVal;
}

void CAMThread::Close() {
    HANDLE hThread = static_cast<HANDLE>(InterlockedExchangePointer(&m_hThread, NULL));
    if (hThread) {
        WaitForSingleObject(hThread, INFINITE);
        CloseHandle(hThread);
    }
}

DWORD CAMThread::GetRequest() {
    m_EventSend.Wait();
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam) {
    if (!m_EventSend.Check()) return FALSE;
    if (pParam) *pParam = m_dwParam;
    return TRUE;
}

void CAMThread::Reply(DWORD dw) {
    m_dwReturnVal = dw;
    // The request stays pending until answered, so a worker may peek at it
    // with CheckRequest, leave its loop, and answer it from GetRequest.
    m_EventSend.Reset();
    m_EventComplete.Set();
}

HRESULT CAMThread::CoInitializeHelper() {
    return CoInitializeEx(NULL, COINIT_MULTITHREADED);
}
