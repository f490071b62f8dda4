#include "platform/dshow/LiveStreamControl.h"

#include <cstring>

STDMETHODIMP CLiveStreamControl::StopAt(const REFERENCE_TIME* ptStop, BOOL, DWORD) {
    m_stopAt = ptStop ? *ptStop : 0;
    return S_OK;
}

STDMETHODIMP CLiveStreamControl::GetInfo(AM_STREAM_INFO* pInfo) {
    CheckPointer(pInfo, E_POINTER);
    std::memset(pInfo, 0, sizeof *pInfo);
    if (m_stopAt != MAXLONGLONG) {
        pInfo->tStop = m_stopAt;
        pInfo->dwFlags = AM_STREAM_INFO_STOP_DEFINED;
    }
    if (m_ended) pInfo->dwFlags |= AM_STREAM_INFO_DISCARDING;
    return S_OK;
}

void CLiveStreamControl::ResetStreamEnd() {
    m_stopAt = MAXLONGLONG;
    m_ended = false;
}

bool CLiveStreamControl::StreamEndDue(REFERENCE_TIME streamTime) {
    if (m_ended || streamTime < m_stopAt) return false;
    m_ended = true;
    return true;
}

STDMETHODIMP CLiveSourceStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IAMStreamControl) return GetInterface(static_cast<IAMStreamControl*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}
