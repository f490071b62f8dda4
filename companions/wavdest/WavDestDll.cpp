// Class table and registration exports of WavDest.ax.
#include <windows.h>
#include <cguid.h>
#include <initguid.h>

#include "companions/wavdest/WavDest.h"

namespace {

const AMOVIESETUP_MEDIATYPE kInputTypes[] = {
    {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM},
};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(L"In"), TRUE /*rendered*/, FALSE, FALSE, FALSE, &CLSID_NULL, NULL, 1, kInputTypes},
};

const AMOVIESETUP_FILTER kSetup = {&CLSID_WavDest, L"WAV Dest", MERIT_DO_NOT_USE, 1, kPins};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"WAV Dest", &CLSID_WavDest, CWavDest::CreateInstance, NULL, &kSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
