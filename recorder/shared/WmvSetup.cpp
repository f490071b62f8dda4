#include "recorder/shared/WmvSetup.h"

#include "platform/include/AsfWriterConfig.h"
#include "platform/include/WmvCore.h"
#include "recorder/core/WmvProfile.h"
#include "recorder/shared/TextCodePage.h"

#include <cstring>
#include <optional>
#include <vector>

namespace capture {

const CLSID kWmAsfWriter = {0x7c23220e, 0x55bb, 0x11d3, {0x8b, 0x16, 0x00, 0xc0, 0x4f, 0xb6, 0xbd, 0x3d}};

namespace {

// NS_E_FILE_OPEN_FAILED: the profile path names no disk file.
const HRESULT kNotADiskFile = static_cast<HRESULT>(0xC00D001C);
const std::size_t kMaxTargetChars = 260;
// A profile is a few kilobytes; anything near this is not one.
const LONGLONG kMaxProfileBytes = 16 * 1024 * 1024;

void ShowBox(const std::string& text) {
    ::MessageBoxA(nullptr, text.c_str(), "Zelbo", MB_OK | MB_ICONEXCLAMATION | MB_TOPMOST);
}

WmvMessageSink& Sink() {
    static WmvMessageSink sink = ShowBox;
    return sink;
}

void Show(const std::string& text) {
    Sink()(text);
}

com::ComPtr<IWMProfile>& Profile() {
    static com::ComPtr<IWMProfile> profile;
    return profile;
}

com::ComPtr<IWMWriter>& Writer() {
    static com::ComPtr<IWMWriter> writer;
    return writer;
}

int WriteProfile(const std::string& folder, const std::optional<std::string>& xml) {
    if (!xml) return 0;
    // A text too long for the file's fixed size writes nothing.
    const std::optional<std::vector<std::uint8_t>> image = recorder::ProfileFileImage(*xml);
    if (!image) return 0;
    const std::wstring path = Widen(GetProfilePath(folder));
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Show("Cannot create profile  file");
        return 0;
    }
    DWORD written = 0;
    const BOOL wrote = ::WriteFile(file, image->data(), static_cast<DWORD>(image->size()), &written, nullptr);
    const BOOL closed = ::CloseHandle(file);
    if (!wrote || written != image->size() || !closed) {
        Show("Cannot write profile");
        return 0;
    }
    return 1;
}

recorder::WmvVideo Video(int width, int height, int kbps, int fps, int codec) {
    recorder::WmvVideo v;
    v.width = width;
    v.height = height;
    v.kbps = kbps;
    v.fps = fps;
    v.codec = codec;
    return v;
}

HRESULT HResultOfLastError() {
    const DWORD error = ::GetLastError();
    return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// Steps 2 to 5 of the load; each failure has said what failed.
HRESULT LoadThroughManager(const std::wstring& path) {
    com::ComPtr<IWMProfileManager> manager;
    HRESULT hr = WmvCreateProfileManager(manager.Put());
    if (FAILED(hr) || !manager) {
        Show("Cannot create profile manager");
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        hr = HResultOfLastError();
        Show("Cannot create profile file");
        return hr;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        Show("FAILED 3");
        return kNotADiskFile;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        hr = HResultOfLastError();
        ::CloseHandle(file);
        Show("FAILED 4");
        return hr;
    }
    if (size.QuadPart > kMaxProfileBytes) {
        ::CloseHandle(file);
        Show("FAILED 5");
        return E_OUTOFMEMORY;
    }
    // Two zero bytes after the text end it as a UTF-16 string.
    std::vector<BYTE> text(static_cast<std::size_t>(size.QuadPart) + 2, 0);
    DWORD read = 0;
    const BOOL ok = ::ReadFile(file, text.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr);
    hr = ok && read == size.QuadPart ? S_OK : HResultOfLastError();
    ::CloseHandle(file);
    if (FAILED(hr)) return hr;
    std::wstring wide(text.size() / 2, L'\0');
    std::memcpy(&wide[0], text.data(), wide.size() * 2);
    return manager->LoadProfileByData(wide.c_str(), Profile().Put());
}

}  // namespace

void SetWmvMessageSink(WmvMessageSink sink) {
    Sink() = sink ? sink : ShowBox;
}

int WriteVideoProfile(const std::string& folder, int width, int height, int kbps, int fps, int codec) {
    return WriteProfile(folder, recorder::VideoProfileXml(Video(width, height, kbps, fps, codec)));
}

int WriteAudioProfile(const std::string& folder, int kbps) {
    return WriteProfile(folder, recorder::AudioProfileXml(kbps));
}

int WriteAvProfile(const std::string& folder, int width, int height, int videoKbps, int audioKbps, int fps, int codec) {
    return WriteProfile(folder, recorder::AvProfileXml(Video(width, height, videoKbps, fps, codec), audioKbps));
}

std::string GetProfilePath(const std::string& folder) {
    return folder + "\\" + recorder::kWmvProfileFileName;
}

HRESULT LoadProfileFile(const char* path) {
    // Whatever an earlier recording loaded must not outlive a failed load.
    Profile() = nullptr;
    if (!path) {
        Show("Profile File is NULL");
        return E_POINTER;
    }
    HRESULT hr = LoadThroughManager(Widen(path));
    if (SUCCEEDED(hr) && !Profile()) hr = E_NOINTERFACE;
    if (FAILED(hr)) {
        Profile() = nullptr;
        Show("FAILED 1");
    }
    return hr;
}

IWMProfile* HeldProfile() {
    return Profile().Get();
}

void ReleaseHeldProfile() {
    Profile() = nullptr;
}

com::ComPtr<IBaseFilter> CreateFilterByClsid(REFCLSID clsid, HRESULT* result) {
    com::ComPtr<IBaseFilter> filter;
    HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid());
    if (SUCCEEDED(hr) && !filter) hr = E_NOINTERFACE;
    if (FAILED(hr)) filter = nullptr;
    if (result) *result = hr;
    return filter;
}

