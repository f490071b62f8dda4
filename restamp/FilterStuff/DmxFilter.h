// "Korvell Chronel": cuts the multiplexed input into 1,000-byte chunks, lets
// the stream parser read each one in place, and passes every chunk on
// re-stamped on one continuous timeline.
#pragma once

#include "platform/dshow/BaseClasses.h"
#include "restamp/DemuxCommon/ChunkDispatcher.h"
#include "restamp/FilterStuff/ChronelIds.h"
#include "restamp/FilterStuff/DmxOutPin.h"
#include "restamp/FilterStuff/LogShell.h"
#include "restamp/FilterStuff/SequentialAllocator.h"

#include <atomic>
#include <memory>
#include <vector>

class CDmxPushFilter;

// The filter's own reference clock. The filter keeps it for its lifetime and
// offers it to nobody, so the graph never picks it as its clock.
class CDmxrClock : public CBaseReferenceClock {
public:
    explicit CDmxrClock(HRESULT* phr) : CBaseReferenceClock(NAME("DmxrClock"), NULL, phr) {}
};

class CDmxPushInPin : public CBaseInputPin {
public:
    CDmxPushInPin(CDmxPushFilter* pFilter, CCritSec* pLock, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

    // Sends the carried bytes not yet sent downstream at once, ahead of their
    // chunk (which is still parsed whole when it fills). Receive lock held.
    HRESULT DeliverCarried();

private:
    // Hands the carried bytes on as one (short) chunk.
    HRESULT FlushCarry();
    HRESULT SendChunk(const BYTE* carried, long carriedLen, const BYTE* p, long len, const REFERENCE_TIME* times);
    void EmptyCarry() { m_carried = m_carrySent = 0; }

    CDmxPushFilter* m_pDmx;
    BYTE m_carry[1000];
    long m_carried = 0;
    long m_carrySent = 0;  // leading carried bytes already sent downstream
};

class CDmxPushFilter : public CBaseFilter,
                       public ISpecifyPropertyPages,
                       public IAMStreamSelect,
                       public IVexoParserSettings,
                       public chronel::ChunkDispatcherOwner {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
    ~CDmxPushFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IBaseFilter / IMediaFilter
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP Stop() override;
    LPAMOVIESETUP_FILTER GetSetupData() override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // IAMStreamSelect
    STDMETHODIMP Count(DWORD* pcStreams) override;
    STDMETHODIMP Info(long lIndex, AM_MEDIA_TYPE** ppmt, DWORD* pdwFlags, LCID* plcid, DWORD* pdwGroup,
                      WCHAR** ppszName, IUnknown** ppObject, IUnknown** ppUnk) override;
    STDMETHODIMP Enable(long lIndex, DWORD dwFlags) override;

    // IVexoParserSettings
    STDMETHODIMP Reserved3() override { return S_OK; }
    STDMETHODIMP GetFormatName(LPWSTR* name, void* context) override;
    STDMETHODIMP Reserved5(void*) override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6(void*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSettingsWord(DWORD word) override;

    // Calls of the input pin.
    void OnTime(int64_t time) override;
    // alreadySent: leading bytes of the chunk that went downstream before it filled.
    HRESULT ProcessInput(IMediaSample* pChunk, long alreadySent);
    // Bytes sent ahead of their chunk, unstamped, to output pin 0.
    HRESULT DeliverAhead(const BYTE* p, long cb);
    HRESULT OnEndOfStream();
    HRESULT OnBeginFlush();
    HRESULT OnEndFlush();
    HRESULT OnInputConnected(IPin* pUpstream);
    HRESULT OnInputDisconnected();
    CSequentialAllocator* InputAllocator() { return m_pInputAllocator; }
    HRESULT MakeInputAllocators(IMemAllocator** ppPinAllocator);
    void ReleaseInputAllocators();
    CCritSec* ReceiveLock() { return &m_receiveLock; }
    // Running: the input pin may carry bytes until their chunk fills.
    bool HoldsBack() const { return m_holdBack.load(); }

    // Makes an output pin (the class factory asks for "Output").
    HRESULT CreateOutputPin(LPCWSTR name, const DmxStreamDescriptor& stream);
    // Replaces the stream parser behind the filter.
    void SetDispatcher(std::unique_ptr<chronel::ChunkDispatcher> dispatcher);

private:
    CDmxPushFilter(LPUNKNOWN pUnk, HRESULT* phr);
    void ResetStreamState();
    // Stopping: what the filter holds (carried input, queued output) goes
    // downstream, waiting at most kHandOnTimeoutMs for the queues.
    void HandOnHeldBytes();
    CDmxOutPin* OutPin(size_t i) { return i < m_outPins.size() ? m_outPins[i] : nullptr; }
    // The chunk from `from` on, in three pieces: up to split with the
    // chunk's time, the header, the rest (both without a time).
    HRESULT DeliverWithSeqHeader(CDmxOutPin* out, const BYTE* p, long len, long from, uint32_t split,
                                 const uint8_t* header, uint32_t headerLength, int64_t t);

    CCritSec m_filterLock;
    CCritSec m_receiveLock;
    CCritSec m_pinChangeLock;
    ChronelLog m_log;
    std::vector<CDmxOutPin*> m_outPins;
    std::unique_ptr<chronel::ChunkDispatcher> m_dispatcher;
    CDmxPushInPin* m_pInput = nullptr;
    CSequentialAllocator* m_pInputAllocator = nullptr;
    CDmxrClock* m_pClock = nullptr;  // one reference, from construction to destruction
    LONGLONG m_position = 0;         // stream offset of the current chunk
    int64_t m_keptTime = 0;
    DWORD m_settingsWord = 0;
    std::atomic<bool> m_holdBack{false};
};
