// The COM server of "Korvell Layer II Audio Encoder".
#include "platform/dshow/BaseClasses.h"
#include "codec/audioencoder/AudioEncFilter.h"
#include "codec/audioencoder/AudioEncIds.h"

#include <string>

extern const AMOVIESETUP_FILTER g_AudioEncSetup;

namespace {

// {33D9A761-90C8-11D0-BD43-00A0C911CE86}
const CLSID kAudioCompressorCategory = {0x33D9A761, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
// {7D22E920-5CA9-4787-8C2B-A6779BD11781}
const CLSID kEncoderCategory = {0x7D22E920, 0x5CA9, 0x4787, {0x8C, 0x2B, 0xA6, 0x77, 0x9B, 0xD1, 0x17, 0x81}};
// {083863F1-70DE-11D0-BD40-00A0C911CE86}
const CLSID kFilterCategory = {0x083863F1, 0x70DE, 0x11D0, {0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
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

std::wstring GuidText(const GUID& g) {
  wchar_t text[40] = {};
  StringFromGUID2(g, text, 40);
  return text;
}

HRESULT SetCapabilities(const GUID& category, const std::wstring& instance) {
  std::wstring key = L"CLSID\\" + GuidText(category) + L"\\Instance\\" + instance + L"\\Capabilities";
  DWORD one = 1;
  LONG rc = RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"{BB4FAA02-596C-4129-8FB3-74E75421FA02}", REG_DWORD, &one,
                            sizeof one);
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

HRESULT RegisterCategories(BOOL bRegister) {
  IFilterMapper2* mapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return hr;
  for (const CLSID* category : {&kAudioCompressorCategory, &kEncoderCategory}) {
    HRESULT r = AMovieSetupRegisterFilterInCategory(&g_AudioEncSetup, mapper, *category, bRegister);
    if (FAILED(r) && bRegister) hr = r;
  }
  mapper->Release();
  return hr;
}

}  // namespace

const AMOVIESETUP_FILTER g_AudioEncSetup = {&CLSID_KorvellAudioEncoder, kFriendlyName, 0x800001, 2, kPins};

CFactoryTemplate g_Templates[] = {
    {kFriendlyName, &CLSID_KorvellAudioEncoder, AudioEncFilter::CreateInstance, NULL, &g_AudioEncSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
  HRESULT hr = AMovieDllRegisterServer2(TRUE);
  if (FAILED(hr)) return hr;
  CoInitialize(nullptr);
  hr = RegisterCategories(TRUE);
  CoUninitialize();
  if (FAILED(hr)) return hr;
  hr = SetCapabilities(kEncoderCategory, kFriendlyName);
  if (SUCCEEDED(hr)) hr = SetCapabilities(kFilterCategory, GuidText(CLSID_KorvellAudioEncoder));
  return hr;
}

STDAPI DllUnregisterServer() {
  HRESULT hr = AMovieDllRegisterServer2(FALSE);
  CoInitialize(nullptr);
  RegisterCategories(FALSE);
  CoUninitialize();
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvell\\Korvell Layer II Audio Encoder");
  return hr;
}
