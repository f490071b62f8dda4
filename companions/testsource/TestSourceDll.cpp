// Class table and registration exports of KorvellTestSource.dll.
#include <windows.h>
#include <cguid.h>
#include <initguid.h>

#include "companions/testsource/TestSource.h"

namespace {

const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE /*output*/, FALSE, FALSE, &CLSID_NULL, NULL, 1, kOutputTypes},
};

const AMOVIESETUP_FILTER kSetup = {&CLSID_KorvellTestFileSource, L"Korvell Test File Source", MERIT_DO_NOT_USE, 1,
                                   kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Korvell Test File Source", &CLSID_KorvellTestFileSource, CTestFileSource::CreateInstance, NULL, &kSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
