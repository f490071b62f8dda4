// Class table and registration exports of KorvellSink.dll.
#include <windows.h>
#include <cguid.h>
#include <initguid.h>

#include "companions/sinkfilter/SinkFilter.h"

namespace {

const AMOVIESETUP_MEDIATYPE kInputTypes[] = {
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL},
    {&MEDIATYPE_NULL, &MEDIASUBTYPE_NULL},
};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Input"), TRUE /*rendered*/, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 2, kInputTypes},
};

const AMOVIESETUP_FILTER kSetup = {&CLSID_KorvellSinkFilter, L"Korvell Sink Filter", MERIT_DO_NOT_USE, 1, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Korvell Sink Filter", &CLSID_KorvellSinkFilter, CKorvellSink::CreateInstance, NULL, &kSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
