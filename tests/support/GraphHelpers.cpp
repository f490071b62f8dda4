#include "tests/support/GraphHelpers.h"

#include <cwchar>

namespace graphtest {

const CLSID kLegacyFilterCategory = {0x083863F1, 0x70DE, 0x11D0, {0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

namespace {

// Calls fn(moniker, friendlyName) for each device of the category until it
// returns true.
template <class Fn>
HRESULT ForEachDevice(REFCLSID category, Fn fn) {
    ComPtr<ICreateDevEnum> devEnum;
    HRESULT hr =
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, devEnum.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IEnumMoniker> monikers;
    hr = devEnum->CreateClassEnumerator(category, monikers.Put(), 0);
    if (hr != S_OK) return hr;  // S_FALSE: empty category
    for (;;) {
        ComPtr<IMoniker> moniker;
        if (monikers->Next(1, moniker.Put(), nullptr) != S_OK) break;
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) continue;
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR) {
            std::wstring name(v.bstrVal, SysStringLen(v.bstrVal));
            VariantClear(&v);
            if (fn(moniker.Get(), name)) return S_OK;
        } else {
            VariantClear(&v);
        }
    }
    return S_FALSE;
}

}  // namespace

std::vector<std::wstring> ListFriendlyNames(REFCLSID category) {
    std::vector<std::wstring> names;
    ForEachDevice(category, [&](IMoniker*, const std::wstring& name) {
        names.push_back(name);
        return false;
    });
    return names;
}

HRESULT FindFilterByFriendlyName(REFCLSID category, const wchar_t* name, IBaseFilter** filter) {
    *filter = nullptr;
    HRESULT bindHr = E_FAIL;
    HRESULT hr = ForEachDevice(category, [&](IMoniker* moniker, const std::wstring& found) {
        if (found != name) return false;
        bindHr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
        return true;
    });
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) return VFW_E_NOT_FOUND;
    return bindHr;
}

HRESULT FindPinByName(IBaseFilter* filter, PIN_DIRECTION dir, const wchar_t* name, IPin** pin) {
    *pin = nullptr;
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(pins.Put());
    if (FAILED(hr)) return hr;
    for (;;) {
        ComPtr<IPin> candidate;
        if (pins->Next(1, candidate.Put(), nullptr) != S_OK) break;
        PIN_INFO info;
        if (FAILED(candidate->QueryPinInfo(&info))) continue;
        if (info.pFilter) info.pFilter->Release();
        if (info.dir == dir && wcscmp(info.achName, name) == 0) {
            *pin = candidate.Get();
            (*pin)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

long WaitForEvent(IMediaEvent* events, std::initializer_list<long> wanted, DWORD timeoutMs, LONG_PTR* param1) {
    const DWORD start = GetTickCount();
    for (;;) {
        long code = 0;
        LONG_PTR p1 = 0, p2 = 0;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return 0;
        HRESULT hr = events->GetEvent(&code, &p1, &p2, timeoutMs - elapsed);
        if (hr != S_OK) continue;  // E_ABORT on timeout; the loop ends above
        events->FreeEventParams(code, p1, p2);
        for (long w : wanted) {
            if (w == code) {
                if (param1) *param1 = p1;
                return code;
            }
        }
    }
}

std::wstring MakeTempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        wchar_t name[MAX_PATH + 64];
        swprintf(name, MAX_PATH + 64, L"%lskvgraph_%lu_%u", base, GetCurrentProcessId(), counter++);
        if (CreateDirectoryW(name, nullptr)) return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::wstring();
    }
}

void RemoveTree(const std::wstring& folder) {
    if (folder.empty()) return;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring item = data.cFileName;
            if (item == L"." || item == L"..") continue;
            std::wstring path = folder + L"\\" + item;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                                written == bytes.size());
    CloseHandle(file);
    return ok;
}

bool ReadFileBytes(const std::wstring& path, std::vector<unsigned char>* bytes) {
    bytes->clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) != 0;
    if (ok) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes->empty() ||
             (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) && got == bytes->size());
    }
    CloseHandle(file);
    return ok;
}

std::vector<unsigned char> PatternBytes(size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    unsigned x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(x >> 24);
    }
    return bytes;
}

}  // namespace graphtest
