// The video encoder's parameter set: 72 parameters bound into the 1,064-byte
// settings record, the apply rules of a commit, and the video-type presets.
#pragma once

#include "codec/paramkit/ModuleConfig.h"
#include "codec/videoencoder/VideoEncCore.h"
#include "codec/videoencoder/VideoEncParams.h"

#include <string>

// The record with aligned copies of the three engine fields that lie at odd
// offsets (bytes 817, 837 and 857): parameters bind to the copies, commits
// write both.
struct VideoEncSettings {
    vidcore::Record rec;
    int32_t svcdOffsets;
    int32_t calcPsnr;
    int32_t picDisplayExt;
    // The statistics file name: a BSTR does not fit the record's word on
    // 64-bit builds, where it would overrun "ClosedCaption".
    BSTR statsFile;
};

// What the configuration asks of its filter.
class VideoEncHost {
public:
    virtual IUnknown* Owner() = 0;
    virtual bool InputConnected() = 0;
    // Frame-rate code detected from the input (3 when there is none).
    virtual int DetectedFrameRateCode() = 0;
    // Picture aspect of the input (1:1 unless the type says otherwise).
    virtual void PictureAspect(int* x, int* y) = 0;
    virtual void Reconnect(bool input, bool output) = 0;

protected:
    ~VideoEncHost() = default;
};

class ConfigVideoEncImpl : public ModuleConfig::CModuleConfigImpl<VideoEncSettings> {
public:
    ConfigVideoEncImpl(VideoEncHost* host, VideoEncSettings* settings);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP SetValue(const GUID* id, const VARIANT* value) override;
    HRESULT CheckVersion() override { return SettingsVersion() == 3 ? S_OK : E_FAIL; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) override;

    // The preset of a video type and format on a record; it sets pending values.
    HRESULT RunPreset(vidcore::Record& r, int videoType, int videoFormat);
    // Pending values of the filter's own use.
    HRESULT SetPendingInt(int index, int value);
    int PendingInt(int index);
    HRESULT SetPendingText(int index, const std::wstring& text);
    ModuleConfig::CBaseParam* Param(int index) const { return ParamAt(static_cast<size_t>(index)); }

    // Key of this host program's settings, or empty when it has none.
    static std::wstring RegistryKeyPath();
    // A fresh base path for two-pass statistics.
    static std::wstring DefaultStatsFileName();

private:
    VideoEncHost* host_;
};
