// The COM server of "UScreenCapture", listed among the video capture devices.
#include "companions/screencap/ScreenSource.h"

namespace {
const AMOVIESETUP_MEDIATYPE kTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
                                        {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Capture"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 2, kTypes}};
}  // namespace

extern const AMOVIESETUP_FILTER g_ScreenSetup;
const AMOVIESETUP_FILTER g_ScreenSetup = {&CLSID_UScreenCapture, L"UScreenCapture", MERIT_DO_NOT_USE, 1, kPins};

CFactoryTemplate g_Templates[] = {
    {L"UScreenCapture", &CLSID_UScreenCapture, ScreenSource::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

namespace {
HRESULT RegisterInCategory(BOOL bRegister) {
    HRESULT hr = AMovieDllRegisterServer2(bRegister);
    if (FAILED(hr) && bRegister) return hr;
    CoInitialize(nullptr);
    IFilterMapper2* mapper = nullptr;
    HRESULT r = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                 reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(r)) {
        r = AMovieSetupRegisterFilterInCategory(&g_ScreenSetup, mapper, CLSID_VideoInputDeviceCategory, bRegister);
        mapper->Release();
    }
    CoUninitialize();
    return bRegister ? r : hr;
}
}  // namespace

STDAPI DllRegisterServer() {
    return RegisterInCategory(TRUE);
}
STDAPI DllUnregisterServer() {
    return RegisterInCategory(FALSE);
}
