// An input line of "Korvell Audio Capture", as a sound card's capture filter
// lists its mixer lines: an input pin that takes no connection and carries
// IAMAudioInputMixer, so that a recorder can list, select and enable it.
// The wave input has one line: what the default recording device hears.
#pragma once

#include "platform/dshow/BaseClasses.h"

class MixerLinePin : public CBasePin, public IAMAudioInputMixer {
public:
    MixerLinePin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Nothing connects to a line.
    HRESULT CheckMediaType(const CMediaType*) override { return E_FAIL; }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }

    // IAMAudioInputMixer: the enable switch is kept; the line's sound
    // settings are fixed.
    STDMETHODIMP put_Enable(BOOL enable) override;
    STDMETHODIMP get_Enable(BOOL* enable) override;
    STDMETHODIMP put_Mono(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Mono(BOOL* mono) override;
    STDMETHODIMP put_MixLevel(double) override { return E_NOTIMPL; }
    STDMETHODIMP get_MixLevel(double* level) override;
    STDMETHODIMP put_Pan(double) override { return E_NOTIMPL; }
    STDMETHODIMP get_Pan(double* pan) override;
    STDMETHODIMP put_Loudness(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Loudness(BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Treble(double) override { return E_NOTIMPL; }
    STDMETHODIMP get_Treble(double*) override { return E_NOTIMPL; }
    STDMETHODIMP get_TrebleRange(double*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Bass(double) override { return E_NOTIMPL; }
    STDMETHODIMP get_Bass(double*) override { return E_NOTIMPL; }
    STDMETHODIMP get_BassRange(double*) override { return E_NOTIMPL; }

private:
    CCritSec* m_lock;
    BOOL m_enabled = TRUE;
};
