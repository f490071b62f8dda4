// Stand-in for the WM ASF Writer, registered under its class id: a writer
// filter named through IFileSinkFilter and configured with a Windows Media
// profile through IConfigAsfWriter, which gives it one input pin per profile
// stream ("Audio Input 01", "Video Input 01", ...). Without Windows Media
// codecs it stores pictures as 24-bit RGB and sound as 16-bit PCM at the
// profile's rate and channels, in an ASF file laid out by the profile's
// streams (AsfFile.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "companions/asfwriter/AsfFile.h"
#include "platform/dshow/BaseClasses.h"
#include "platform/include/AsfWriterConfig.h"

class CAsfWriterFilter;

class CAsfInputPin : public CTerminalInputPin {
public:
    CAsfInputPin(CAsfWriterFilter* filter, CCritSec* lock, HRESULT* phr, const std::wstring& name,
                 const asfstandin::AsfStream& stream);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int position, CMediaType* pmt) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

    const asfstandin::AsfStream& Stream() const { return stream_; }
    bool Ended() const { return ended_; }
    void Restart();  // with the receive lock held, when the filter starts
    // The sample's data as this stream stores it; false for data that does
    // not fit the connected format.
    bool Convert(IMediaSample* sample, std::vector<std::uint8_t>& out, std::uint32_t& durationMs);

private:
    CAsfWriterFilter* filter_;
    std::wstring name_;
    asfstandin::AsfStream stream_;
    bool ended_ = false;
    std::unique_ptr<asfstandin::PcmConverter> converter_;
    std::vector<std::int16_t> pcm_;
};

class CAsfWriterFilter : public CBaseFilter,
                         public IFileSinkFilter,
                         public IConfigAsfWriter,
                         public IAMFilterMiscFlags {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN unk, HRESULT* phr);
    ~CAsfWriterFilter() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;

    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* pmt) override;

    STDMETHODIMP ConfigureFilterUsingProfileId(DWORD id) override;
    STDMETHODIMP GetCurrentProfileId(DWORD* id) override;
    STDMETHODIMP ConfigureFilterUsingProfileGuid(REFGUID profile) override;
    STDMETHODIMP GetCurrentProfileGuid(GUID* profile) override;
    STDMETHODIMP ConfigureFilterUsingProfile(IWMProfile* profile) override;
    STDMETHODIMP GetCurrentProfile(IWMProfile** profile) override;
    STDMETHODIMP SetIndexMode(BOOL index) override;
    STDMETHODIMP GetIndexMode(BOOL* index) override;

    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

private:
    friend class CAsfInputPin;
    CAsfWriterFilter(LPUNKNOWN unk, HRESULT* phr);

    HRESULT Write(CAsfInputPin* pin, IMediaSample* sample);
    void PinEnded();
    HRESULT OpenTarget();   // with the receive lock held
    HRESULT CloseTarget();  // with the receive lock held
    void DropPins();

    CCritSec filterLock_;
    CCritSec receiveLock_;
    std::vector<CAsfInputPin*> pins_;
    IWMProfile* profile_ = nullptr;
    std::wstring fileName_;
    BOOL index_ = TRUE;

    // Guarded by receiveLock_.
    class HandleSink;
    std::unique_ptr<HandleSink> sink_;
    std::unique_ptr<asfstandin::AsfFileWriter> file_;
    bool completePending_ = false;
};
