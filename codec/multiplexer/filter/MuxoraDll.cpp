// The COM server of "Korvell MPEG Muxteron".
#include "platform/dshow/BaseClasses.h"

#include "codec/multiplexer/filter/EditorPage.h"
#include "codec/multiplexer/filter/MuxoraFilter.h"
#include "codec/multiplexer/filter/MuxoraIds.h"
#include "codec/multiplexer/filter/VersionPage.h"

namespace {

const wchar_t kFriendlyName[] = L"Korvell MPEG Muxteron";
const GUID kMuxerClsid = muxora::kClsidMuxer;
const GUID kAboutClsid = muxora::kClsidAboutPage;
const GUID kSettingsClsid = muxora::kClsidSettingsPage;
const GUID kNull = GUID_NULL;

const AMOVIESETUP_MEDIATYPE kAnyType[] = {{&kNull, &kNull}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, TRUE, &CLSID_NULL, NULL, 1, kAnyType},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kAnyType},
};

}  // namespace

const AMOVIESETUP_FILTER g_MuxoraSetup = {&kMuxerClsid, kFriendlyName, 0x200000, 2, kPins};

CFactoryTemplate g_Templates[] = {
    {kFriendlyName, &kMuxerClsid, muxora::CM72::CreateInstance, NULL, &g_MuxoraSetup},
    {L"About", &kAboutClsid, muxora::CVersionInfoPropPage::CreateInstance, NULL, NULL},
    {L"Settings", &kSettingsClsid, muxora::CM72PropertyPage::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}

STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
