// The COM server of "Korvell MPEG-2 Video Encoder".
#include "platform/dshow/BaseClasses.h"
#include "platform/com/EncoderRegistration.h"
#include "codec/videoencoder/VideoEncFilter.h"
#include "codec/videoencoder/VideoEncIds.h"
#include "codec/videoencoder/VideoEncPages.h"

#include <string>

extern const AMOVIESETUP_FILTER g_VideoEncSetup;

namespace {

// {33D9A760-90C8-11D0-BD43-00A0C911CE86}
const CLSID kVideoCompressorCategory = {0x33D9A760, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
// {E06D8026-DB46-11CF-B4D1-00805F6CBBEA}
const GUID kMpeg2VideoSubtype = {0xE06D8026, 0xDB46, 0x11CF, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
// {30323449-0000-0010-8000-00AA00389B71}
const GUID kI420Subtype = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const wchar_t kFriendlyName[] = L"Korvell MPEG-2 Video Encoder";

const AMOVIESETUP_MEDIATYPE kInTypes[] = {
    {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2},  {&MEDIATYPE_Video, &MEDIASUBTYPE_UYVY},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_IYUV},  {&MEDIATYPE_Video, &MEDIASUBTYPE_YV12},
    {&MEDIATYPE_Video, &kI420Subtype},
};
const AMOVIESETUP_MEDIATYPE kOutTypes[] = {
    {&MEDIATYPE_Video, &kMpeg2VideoSubtype},
    {&MEDIATYPE_Stream, &kMpeg2VideoSubtype},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG1Payload},
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1Video},
};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 7, kInTypes},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 4, kOutTypes},
};

}  // namespace

const AMOVIESETUP_FILTER g_VideoEncSetup = {&CLSID_KorvellVideoEncoder, kFriendlyName, 0x800001, 2, kPins};

CFactoryTemplate g_Templates[] = {
    {kFriendlyName, &CLSID_KorvellVideoEncoder, Mpeg2EncFilter::CreateInstance, NULL, &g_VideoEncSetup},
    // The filter lists the entries after its own as its pages, in this order.
    {L"MPEG-2 Video Encoder About Page", &CLSID_VideoEncAboutPage, VideoEncAboutPage::CreateInstance, NULL, NULL},
    {L"MPEG-2 Video Encoder Main Page", &CLSID_VideoEncMainPage, VideoEncMainPage::CreateInstance, NULL, NULL},
    {L"MPEG-2 Video Encoder Advanced Page", &CLSID_VideoEncAdvancedPage, VideoEncAdvancedPage::CreateInstance, NULL,
     NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    HRESULT hr = AMovieDllRegisterServer2(TRUE);
    if (FAILED(hr)) return hr;
    hr = RegisterFilterInCategories(&g_VideoEncSetup, {&kVideoCompressorCategory, &kEncoderCategory}, TRUE);
    SetEncoderCapabilities(&g_VideoEncSetup);
    return hr;
}

STDAPI DllUnregisterServer() {
    HRESULT hr = AMovieDllRegisterServer2(FALSE);
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_KorvellVideoEncoder, clsid, 40);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"Filter\\") + clsid).c_str());
    RegisterFilterInCategories(&g_VideoEncSetup, {&kVideoCompressorCategory, &kEncoderCategory}, FALSE);
    return hr;
}
