// The COM server of "Korvell Audio Capture", listed among the audio capture
// devices.
#include "companions/wavecap/WaveCapture.h"

namespace {
const AMOVIESETUP_MEDIATYPE kTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Capture"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kTypes}};
const AMOVIESETUP_FILTER kSetup = {&CLSID_KorvellAudioCapture, L"Korvell Audio Capture", MERIT_DO_NOT_USE, 1, kPins};

HRESULT Register(BOOL bRegister) {
    HRESULT hr = AMovieDllRegisterServer2(bRegister);
    if (FAILED(hr) && bRegister) return hr;
    HRESULT init = CoInitialize(nullptr);
    IFilterMapper2* mapper = nullptr;
    HRESULT r = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                 reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(r)) {
        r = AMovieSetupRegisterFilterInCategory(&kSetup, mapper, CLSID_AudioInputDeviceCategory, bRegister);
        mapper->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return bRegister ? r : hr;
}
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Korvell Audio Capture", &CLSID_KorvellAudioCapture, WaveCaptureSource::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return Register(TRUE);
}
STDAPI DllUnregisterServer() {
    return Register(FALSE);
}
