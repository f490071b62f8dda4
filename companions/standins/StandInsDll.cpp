// KorvellStandIns.ax: what the engine's graph needs and Wine lacks, the
// source filter of the http protocol and a "Wave Parser".
#include <winsock2.h>
#include <windows.h>
#include <cguid.h>
#include <initguid.h>

#include "companions/httpsource/HttpSource.h"
#include "companions/waveparser/WaveParser.h"

namespace {

// HKCR\http "Source Filter": AddSourceFilter's choice for http URLs.
const char kProtocolKey[] = "http";
const char kSourceFilterValue[] = "Source Filter";
const char kHttpSourceClsid[] = "{0B7E2A41-5C8D-4E1F-9A63-2D4B8C1E7F05}";

HRESULT RegisterProtocol(bool add) {
    HKEY key = nullptr;
    LONG result =
        RegCreateKeyExA(HKEY_CLASSES_ROOT, kProtocolKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
    if (add) {
        result = RegSetValueExA(key, kSourceFilterValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kHttpSourceClsid),
                                sizeof kHttpSourceClsid);
    } else {
        result = RegDeleteValueA(key, kSourceFilterValue);
        if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(result);
}

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Korvell HTTP Source", &CLSID_KorvellHttpSource, CHttpSource::CreateInstance, NULL, &kHttpSourceSetup},
    {L"Wave Parser", &CLSID_KorvellWaveParser, CWaveParser::CreateInstance, NULL, &kWaveParserSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    const HRESULT hr = AMovieDllRegisterServer2(TRUE);
    return FAILED(hr) ? hr : RegisterProtocol(true);
}
STDAPI DllUnregisterServer() {
    const HRESULT hr = RegisterProtocol(false);
    const HRESULT filters = AMovieDllRegisterServer2(FALSE);
    return FAILED(hr) ? hr : filters;
}
