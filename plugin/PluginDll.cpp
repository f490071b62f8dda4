// The plug-in library's COM server: the tap and its page, registered with
// COM and with the media player's plug-in registrar.
#include "platform/dshow/BaseClasses.h"

#include "platform/include/DmoRuntime.h"

#include <string>

#include "platform/com/ComPtr.h"
#include "platform/include/PlayerPlugin.h"
#include "plugin/AudioPlugin.h"
#include "plugin/PluginIds.h"
#include "plugin/PropPage.h"
#include "plugin/resource.h"

CFactoryTemplate g_Templates[] = {
    {L"Anvelo_Audio_Plugin Class", &CLSID_AnveloAudioPlugin, CAnveloAudioPlugin::CreateInstance, NULL, NULL},
    {L"Anvelo_Audio_Plugin PropertyPage Class", &CLSID_AnveloAudioPluginPropPage,
     CAnveloAudioPluginPropPage::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

namespace {

constexpr DWORD kPlayerPriority = 1;
const wchar_t* const kThreadingModels[] = {L"Both", L"Apartment"};

std::wstring LoadModuleString(UINT id) {
    wchar_t text[256] = L"";
    int n = LoadStringW(AMGetModuleInstance(), id, text, 256);
    return std::wstring(text, n > 0 ? static_cast<size_t>(n) : 0);
}

// Windows 6 and later play through Media Foundation too, out of process.
bool HasOutOfProcessPlayback() {
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    return ok && info.dwMajorVersion > 5;
}

HRESULT RegisterClasses() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(AMGetModuleInstance(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    for (int i = 0; i < g_cTemplates; ++i) {
        HRESULT hr = AMovieSetupRegisterServer(*g_Templates[i].m_ClsID, g_Templates[i].m_Name, path,
                                               kThreadingModels[i], L"InprocServer32");
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterClasses() {
    HRESULT result = S_OK;
    for (int i = 0; i < g_cTemplates; ++i) {
        HRESULT hr = AMovieSetupUnregisterServer(*g_Templates[i].m_ClsID);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

// COM for the registrar, balanced when it was ours to start.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }

private:
    HRESULT hr_;
};

}  // namespace

STDAPI DllRegisterServer() {
    ComScope com;
    com::ComPtr<IWMPMediaPluginRegistrar> registrar;
    HRESULT hr = CoCreateInstance(CLSID_WMPMediaPluginRegistrar, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IWMPMediaPluginRegistrar, registrar.PutVoid());
    if (FAILED(hr)) return hr;
    std::wstring name = LoadModuleString(IDS_PLUGIN_NAME);
    std::wstring description = LoadModuleString(IDS_PLUGIN_DESCRIPTION);
    DMO_PARTIAL_MEDIATYPE type = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
    hr = registrar->WMPRegisterPlayerPlugin(&name[0], &description[0], NULL, kPlayerPriority, WMP_PLUGINTYPE_DSP,
                                            CLSID_AnveloAudioPlugin, 1, &type);
    if (SUCCEEDED(hr) && HasOutOfProcessPlayback())
        hr = registrar->WMPRegisterPlayerPlugin(&name[0], &description[0], NULL, kPlayerPriority,
                                                WMP_PLUGINTYPE_DSP_OUTOFPROC, CLSID_AnveloAudioPlugin, 1, &type);
    if (FAILED(hr)) return hr;
    return RegisterClasses();
}

STDAPI DllUnregisterServer() {
    ComScope com;
    com::ComPtr<IWMPMediaPluginRegistrar> registrar;
    HRESULT hr = CoCreateInstance(CLSID_WMPMediaPluginRegistrar, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IWMPMediaPluginRegistrar, registrar.PutVoid());
    if (FAILED(hr)) return hr;
    // The player's entries go first; their failures do not keep the classes.
    (void)registrar->WMPUnRegisterPlayerPlugin(WMP_PLUGINTYPE_DSP, CLSID_AnveloAudioPlugin);
    if (HasOutOfProcessPlayback())
        (void)registrar->WMPUnRegisterPlayerPlugin(WMP_PLUGINTYPE_DSP_OUTOFPROC, CLSID_AnveloAudioPlugin);
    return UnregisterClasses();
}
