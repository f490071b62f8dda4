#include "companions/wavecap/MixerLinePin.h"

MixerLinePin::MixerLinePin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBasePin("Korvell Audio Capture line", filter, lock, phr, name, PINDIR_INPUT), m_lock(lock) {}

STDMETHODIMP MixerLinePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IAMAudioInputMixer) return GetInterface(static_cast<IAMAudioInputMixer*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP MixerLinePin::put_Enable(BOOL enable) {
    CAutoLock lock(m_lock);
    m_enabled = enable ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP MixerLinePin::get_Enable(BOOL* enable) {
    CheckPointer(enable, E_POINTER);
    CAutoLock lock(m_lock);
    *enable = m_enabled;
    return S_OK;
}

STDMETHODIMP MixerLinePin::get_Mono(BOOL* mono) {
    CheckPointer(mono, E_POINTER);
    *mono = FALSE;
    return S_OK;
}

STDMETHODIMP MixerLinePin::get_MixLevel(double* level) {
    CheckPointer(level, E_POINTER);
    *level = 1.0;
    return S_OK;
}

STDMETHODIMP MixerLinePin::get_Pan(double* pan) {
    CheckPointer(pan, E_POINTER);
    *pan = 0.0;
    return S_OK;
}
