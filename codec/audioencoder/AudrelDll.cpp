// The COM server of "Korvell Layer II Audio Encoder".
#include "platform/dshow/BaseClasses.h"
#include "platform/com/EncoderRegistration.h"
#include "codec/audioencoder/AudioEncFilter.h"
#include "codec/audioencoder/AudioEncIds.h"
#include "codec/audioencoder/AudioEncPages.h"

namespace {

// {33D9A761-90C8-11D0-BD43-00A0C911CE86}
const CLSID kAudioCompressorCategory = {0x33D9A761, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
const wchar_t kFriendlyName[] = L"Korvell Layer II Audio Encoder";
const GUID kMpegWaveSubtype = {0x00000050, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

const AMOVIESETUP_MEDIATYPE kInTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_MEDIATYPE kOutTypes[] = {{&MEDIATYPE_Audio, &kMpegWaveSubtype},
                                           {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG2_AUDIO},
                                           {&MEDIATYPE_Audio, &MEDIASUBTYPE_DVD_LPCM_AUDIO}};
const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"In"), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kInTypes},
    {const_cast<LPWSTR>(L"Out"), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, NULL, 3, kOutTypes},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_KorvellAudioEncoder, kFriendlyName, 0x800001, 2, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {kFriendlyName, &CLSID_KorvellAudioEncoder, AudioEncFilter::CreateInstance, NULL, &kSetup},
    {L"Layer-II Audio Encoder Settings Page", &CLSID_AudioEncSettingsPage, AudioEncSettingsPage::CreateInstance, NULL,
     NULL},
    {L"Layer-II Audio Encoder About Page", &CLSID_AudioEncAboutPage, AudioEncAboutPage::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    HRESULT hr = AMovieDllRegisterServer2(TRUE);
    if (SUCCEEDED(hr)) hr = RegisterFilterInCategories(&kSetup, {&kAudioCompressorCategory, &kEncoderCategory}, TRUE);
    if (SUCCEEDED(hr)) hr = SetEncoderCapabilities(&kSetup);
    return hr;
}

STDAPI DllUnregisterServer() {
    HRESULT hr = AMovieDllRegisterServer2(FALSE);
    RegisterFilterInCategories(&kSetup, {&kAudioCompressorCategory, &kEncoderCategory}, FALSE);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvell\\Korvell Layer II Audio Encoder");
    return hr;
}
