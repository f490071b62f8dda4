#include "platform/com/EncoderRegistration.h"

#include <string>

const CLSID kEncoderCategory = {0x7D22E920, 0x5CA9, 0x4787, {0x8C, 0x2B, 0xA6, 0x77, 0x9B, 0xD1, 0x17, 0x81}};

namespace {

std::wstring GuidText(const GUID& g) {
    wchar_t text[40] = {};
    StringFromGUID2(g, text, 40);
    return text;
}

HRESULT SetCapabilities(const GUID& category, const std::wstring& instance) {
    std::wstring key = L"CLSID\\" + GuidText(category) + L"\\Instance\\" + instance + L"\\Capabilities";
    DWORD one = 1;
    LONG rc = RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), L"{BB4FAA02-596C-4129-8FB3-74E75421FA02}", REG_DWORD,
                              &one, sizeof one);
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

}  // namespace

HRESULT RegisterFilterInCategories(const AMOVIESETUP_FILTER* setup, std::initializer_list<const CLSID*> categories,
                                   BOOL bRegister) {
    HRESULT init = CoInitialize(nullptr);
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(hr)) {
        for (const CLSID* category : categories) {
            HRESULT r = AMovieSetupRegisterFilterInCategory(setup, mapper, *category, bRegister);
            if (FAILED(r) && bRegister) hr = r;
        }
        mapper->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return hr;
}

HRESULT SetEncoderCapabilities(const AMOVIESETUP_FILTER* setup) {
    HRESULT hr = SetCapabilities(kEncoderCategory, setup->strName);
    HRESULT legacy = SetCapabilities(CLSID_LegacyAmFilterCategory, GuidText(*setup->clsID));
    return FAILED(hr) ? hr : legacy;
}
