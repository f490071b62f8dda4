// Class table and registration exports of KorvellAsfWriter.ax: the stand-in
// WM ASF Writer, created by its class id (it has no pins until a profile
// gives it some, so it is not offered to intelligent connect), and the PCM
// "ACM Wrapper" in front of its audio input.
#include <windows.h>
#include <cguid.h>
#include <initguid.h>

#include "companions/asfwriter/AsfWriterFilter.h"
#include "companions/asfwriter/PcmWrapper.h"

namespace {

// {7C23220E-55BB-11D3-8B16-00C04FB6BD3D}
const CLSID kWmAsfWriterClsid = {0x7c23220e, 0x55bb, 0x11d3, {0x8b, 0x16, 0x00, 0xc0, 0x4f, 0xb6, 0xbd, 0x3d}};

const AMOVIESETUP_FILTER kSetup = {&kWmAsfWriterClsid, L"WM ASF Writer", MERIT_DO_NOT_USE, 0, nullptr};

const AMOVIESETUP_MEDIATYPE kPcm[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN kWrapperPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kPcm},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kPcm},
};
const AMOVIESETUP_FILTER kWrapperSetup = {&CLSID_KorvellPcmWrapper, L"ACM Wrapper", MERIT_DO_NOT_USE, 2, kWrapperPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"WM ASF Writer", &kWmAsfWriterClsid, CAsfWriterFilter::CreateInstance, NULL, &kSetup},
    {L"ACM Wrapper", &CLSID_KorvellPcmWrapper, CPcmWrapper::CreateInstance, NULL, &kWrapperSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
