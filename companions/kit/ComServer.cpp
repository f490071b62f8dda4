#include "companions/kit/ComServer.h"

#include <atomic>
#include <cwchar>
#include <new>

namespace kit {
namespace {

std::atomic<long> g_moduleRefs{0};
HMODULE g_module = nullptr;

class ClassFactory : public IClassFactory {
public:
    explicit ClassFactory(const ClassEntry* entry) : entry_(entry) { ModuleAddRef(); }
    virtual ~ClassFactory() { ModuleRelease(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const long left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* object = nullptr;
        HRESULT hr = entry_->create(&object);
        if (FAILED(hr)) return hr;
        hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) ModuleAddRef(); else ModuleRelease();
        return S_OK;
    }

private:
    std::atomic<long> refs_{1};
    const ClassEntry* entry_;
};

void GuidText(REFGUID guid, wchar_t* text, int size) { StringFromGUID2(guid, text, size); }

LONG SetString(HKEY key, const wchar_t* valueName, const wchar_t* value) {
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

HRESULT RegisterClassKeys(const ClassEntry& entry, const wchar_t* modulePath) {
    wchar_t guid[40];
    GuidText(*entry.clsid, guid, 40);
    wchar_t path[80];
    swprintf(path, 80, L"CLSID\\%ls", guid);
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    rc = SetString(key, nullptr, entry.name);
    HKEY server = nullptr;
    if (rc == ERROR_SUCCESS)
        rc = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = SetString(server, nullptr, modulePath);
        if (rc == ERROR_SUCCESS) rc = SetString(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(rc);
}

void RemoveClassKeys(const ClassEntry& entry) {
    wchar_t guid[40];
    GuidText(*entry.clsid, guid, 40);
    wchar_t path[80];
    swprintf(path, 80, L"CLSID\\%ls", guid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, path);
}

// Registers or unregisters the filters of the table with the filter mapper.
HRESULT MapFilters(bool add) {
    const HRESULT init = CoInitialize(nullptr);
    IFilterMapper2* mapper = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    for (int i = 0; SUCCEEDED(hr) && i < kClassCount; ++i) {
        const ClassEntry& entry = kClasses[i];
        if (!entry.filter) continue;
        if (add) {
            hr = mapper->RegisterFilter(*entry.clsid, entry.name, nullptr, entry.category, nullptr,
                                        entry.filter);
        } else {
            // Missing registrations are fine when unregistering.
            mapper->UnregisterFilter(entry.category, nullptr, *entry.clsid);
        }
    }
    if (mapper) mapper->Release();
    if (SUCCEEDED(init)) CoUninitialize();
    return hr;
}

}  // namespace

void ModuleAddRef() { ++g_moduleRefs; }
void ModuleRelease() { --g_moduleRefs; }

}  // namespace kit

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        kit::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (int i = 0; i < kit::kClassCount; ++i) {
        if (*kit::kClasses[i].clsid != clsid) continue;
        auto* factory = new (std::nothrow) kit::ClassFactory(&kit::kClasses[i]);
        if (!factory) return E_OUTOFMEMORY;
        HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return kit::g_moduleRefs == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(kit::g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    for (int i = 0; i < kit::kClassCount; ++i) {
        HRESULT hr = kit::RegisterClassKeys(kit::kClasses[i], path);
        if (FAILED(hr)) return hr;
    }
    return kit::MapFilters(true);
}

STDAPI DllUnregisterServer() {
    kit::MapFilters(false);
    for (int i = 0; i < kit::kClassCount; ++i) kit::RemoveClassKeys(kit::kClasses[i]);
    return S_OK;
}

}  // extern "C"
