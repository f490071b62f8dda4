// A filter DLL registers its classes and its filter record, is found by
// friendly name through the system device enumerator, and unregisters.
#include <string>

#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {

const WCHAR kFriendlyName[] = L"Korvell Platform Test Transform";

std::wstring ModuleDir() {
    WCHAR path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

std::wstring ClsidKey(REFCLSID clsid) {
    WCHAR guid[40];
    StringFromGUID2(clsid, guid, 40);
    return std::wstring(L"CLSID\\") + guid;
}

std::wstring RegString(const std::wstring& key, LPCWSTR value) {
    WCHAR buf[MAX_PATH] = {};
    DWORD cb = sizeof(buf);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), value, RRF_RT_REG_SZ, NULL, buf, &cb) != ERROR_SUCCESS)
        return L"<missing>";
    return buf;
}

// Looks the name up in the DirectShow filter category; on a hit binds the
// moniker (which loads the DLL through its registration).
bool FindByFriendlyName(LPCWSTR friendlyName, IBaseFilter** ppFilter) {
    *ppFilter = nullptr;
    ICreateDevEnum* devEnum = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devEnum))))
        return false;
    IEnumMoniker* monikers = nullptr;
    bool found = false;
    if (devEnum->CreateClassEnumerator(CLSID_LegacyAmFilterCategory, &monikers, 0) == S_OK) {
        IMoniker* m = nullptr;
        while (!found && monikers->Next(1, &m, NULL) == S_OK) {
            IPropertyBag* bag = nullptr;
            if (SUCCEEDED(m->BindToStorage(NULL, NULL, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
                VARIANT v;
                VariantInit(&v);
                if (SUCCEEDED(bag->Read(L"FriendlyName", &v, NULL)) && v.vt == VT_BSTR &&
                    wcscmp(v.bstrVal, friendlyName) == 0) {
                    found = true;
                    m->BindToObject(NULL, NULL, IID_IBaseFilter, reinterpret_cast<void**>(ppFilter));
                }
                VariantClear(&v);
                bag->Release();
            }
            m->Release();
        }
        monikers->Release();
    }
    devEnum->Release();
    return found;
}

TEST(Registration, RegisterFindUnregister) {
    const std::wstring dllPath = ModuleDir() + L"platform_test_filters.ax";
    HMODULE dll = LoadLibraryW(dllPath.c_str());
    ASSERT_NE(nullptr, dll);
    auto reg =
        reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllRegisterServer")));
    auto unreg =
        reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllUnregisterServer")));
    auto canUnload =
        reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_TRUE(reg && unreg && canUnload && GetProcAddress(dll, "DllGetClassObject"));

    ASSERT_EQ(S_OK, reg());
    for (REFCLSID clsid : {CLSID_TestTransform, CLSID_TestSource}) {
        const std::wstring key = ClsidKey(clsid);
        EXPECT_EQ(0, _wcsicmp(dllPath.c_str(), RegString(key + L"\\InprocServer32", NULL).c_str()))
            << "the server is this DLL";
        EXPECT_EQ(L"Both", RegString(key + L"\\InprocServer32", L"ThreadingModel"));
    }
    EXPECT_EQ(kFriendlyName, RegString(ClsidKey(CLSID_TestTransform), NULL));

    IBaseFilter* filter = nullptr;
    ASSERT_TRUE(FindByFriendlyName(kFriendlyName, &filter)) << "the filter record is in the category";
    ASSERT_NE(nullptr, filter) << "and the class can be made from it";
    CLSID clsid;
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TestTransform, clsid));
    EXPECT_EQ(S_FALSE, canUnload()) << "a live object keeps the DLL";
    EXPECT_EQ(0u, filter->Release());
    EXPECT_EQ(S_OK, canUnload());

    EXPECT_FALSE(FindByFriendlyName(L"Korvell Platform Test Source", &filter))
        << "a class without a filter record is not a filter";

    ASSERT_EQ(S_OK, unreg());
    EXPECT_FALSE(FindByFriendlyName(kFriendlyName, &filter));
    EXPECT_EQ(L"<missing>", RegString(ClsidKey(CLSID_TestTransform), NULL));
    EXPECT_EQ(S_OK, unreg()) << "removing twice is fine";
    FreeLibrary(dll);
}

}  // namespace
