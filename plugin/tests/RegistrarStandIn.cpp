// A stand-in for the media player's plug-in registrar, which Wine does not
// have: it appends each call to the file named by KORVELL_REGISTRAR_LOG, one
// line a call, for the registration tests to read.
#include "platform/dshow/BaseClasses.h"

#include <cstdio>
#include <new>
#include <string>

#include "platform/include/DmoRuntime.h"
#include "platform/include/PlayerPlugin.h"

namespace {

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return "-";
    std::string out;
    for (; *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return out;
}

std::string GuidText(const GUID& g) {
    wchar_t text[40];
    if (StringFromGUID2(g, text, 40) == 0) return "?";
    return Narrow(text);
}

HRESULT Log(const std::string& line) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KORVELL_REGISTRAR_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return S_OK;  // nobody listens
    FILE* f = std::fopen(path, "a");
    if (f == nullptr) return E_FAIL;
    bool ok = std::fprintf(f, "%s\n", line.c_str()) > 0;
    ok = std::fclose(f) == 0 && ok;
    return ok ? S_OK : E_FAIL;
}

class RegistrarStandIn : public CUnknown, public IWMPMediaPluginRegistrar {
public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
        auto* p = new (std::nothrow) RegistrarStandIn(pUnk);
        if (p == nullptr && phr) *phr = E_OUTOFMEMORY;
        return p;
    }
    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IWMPMediaPluginRegistrar))
            return GetInterface(static_cast<IWMPMediaPluginRegistrar*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    STDMETHODIMP WMPRegisterPlayerPlugin(LPWSTR name, LPWSTR description, LPWSTR uninstall, DWORD priority, GUID type,
                                         CLSID clsid, UINT count, LPVOID types) override {
        std::string line = "register|" + Narrow(name) + "|" + Narrow(description) + "|" + Narrow(uninstall) + "|" +
                           std::to_string(priority) + "|" + GuidText(type) + "|" + GuidText(clsid) + "|" +
                           std::to_string(count);
        const auto* pairs = static_cast<const DMO_PARTIAL_MEDIATYPE*>(types);
        for (UINT i = 0; pairs != nullptr && i < count; ++i)
            line += "|" + GuidText(pairs[i].type) + "/" + GuidText(pairs[i].subtype);
        return Log(line);
    }
    STDMETHODIMP WMPUnRegisterPlayerPlugin(GUID type, CLSID clsid) override {
        return Log("unregister|" + GuidText(type) + "|" + GuidText(clsid));
    }

private:
    explicit RegistrarStandIn(LPUNKNOWN pUnk) : CUnknown(NAME("Registrar stand-in"), pUnk) {}
};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Player plug-in registrar stand-in", &CLSID_WMPMediaPluginRegistrar, RegistrarStandIn::CreateInstance, NULL,
     NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() {
    return AMovieDllRegisterServer2(TRUE);
}
STDAPI DllUnregisterServer() {
    return AMovieDllRegisterServer2(FALSE);
}
