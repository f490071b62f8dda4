// Delivers samples to a downstream input pin, either directly or from a
// thread of its own, in batches handed over with ReceiveMultiple.
#pragma once

#include <deque>

#include "platform/dshow/Sync.h"

#define DEFAULTCACHE 10

class COutputQueue : public CCritSec {
public:
    // bAuto: queue only when the downstream pin says its Receive can block;
    // otherwise bQueue decides. Batches of lBatchSize go downstream; with
    // bBatchExact no smaller batch goes unless forced by SendAnyway, end of
    // stream or a new segment.
    COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto = TRUE, BOOL bQueue = TRUE, LONG lBatchSize = 1,
                 BOOL bBatchExact = FALSE, LONG lListSize = DEFAULTCACHE, DWORD dwPriority = THREAD_PRIORITY_NORMAL,
                 bool bFlushingOpt = false);
    ~COutputQueue();

    void BeginFlush();
    void EndFlush();
    void EOS();
    void SendAnyway();
    void NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
    // Takes over the caller's reference on each sample.
    HRESULT Receive(IMediaSample* pSample);
    HRESULT ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nSamplesProcessed);
    // Clears a downstream error so delivery resumes.
    void Reset();
    BOOL IsIdle();
    // Set (if given) each time the thread takes samples off the queue.
    void SetPopEvent(HANDLE hEvent) { m_hEventPop = hEvent; }

protected:
    enum ItemKind { ITEM_SAMPLE, ITEM_EOS, ITEM_SEGMENT, ITEM_RESET, ITEM_SEND, ITEM_SYNC };
    struct Item {
        ItemKind kind;
        IMediaSample* pSample;
        REFERENCE_TIME tStart, tStop;
        double dRate;
    };

    static DWORD WINAPI InitialThreadProc(LPVOID pv);
    DWORD ThreadProc();
    bool IsQueued() const { return m_hThread != NULL; }
    HRESULT Push(const Item& item, bool wake);
    void FreeSamples();
    HRESULT SendBatch(IMediaSample** ppSamples, long n);
    void DeliverBatched();

    IPin* m_pPin;
    IMemInputPin* m_pInputPin;
    BOOL m_bBatchExact;
    LONG m_lBatchSize;
    std::deque<Item> m_List;
    LONG m_lSamplesQueued;  // sample items in m_List
    HANDLE m_hSem;          // wakes the thread
    CAMEvent m_evFlushComplete;
    HANDLE m_hThread;
    IMediaSample** m_ppSamples;  // direct mode batch
    LONG m_nBatched;
    BOOL m_bFlushing;
    BOOL m_bTerminate;
    BOOL m_bSendAnyway;
    BOOL m_bThreadBusy;
    volatile HRESULT m_hr;
    HANDLE m_hEventPop;
};
