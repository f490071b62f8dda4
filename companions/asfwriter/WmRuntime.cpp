// wmvcore.dll stand-in: the two creator functions of the Windows Media
// Format runtime that the recorder calls. Its profile manager reads the
// profile XML the recorder generates (and refuses anything else) into a
// profile that reports its streams and their media types; its writer takes
// a profile and a file name. It has no Windows Media codecs: the files are
// written by the stand-in ASF writer filter, which reads the profile.
#include <windows.h>
#include <wmsdkidl.h>

#include <mmreg.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "companions/asfwriter/ProfileLayout.h"
#include "platform/com/SelfCountedObject.h"

namespace {

using asfstandin::ProfileLayout;
using asfstandin::ProfileStream;

// Media and format types ({73647561-...} audio, {73646976-...} video; the
// wave and video-info format blocks).
const GUID kMediaAudio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kMediaVideo = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kFormatWaveFormatEx = {0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
const GUID kFormatVideoInfo = {0x05589f80, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
// NS_E_INVALID_DATA: the text is no profile this runtime can use.
const HRESULT kInvalidProfile = static_cast<HRESULT>(0xC00D002FL);

// The layout of VIDEOINFOHEADER, without the DirectShow headers.
struct VideoInfo {
    RECT source;
    RECT target;
    DWORD bitrate;
    DWORD bitErrorRate;
    LONGLONG timePerFrame;
    BITMAPINFOHEADER bitmap;
};

GUID ParseGuid(const std::string& text) {
    GUID g{};
    const std::wstring wide(text.begin(), text.end());
    if (FAILED(::CLSIDFromString(wide.c_str(), &g))) g = GUID{};
    return g;
}

DWORD FourCc(const std::string& code) {
    return static_cast<DWORD>(static_cast<unsigned char>(code[0])) |
           static_cast<DWORD>(static_cast<unsigned char>(code[1])) << 8 |
           static_cast<DWORD>(static_cast<unsigned char>(code[2])) << 16 |
           static_cast<DWORD>(static_cast<unsigned char>(code[3])) << 24;
}

// A text out through the (buffer, length in characters) convention: the
// length with its zero when the buffer is null or too short.
template <typename Count>
HRESULT CopyText(const std::string& text, WCHAR* out, Count* length) {
    if (!length) return E_POINTER;
    const std::wstring wide(text.begin(), text.end());
    const Count needed = static_cast<Count>(wide.size() + 1);
    if (!out) {
        *length = needed;
        return S_OK;
    }
    if (*length < needed) {
        *length = needed;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(out, wide.c_str(), needed * sizeof(WCHAR));
    *length = needed;
    return S_OK;
}

std::string Narrow(const WCHAR* text) {
    std::string out;
    for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

class StreamConfig final : public SelfCountedObject<IWMStreamConfig, IWMMediaProps> {
public:
    explicit StreamConfig(const ProfileStream& stream) : s_(stream) {}
    ~StreamConfig() override = default;

    STDMETHODIMP GetStreamType(GUID* type) override { return GetType(type); }
    STDMETHODIMP GetStreamNumber(WORD* number) override {
        if (!number) return E_POINTER;
        *number = static_cast<WORD>(s_.number);
        return S_OK;
    }
    STDMETHODIMP SetStreamNumber(WORD number) override {
        if (number < 1 || number > 63) return E_INVALIDARG;
        s_.number = number;
        return S_OK;
    }
    STDMETHODIMP GetStreamName(WCHAR* name, WORD* length) override { return CopyText(s_.name, name, length); }
    STDMETHODIMP SetStreamName(LPCWSTR_WMSDK_TYPE_SAFE name) override {
        s_.name = Narrow(reinterpret_cast<const WCHAR*>(name));
        return S_OK;
    }
    STDMETHODIMP GetConnectionName(WCHAR* name, WORD* length) override { return CopyText(s_.inputName, name, length); }
    STDMETHODIMP SetConnectionName(LPCWSTR_WMSDK_TYPE_SAFE name) override {
        s_.inputName = Narrow(reinterpret_cast<const WCHAR*>(name));
        return S_OK;
    }
    STDMETHODIMP GetBitrate(DWORD* bitrate) override {
        if (!bitrate) return E_POINTER;
        *bitrate = static_cast<DWORD>(s_.bitrate);
        return S_OK;
    }
    STDMETHODIMP SetBitrate(DWORD bitrate) override {
        s_.bitrate = static_cast<long>(bitrate);
        return S_OK;
    }
    STDMETHODIMP GetBufferWindow(DWORD* window) override {
        if (!window) return E_POINTER;
        *window = static_cast<DWORD>(s_.bufferWindow);
        return S_OK;
    }
    STDMETHODIMP SetBufferWindow(DWORD window) override {
        s_.bufferWindow = static_cast<long>(window);
        return S_OK;
    }

    STDMETHODIMP GetType(GUID* type) override {
        if (!type) return E_POINTER;
        *type = s_.audio ? kMediaAudio : kMediaVideo;
        return S_OK;
    }
    // The media type with its format block right behind it.
    STDMETHODIMP GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override {
        if (!size) return E_POINTER;
        const DWORD formatSize = s_.audio ? sizeof(WAVEFORMATEX) : sizeof(VideoInfo);
        const DWORD needed = sizeof(WM_MEDIA_TYPE) + formatSize;
        if (!type) {
            *size = needed;
            return S_OK;
        }
        if (*size < needed) {
            *size = needed;
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memset(type, 0, needed);
        BYTE* format = reinterpret_cast<BYTE*>(type) + sizeof(WM_MEDIA_TYPE);
        type->majortype = s_.audio ? kMediaAudio : kMediaVideo;
        type->subtype = ParseGuid(s_.subtype);
        type->cbFormat = formatSize;
        type->pbFormat = format;
        if (s_.audio) {
            type->bFixedSizeSamples = TRUE;
            type->lSampleSize = static_cast<ULONG>(s_.blockAlign);
            type->formattype = kFormatWaveFormatEx;
            WAVEFORMATEX wave{};
            wave.wFormatTag = static_cast<WORD>(s_.formatTag);
            wave.nChannels = static_cast<WORD>(s_.channels);
            wave.nSamplesPerSec = static_cast<DWORD>(s_.samplesPerSec);
            wave.nAvgBytesPerSec = static_cast<DWORD>(s_.avgBytesPerSec);
            wave.nBlockAlign = static_cast<WORD>(s_.blockAlign);
            wave.wBitsPerSample = static_cast<WORD>(s_.bitsPerSample);
            std::memcpy(format, &wave, sizeof wave);
        } else {
            type->bTemporalCompression = TRUE;
            type->formattype = kFormatVideoInfo;
            VideoInfo info{};
            info.bitrate = static_cast<DWORD>(s_.bitrate);
            info.timePerFrame = s_.avgTimePerFrame;
            info.bitmap.biSize = sizeof(BITMAPINFOHEADER);
            info.bitmap.biWidth = s_.width;
            info.bitmap.biHeight = s_.height;
            info.bitmap.biPlanes = 1;
            info.bitmap.biBitCount = static_cast<WORD>(s_.bitCount);
            info.bitmap.biCompression = FourCc(s_.fourcc);
            std::memcpy(format, &info, sizeof info);
        }
        *size = needed;
        return S_OK;
    }
    STDMETHODIMP SetMediaType(WM_MEDIA_TYPE*) override { return E_NOTIMPL; }

private:
    ProfileStream s_;
};

class Profile final : public SelfCountedObject<IWMProfile> {
public:
    explicit Profile(const ProfileLayout& layout) : layout_(layout) {
        for (const ProfileStream& s : layout.streams) {
            StreamConfig* config = new (std::nothrow) StreamConfig(s);
            if (config) streams_.push_back(config);
        }
    }
    ~Profile() override {
        for (StreamConfig* s : streams_) s->Release();
    }
    bool Complete() const { return streams_.size() == layout_.streams.size(); }

    STDMETHODIMP GetVersion(WMT_VERSION* version) override {
        if (!version) return E_POINTER;
        *version = WMT_VER_9_0;
        return S_OK;
    }
    STDMETHODIMP GetName(WCHAR* name, DWORD* length) override { return CopyText(layout_.name, name, length); }
    STDMETHODIMP SetName(const WCHAR* name) override {
        layout_.name = Narrow(name);
        return S_OK;
    }
    STDMETHODIMP GetDescription(WCHAR* text, DWORD* length) override {
        return CopyText(layout_.description, text, length);
    }
    STDMETHODIMP SetDescription(const WCHAR* text) override {
        layout_.description = Narrow(text);
        return S_OK;
    }
    STDMETHODIMP GetStreamCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<DWORD>(streams_.size());
        return S_OK;
    }
    STDMETHODIMP GetStream(DWORD index, IWMStreamConfig** config) override {
        if (!config) return E_POINTER;
        *config = nullptr;
        if (index >= streams_.size()) return E_INVALIDARG;
        streams_[index]->AddRef();
        *config = streams_[index];
        return S_OK;
    }
    STDMETHODIMP GetStreamByNumber(WORD number, IWMStreamConfig** config) override {
        if (!config) return E_POINTER;
        *config = nullptr;
        for (StreamConfig* s : streams_) {
            WORD n = 0;
            if (SUCCEEDED(s->GetStreamNumber(&n)) && n == number) {
                s->AddRef();
                *config = s;
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }
    // The profiles are read, not edited, here.
    STDMETHODIMP RemoveStream(IWMStreamConfig*) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveStreamByNumber(WORD) override { return E_NOTIMPL; }
    STDMETHODIMP AddStream(IWMStreamConfig*) override { return E_NOTIMPL; }
    STDMETHODIMP ReconfigStream(IWMStreamConfig*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateNewStream(REFGUID, IWMStreamConfig**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMutualExclusionCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetMutualExclusion(DWORD, IWMMutualExclusion**) override { return E_INVALIDARG; }
    STDMETHODIMP RemoveMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
    STDMETHODIMP AddMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateNewMutualExclusion(IWMMutualExclusion**) override { return E_NOTIMPL; }

private:
    ProfileLayout layout_;
    std::vector<StreamConfig*> streams_;
};

class ProfileManager final : public SelfCountedObject<IWMProfileManager> {
public:
    ~ProfileManager() override = default;

    STDMETHODIMP CreateEmptyProfile(WMT_VERSION, IWMProfile**) override { return E_NOTIMPL; }
    STDMETHODIMP LoadProfileByID(REFGUID, IWMProfile**) override { return E_NOTIMPL; }
    STDMETHODIMP LoadProfileByData(const WCHAR* text, IWMProfile** profile) override {
        if (!text || !profile) return E_POINTER;
        *profile = nullptr;
        const std::optional<ProfileLayout> layout = asfstandin::ParseProfileXml(Narrow(text));
        if (!layout) return kInvalidProfile;
        Profile* made = new (std::nothrow) Profile(*layout);
        if (!made) return E_OUTOFMEMORY;
        if (!made->Complete()) {
            made->Release();
            return E_OUTOFMEMORY;
        }
        *profile = made;
        return S_OK;
    }
    STDMETHODIMP SaveProfile(IWMProfile*, WCHAR*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSystemProfileCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP LoadSystemProfile(DWORD, IWMProfile**) override { return E_INVALIDARG; }
};

// Takes a profile and a file name; the writing itself is the ASF writer
// filter's, so the writing calls say they are not there.
class Writer final : public SelfCountedObject<IWMWriter, IWMHeaderInfo> {
public:
    ~Writer() override {
        if (profile_) profile_->Release();
    }

    STDMETHODIMP SetProfileByID(REFGUID) override { return E_NOTIMPL; }
    STDMETHODIMP SetProfile(IWMProfile* profile) override {
        if (!profile) return E_POINTER;
        profile->AddRef();
        if (profile_) profile_->Release();
        profile_ = profile;
        return S_OK;
    }
    STDMETHODIMP SetOutputFilename(const WCHAR* name) override {
        if (!name || !*name) return E_INVALIDARG;
        file_ = name;
        return S_OK;
    }
    STDMETHODIMP GetInputCount(DWORD* count) override {
        if (!count) return E_POINTER;
        if (!profile_) return E_UNEXPECTED;
        return profile_->GetStreamCount(count);
    }
    STDMETHODIMP GetInputProps(DWORD, IWMInputMediaProps**) override { return E_NOTIMPL; }
    STDMETHODIMP SetInputProps(DWORD, IWMInputMediaProps*) override { return E_NOTIMPL; }
    STDMETHODIMP GetInputFormatCount(DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetInputFormat(DWORD, DWORD, IWMInputMediaProps**) override { return E_NOTIMPL; }
    STDMETHODIMP BeginWriting() override { return E_NOTIMPL; }
    STDMETHODIMP EndWriting() override { return E_NOTIMPL; }
    STDMETHODIMP AllocateSample(DWORD, INSSBuffer**) override { return E_NOTIMPL; }
    STDMETHODIMP WriteSample(DWORD, QWORD, DWORD, INSSBuffer*) override { return E_NOTIMPL; }
    STDMETHODIMP Flush() override { return E_NOTIMPL; }

    STDMETHODIMP GetAttributeCount(WORD, WORD* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetAttributeByIndex(WORD, WORD*, WCHAR*, WORD*, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override {
        return E_INVALIDARG;
    }
    STDMETHODIMP GetAttributeByName(WORD*, LPCWSTR, WMT_ATTR_DATATYPE*, BYTE*, WORD*) override { return E_INVALIDARG; }
    STDMETHODIMP SetAttribute(WORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE*, WORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetMarkerCount(WORD* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetMarker(WORD, WCHAR*, WORD*, QWORD*) override { return E_INVALIDARG; }
    STDMETHODIMP AddMarker(LPCWSTR_WMSDK_TYPE_SAFE, QWORD) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMarker(WORD) override { return E_INVALIDARG; }
    STDMETHODIMP GetScriptCount(WORD* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*) override { return E_INVALIDARG; }
    STDMETHODIMP AddScript(LPCWSTR_WMSDK_TYPE_SAFE, LPCWSTR_WMSDK_TYPE_SAFE, QWORD) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveScript(WORD) override { return E_INVALIDARG; }

private:
    IWMProfile* profile_ = nullptr;
    std::wstring file_;
};

}  // namespace

extern "C" HRESULT STDMETHODCALLTYPE WMCreateProfileManager(IWMProfileManager** manager) {
    if (!manager) return E_POINTER;
    *manager = new (std::nothrow) ProfileManager();
    return *manager ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT STDMETHODCALLTYPE WMCreateWriter(IUnknown*, IWMWriter** writer) {
    if (!writer) return E_POINTER;
    *writer = new (std::nothrow) Writer();
    return *writer ? S_OK : E_OUTOFMEMORY;
}
