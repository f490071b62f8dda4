// Class table and registration exports of KorvellAsfWriter.ax: the stand-in
// WM ASF Writer, created by its class id (it has no pins until a profile
// gives it some, so it is not offered to intelligent connect).
#include <windows.h>
#include <cguid.h>
#include <initguid.h>

#include "companions/asfwriter/AsfWriterFilter.h"

namespace {

// {7C23220E-55BB-11D3-8B16-00C04FB6BD3D}
const CLSID kWmAsfWriterClsid = {0x7c23220e, 0x55bb, 0x11d3, {0x8b, 0x16, 0x00, 0xc0, 0x4f, 0xb6, 0xbd, 0x3d}};

const AMOVIESETUP_FILTER kSetup = {&kWmAsfWriterClsid, L"WM ASF Writer", MERIT_DO_NOT_USE, 0, nullptr};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"WM ASF Writer", &kWmAsfWriterClsid, CAsfWriterFilter::CreateInstance, NULL, &kSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
