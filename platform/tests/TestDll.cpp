// A filter DLL as our filter libraries make one: a class table with a
// registration record, and the four exports.
#include "platform/tests/TestFilters.h"

namespace {
const AMOVIESETUP_MEDIATYPE kStreamType[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"XForm In"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kStreamType},
    {const_cast<LPWSTR>(L"XForm Out"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kStreamType},
};
const AMOVIESETUP_FILTER kTransformSetup = {&CLSID_TestTransform, L"Korvell Platform Test Transform", MERIT_DO_NOT_USE,
                                            2, kPins};
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Korvell Platform Test Transform", &CLSID_TestTransform, TestTransform::CreateInstance, NULL, &kTransformSetup},
    {L"Korvell Platform Test Source", &CLSID_TestSource, TestSource::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
