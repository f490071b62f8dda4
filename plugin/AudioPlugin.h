// CAnvelo_Audio_Plugin: the DSP media object the player loads. PCM passes
// through unchanged; while enabled, every output buffer is also sent to the
// shared audio block.
#pragma once

#include "platform/dshow/BaseClasses.h"

#include "platform/include/DmoRuntime.h"

#include <memory>

#include "platform/com/ComPtr.h"
#include "platform/include/PlayerPlugin.h"
#include "plugin/PluginIds.h"
#include "plugin/core/OutputSplitter.h"

class CAudioSonifer;

class CAnveloAudioPlugin : public CUnknown,
                           public IMediaObject,
                           public IWMPPluginEnable,
                           public ISpecifyPropertyPages,
                           public IScaleFactorSetting {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMediaObject
    STDMETHODIMP GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) override;
    STDMETHODIMP GetInputStreamInfo(DWORD dwInputStreamIndex, DWORD* pdwFlags) override;
    STDMETHODIMP GetOutputStreamInfo(DWORD dwOutputStreamIndex, DWORD* pdwFlags) override;
    STDMETHODIMP GetInputType(DWORD dwInputStreamIndex, DWORD dwTypeIndex, DMO_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetOutputType(DWORD dwOutputStreamIndex, DWORD dwTypeIndex, DMO_MEDIA_TYPE* pmt) override;
    STDMETHODIMP SetInputType(DWORD dwInputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) override;
    STDMETHODIMP SetOutputType(DWORD dwOutputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) override;
    STDMETHODIMP GetInputCurrentType(DWORD dwInputStreamIndex, DMO_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetOutputCurrentType(DWORD dwOutputStreamIndex, DMO_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetInputSizeInfo(DWORD dwInputStreamIndex, DWORD* pcbSize, DWORD* pcbMaxLookahead,
                                  DWORD* pcbAlignment) override;
    STDMETHODIMP GetOutputSizeInfo(DWORD dwOutputStreamIndex, DWORD* pcbSize, DWORD* pcbAlignment) override;
    STDMETHODIMP GetInputMaxLatency(DWORD dwInputStreamIndex, REFERENCE_TIME* prtMaxLatency) override;
    STDMETHODIMP SetInputMaxLatency(DWORD dwInputStreamIndex, REFERENCE_TIME rtMaxLatency) override;
    STDMETHODIMP Flush() override;
    STDMETHODIMP Discontinuity(DWORD dwInputStreamIndex) override;
    STDMETHODIMP AllocateStreamingResources() override;
    STDMETHODIMP FreeStreamingResources() override;
    STDMETHODIMP GetInputStatus(DWORD dwInputStreamIndex, DWORD* dwFlags) override;
    STDMETHODIMP ProcessInput(DWORD dwInputStreamIndex, IMediaBuffer* pBuffer, DWORD dwFlags,
                              REFERENCE_TIME rtTimestamp, REFERENCE_TIME rtTimelength) override;
    STDMETHODIMP ProcessOutput(DWORD dwFlags, DWORD cOutputBufferCount, DMO_OUTPUT_DATA_BUFFER* pOutputBuffers,
                               DWORD* pdwStatus) override;
    STDMETHODIMP Lock(LONG bLock) override;

    // IWMPPluginEnable
    STDMETHODIMP SetEnable(BOOL fEnable) override;
    STDMETHODIMP GetEnable(BOOL* pfEnable) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // IScaleFactorSetting
    STDMETHODIMP GetScaleFactor(double* pFactor) override;
    STDMETHODIMP SetScaleFactor(double factor) override;

private:
    explicit CAnveloAudioPlugin(LPUNKNOWN pUnk);
    ~CAnveloAudioPlugin() override;

    HRESULT SetType(DMO_MEDIA_TYPE& mine, const DMO_MEDIA_TYPE& other, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags);
    HRESULT OfferType(const DMO_MEDIA_TYPE& other, DWORD dwTypeIndex, DMO_MEDIA_TYPE* pmt);
    void ReleaseHeld();

    CRITICAL_SECTION lock_;  // guards the scale factor, set from the page's thread
    DMO_MEDIA_TYPE input_;
    DMO_MEDIA_TYPE output_;
    com::ComPtr<IMediaBuffer> held_;
    const BYTE* heldData_ = nullptr;
    plugin::HeldInput heldState_;
    double scaleFactor_ = 1.0;
    volatile LONG enabled_ = TRUE;
    std::shared_ptr<CAudioSonifer> sonifer_;
};
