// The COM server of "Korvell Chronel".
#include "platform/dshow/BaseClasses.h"
#include "restamp/FilterStuff/ChronelPage.h"
#include "restamp/FilterStuff/DmxFilter.h"

extern const AMOVIESETUP_FILTER g_ChronelSetup;

CFactoryTemplate g_Templates[] = {
    {L"Korvell Chronel", &CLSID_KorvellChronel, CDmxPushFilter::CreateInstance, NULL, &g_ChronelSetup},
    {L"Korvell Chronel property page", &CLSID_KorvellChronelPage, CDmxStrmPropPag::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
