// IAMStreamControl for live capture pins: StopAt ends the pin's stream (end
// of stream downstream) at a stream time, so what follows can finish its
// data before the graph stops. Starting is always immediate.
#pragma once

#include "platform/dshow/ComBase.h"
#include "platform/dshow/Source.h"

class CLiveStreamControl : public IAMStreamControl {
public:
    STDMETHODIMP StartAt(const REFERENCE_TIME*, DWORD) override { return S_OK; }
    // Null: end now. MAXLONGLONG: cancel. Else from that stream time on.
    STDMETHODIMP StopAt(const REFERENCE_TIME* ptStop, BOOL bSendExtra, DWORD dwCookie) override;
    STDMETHODIMP GetInfo(AM_STREAM_INFO* pInfo) override;

protected:
    // A new run: no end asked for.
    void ResetStreamEnd();
    // True the first time streamTime reaches the asked end; the caller then
    // delivers end of stream and sends nothing more.
    bool StreamEndDue(REFERENCE_TIME streamTime);
    bool StreamEnded() const { return m_ended; }

private:
    volatile LONGLONG m_stopAt = MAXLONGLONG;
    bool m_ended = false;
};

// A live capture pin: a source stream that also answers IAMStreamControl.
class AM_NOVTABLE CLiveSourceStream : public CSourceStream, public CLiveStreamControl {
public:
    using CSourceStream::CSourceStream;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
};