HRESULT CreateWmWriter(const std::wstring& target, IWMProfile* profile) {
    Writer() = nullptr;
    if (!profile) return E_POINTER;
    com::ComPtr<IWMWriter> writer;
    HRESULT hr = WmvCreateWriter(writer.Put());
    if (FAILED(hr)) return hr;
    if (!writer) return E_NOINTERFACE;
    com::ComPtr<IWMHeaderInfo> header;
    hr = writer->QueryInterface(__uuidof(IWMHeaderInfo), header.PutVoid());
    if (SUCCEEDED(hr)) hr = writer->SetProfile(profile);
    if (SUCCEEDED(hr)) hr = writer->SetOutputFilename(target.c_str());
    if (SUCCEEDED(hr)) Writer() = writer;
    return hr;
}

bool HoldsWmWriter() {
    return static_cast<bool>(Writer());
}

void ReleaseWmWriter() {
    Writer() = nullptr;
}

HRESULT ConfigureWriterProfile(IBaseFilter* asfWriter, IWMProfile* profile) {
    if (!asfWriter || !profile) return E_POINTER;
    com::ComPtr<IConfigAsfWriter> config;
    HRESULT hr = asfWriter->QueryInterface(IID_IConfigAsfWriter, config.PutVoid());
    if (FAILED(hr)) return hr;
    if (!config) return E_NOINTERFACE;
    return config->ConfigureFilterUsingProfile(profile);
}

HRESULT AddAsfWriter(const std::string& folder, const std::string& target, IGraphBuilder* graph,
                     com::ComPtr<IBaseFilter>& writer) {
    writer = nullptr;
    if (!graph) return E_POINTER;
    const std::wstring wideTarget = Widen(target);
    if (wideTarget.empty() || wideTarget.size() >= kMaxTargetChars) return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
    const std::string profilePath = GetProfilePath(folder);
    HRESULT hr = LoadProfileFile(profilePath.c_str());
    if (FAILED(hr)) return hr;
    com::ComPtr<IBaseFilter> asf = CreateFilterByClsid(kWmAsfWriter, &hr);
    if (FAILED(hr)) return hr;
    com::ComPtr<IFileSinkFilter> sink;
    hr = asf->QueryInterface(IID_IFileSinkFilter, sink.PutVoid());
    if (SUCCEEDED(hr) && !sink) hr = E_NOINTERFACE;
    if (SUCCEEDED(hr)) hr = sink->SetFileName(wideTarget.c_str(), nullptr);
    if (SUCCEEDED(hr)) hr = graph->AddFilter(asf.Get(), L"Mux");
    if (FAILED(hr)) return hr;
    writer = asf;
    hr = CreateWmWriter(wideTarget, HeldProfile());
    if (SUCCEEDED(hr)) hr = ConfigureWriterProfile(asf.Get(), HeldProfile());
    if (FAILED(hr)) return hr;
    // The profile is applied: its file has done its work.
    // A file left behind is only rewritten by the next recording.
    if (!::DeleteFileW(Widen(profilePath).c_str())) ::OutputDebugStringA("Cannot delete the profile file\n");
    return S_OK;
}

}  // namespace capture
