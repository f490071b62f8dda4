// Saving and loading a configuration: the settings stream, the readable
// registry form (one value per parameter) and the binary registry form (the
// settings stream in one REG_BINARY value "SaveToRegistry").
#include "codec/paramkit/ModuleConfig.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ModuleConfig {

// {4303A293-A3D4-4007-BD8C-DD0E090E971B}
const GUID kSettingsStreamMagic = {0x4303A293, 0xA3D4, 0x4007, {0xBD, 0x8C, 0xDD, 0x0E, 0x09, 0x0E, 0x97, 0x1B}};

namespace {

constexpr char kVersionValue[] = "Settings Version";
constexpr char kBinaryValue[] = "SaveToRegistry";
// No settings record holds more than this many parameters or text bytes.
constexpr long kMaxRecords = 4096;
constexpr int32_t kMaxTextBytes = 64 * 1024;

HRESULT WriteAll(IStream* s, const void* data, ULONG n) {
    ULONG written = 0;
    HRESULT hr = s->Write(data, n, &written);
    if (FAILED(hr)) return hr;
    return written == n ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadAll(IStream* s, void* data, ULONG n) {
    ULONG got = 0;
    HRESULT hr = s->Read(data, n, &got);
    if (FAILED(hr)) return hr;
    return got == n ? S_OK : E_FAIL;
}

// Bytes of a value by its type; -1 for the text layout, 0 for none.
int ValueSize(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
        case VT_BOOL:
        case VT_UI2:
            return 2;
        case VT_I4:
        case VT_R4:
        case VT_ERROR:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_BYREF:
            return 4;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            return 8;
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return 0;
        default:
            return -1;
    }
}

HRESULT WriteText(IStream* s, const BSTR text) {
    int32_t n = text ? static_cast<int32_t>(SysStringByteLen(text) + 2) : 0;
    HRESULT hr = WriteAll(s, &n, 4);
    if (SUCCEEDED(hr) && n > 0) hr = WriteAll(s, text, static_cast<ULONG>(n));
    return hr;
}

HRESULT WriteValue(IStream* s, VARIANT* v) {
    int size = ValueSize(v->vt);
    if (size > 0) return WriteAll(s, &v->bVal, static_cast<ULONG>(size));
    if (size == 0) return S_OK;
    if (v->vt == VT_BSTR) return WriteText(s, v->bstrVal);
    // Other types go in the text layout, keeping their own type tag.
    VARIANT text;
    VariantInit(&text);
    HRESULT hr = VariantChangeType(&text, v, VARIANT_NOVALUEPROP, VT_BSTR);
    if (FAILED(hr)) return hr;
    hr = WriteText(s, text.bstrVal);
    VariantClear(&text);
    return hr;
}

// The types our parameter tables produce; anything else marks a corrupt stream.
bool IsTableType(VARTYPE vt) {
    switch (vt) {
        case VT_UI1:
        case VT_INT:
        case VT_I4:
        case VT_I8:
        case VT_R8:
        case VT_BSTR:
            return true;
        default:
            return false;
    }
}

struct StoredRecord {
    GUID id;
    VARIANT value;
    bool visible;
};

void ClearRecords(std::vector<StoredRecord>& records) {
    for (auto& r : records) VariantClear(&r.value);
    records.clear();
}

HRESULT ReadValue(IStream* s, VARTYPE vt, VARIANT* v) {
    VariantInit(v);
    if (!IsTableType(vt)) return E_FAIL;
    if (vt == VT_BSTR) {
        int32_t n = 0;
        HRESULT hr = ReadAll(s, &n, 4);
        if (FAILED(hr)) return hr;
        if (n == 0) {  // a null text
            v->vt = VT_BSTR;
            v->bstrVal = nullptr;
            return S_OK;
        }
        if (n < 2 || n > kMaxTextBytes || (n & 1)) return E_FAIL;
        std::vector<wchar_t> text(static_cast<size_t>(n) / 2);
        hr = ReadAll(s, text.data(), static_cast<ULONG>(n));
        if (FAILED(hr)) return hr;
        if (text.back() != L'\0') return E_FAIL;
        v->bstrVal = SysAllocString(text.data());
        if (!v->bstrVal) return E_OUTOFMEMORY;
        v->vt = VT_BSTR;
        return S_OK;
    }
    HRESULT hr = ReadAll(s, &v->bVal, static_cast<ULONG>(ValueSize(vt)));
    if (SUCCEEDED(hr)) v->vt = vt;
    return hr;
}

HRESULT ReadRecords(IStream* s, std::vector<StoredRecord>& records) {
    int32_t count = 0;
    HRESULT hr = ReadAll(s, &count, 4);
    if (FAILED(hr)) return hr;
    if (count < 0 || count > kMaxRecords) return E_FAIL;
    for (int32_t i = 0; i < count; ++i) {
        StoredRecord r{};
        VARTYPE vt = 0;
        int32_t visible = 0;
        if (FAILED(hr = ReadAll(s, &r.id, sizeof(GUID))) || FAILED(hr = ReadAll(s, &vt, 2))) return hr;
        if (FAILED(hr = ReadValue(s, vt, &r.value))) return hr;
        hr = ReadAll(s, &visible, 4);
        if (FAILED(hr)) {
            VariantClear(&r.value);
            return hr;
        }
        r.visible = visible != 0;
        records.push_back(r);
    }
    return S_OK;
}

bool IsSaved(CModuleConfig* config, CBaseParam* p, VARIANT* v) {
    if (p->IsReadOnly() || config->IsPersistExcluded(&p->Id())) return false;
    if (FAILED(p->GetValue(v, TRUE))) return false;
    if (v->vt == VT_VOID || v->vt == VT_PTR || v->vt == VT_EMPTY) {
        if (v->vt != VT_PTR) VariantClear(v);
        return false;
    }
    return true;
}

std::string AnsiPath(const wchar_t* keyPath) {
    return WideToAnsi(keyPath);
}

}  // namespace

// Reaches the private members that loading restores.
class SettingsPersistence {
public:
    static long& Version(CModuleConfig& c) { return c.version_; }
};

STDMETHODIMP CModuleConfig::Save(IStream* stream, BOOL) {
    if (!stream) return E_POINTER;
    // Records go to memory first: the count leads them.
    std::vector<GUID> ids;
    IStream* body = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &body);
    if (FAILED(hr)) return hr;
    int32_t count = 0;
    for (CBaseParam* p : params_) {
        VARIANT v;
        VariantInit(&v);
        if (!IsSaved(this, p, &v)) continue;
        int32_t visible = p->IsVisible() ? 1 : 0;
        VARTYPE vt = v.vt;
        if (SUCCEEDED(hr)) hr = WriteAll(body, &p->Id(), sizeof(GUID));
        if (SUCCEEDED(hr)) hr = WriteAll(body, &vt, 2);
        if (SUCCEEDED(hr)) hr = WriteValue(body, &v);
        if (SUCCEEDED(hr)) hr = WriteAll(body, &visible, 4);
        VariantClear(&v);
        ++count;
    }
    int32_t version = static_cast<int32_t>(version_);
    if (SUCCEEDED(hr)) hr = WriteAll(stream, &kSettingsStreamMagic, sizeof(GUID));
    if (SUCCEEDED(hr)) hr = WriteAll(stream, &version, 4);
    if (SUCCEEDED(hr)) hr = WriteAll(stream, &count, 4);
    if (SUCCEEDED(hr)) {
        STATSTG stat{};
        hr = body->Stat(&stat, STATFLAG_NONAME);
        LARGE_INTEGER zero{};
        if (SUCCEEDED(hr)) hr = body->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (SUCCEEDED(hr) && stat.cbSize.QuadPart > 0) {
            ULARGE_INTEGER read{}, written{};
            hr = body->CopyTo(stream, stat.cbSize, &read, &written);
            if (SUCCEEDED(hr) && written.QuadPart != stat.cbSize.QuadPart) hr = STG_E_MEDIUMFULL;
        }
    }
    body->Release();
    return FAILED(hr) ? hr : S_OK;
}

// Everything is read and checked before any value changes: a corrupt or
// foreign stream fails with the configuration untouched.
STDMETHODIMP CModuleConfig::Load(IStream* stream) {
    if (!stream) return E_POINTER;
    GUID magic{};
    int32_t version = 0;
    if (FAILED(ReadAll(stream, &magic, sizeof(GUID))) || FAILED(ReadAll(stream, &version, 4))) return E_FAIL;
    if (std::memcmp(&magic, &kSettingsStreamMagic, sizeof(GUID)) != 0) return E_FAIL;
    long old = version_;
    version_ = version;
    if (FAILED(CheckVersion())) {
        version_ = old;
        return E_FAIL;
    }
    std::vector<StoredRecord> records;
    if (FAILED(ReadRecords(stream, records))) {
        ClearRecords(records);
        version_ = old;
        return E_FAIL;
    }
    for (auto& r : records) {
        CBaseParam* p = FindParam(&r.id);
        if (!p) continue;
        p->SetValue(&r.value, FALSE);
        p->RestoreVisible(r.visible);
    }
    ClearRecords(records);
    CommitChanges(nullptr);
    return S_OK;
}

STDMETHODIMP CModuleConfig::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    ULONG total = 24;
    for (CBaseParam* p : params_) {
        if (p->IsReadOnly()) continue;
        if (p->ValueType() != VT_BSTR) {
            total += 36;
            continue;
        }
        VARIANT v;
        total += 40;
        if (SUCCEEDED(p->GetValue(&v, TRUE))) {
            if (v.vt == VT_BSTR && v.bstrVal) total += SysStringByteLen(v.bstrVal);
            VariantClear(&v);
        }
    }
    size->QuadPart = total;
    return S_OK;
}

// Readable registry form.

namespace {

void WriteReadable(HKEY key, const char* name, VARIANT* v) {
    DWORD dw = 0;
    switch (v->vt) {
        case VT_I2:
        case VT_UI2:
            dw = v->uiVal;
            break;
        case VT_I4:
        case VT_ERROR:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_HRESULT:
            dw = v->ulVal;
            break;
        case VT_BOOL:
        case VT_I1:
        case VT_UI1:
            dw = v->bVal;
            break;
        case VT_R4:
        case VT_R8: {
            char text[64];
            std::snprintf(text, sizeof text, "%f", v->vt == VT_R4 ? static_cast<double>(v->fltVal) : v->dblVal);
            RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           static_cast<DWORD>(std::strlen(text) + 1));
            return;
        }
        case VT_BSTR: {
            if (!v->bstrVal || !*v->bstrVal) return;
            std::string text = WideToAnsi(v->bstrVal);
            RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
            return;
        }
        case VT_I8:
        case VT_UI8:
            if (BuildPolicy::kRegistryKeepsInt64)
                RegSetValueExA(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&v->ullVal), 8);
            return;
        default:
            return;
    }
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dw), 4);
}

// Reads one value into v (whose type is set). Missing values count as read
// in the lenient build: 0 for numbers, an empty text for strings.
bool ReadReadable(HKEY key, const char* name, VARIANT* v) {
    DWORD type = 0;
    switch (v->vt) {
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_ERROR:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_HRESULT:
        case VT_BOOL:
        case VT_I1:
        case VT_UI1: {
            DWORD dw = 0, size = 4;
            LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&dw), &size);
            if (rc == ERROR_FILE_NOT_FOUND && BuildPolicy::kLenientReadableLoad)
                dw = 0;
            else if (rc != ERROR_SUCCESS || type != REG_DWORD || size != 4)
                return false;
            VARTYPE vt = v->vt;
            std::memset(&v->bVal, 0, 8);
            v->vt = vt;
            if (vt == VT_I2 || vt == VT_UI2)
                v->uiVal = static_cast<USHORT>(dw);
            else if (vt == VT_BOOL || vt == VT_I1 || vt == VT_UI1)
                v->bVal = static_cast<BYTE>(dw);
            else
                v->ulVal = dw;
            return true;
        }
        case VT_I8:
        case VT_UI8: {
            if (!BuildPolicy::kRegistryKeepsInt64) return false;
            ULONGLONG q = 0;
            DWORD size = 8;
            LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&q), &size);
            if (rc != ERROR_SUCCESS || type != REG_QWORD || size != 8) return false;
            v->ullVal = q;
            return true;
        }
        case VT_R4:
        case VT_R8: {
            char text[1025] = {};
            DWORD size = 1024;
            LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
            if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
            text[size < 1024 ? size : 1024] = '\0';
            char* end = nullptr;
            double d = std::strtod(text, &end);
            if (end == text) return false;
            if (v->vt == VT_R4)
                v->fltVal = static_cast<float>(d);
            else
                v->dblVal = d;
            return true;
        }
        case VT_BSTR: {
            char text[261] = {};
            DWORD size = 260;
            LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
            if (rc == ERROR_FILE_NOT_FOUND && BuildPolicy::kLenientReadableLoad)
                text[0] = '\0';
            else if (rc != ERROR_SUCCESS || type != REG_SZ)
                return false;
            else
                text[size < 260 ? size : 260] = '\0';
            VariantClear(v);
            v->bstrVal = SysAllocString(AnsiToWide(text).c_str());
            if (!v->bstrVal) return false;
            v->vt = VT_BSTR;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

static HRESULT SaveReadable(CModuleConfig& c, HKEY root, const wchar_t* keyPath) {
    HKEY key = nullptr;
    std::string path = AnsiPath(keyPath);
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, BuildPolicy::kRegistryAccess, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return S_OK;  // nothing can be written; saving is best effort
    DWORD version = static_cast<DWORD>(c.SettingsVersion());
    RegSetValueExA(key, kVersionValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4);
    for (size_t i = 0; i < c.ParamCount(); ++i) {
        CBaseParam* p = c.ParamAt(i);
        VARIANT v;
        if (FAILED(p->GetValue(&v, TRUE))) continue;
        if (!p->IsReadOnly() && *p->AnsiName()) WriteReadable(key, p->AnsiName(), &v);
        if (v.vt != VT_PTR) VariantClear(&v);
    }
    RegCloseKey(key);
    return S_OK;
}

static HRESULT LoadReadable(CModuleConfig& c, HKEY root, const wchar_t* keyPath) {
    std::string path = AnsiPath(keyPath);
    HKEY key = nullptr;
    long& version = SettingsPersistence::Version(c);
    long old = version;
    bool opened = RegOpenKeyExA(root, path.c_str(), 0, BuildPolicy::kRegistryAccess, &key) == ERROR_SUCCESS;
    bool versionRead = false;
    if (opened) {
        DWORD stored = 0, size = 4, type = 0;
        versionRead = RegQueryValueExA(key, kVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(&stored), &size) ==
                          ERROR_SUCCESS &&
                      type == REG_DWORD && size == 4;
        if (versionRead) version = static_cast<long>(stored);
    }
    if (!opened || !versionRead || FAILED(c.CheckVersion())) {
        version = old;
        if (key) RegCloseKey(key);
        RegDeleteKeyA(root, path.c_str());
        // A stale stored set is dropped quietly where the build is lenient.
        return BuildPolicy::kLenientReadableLoad && opened ? S_OK : E_FAIL;
    }
    for (size_t i = 0; i < c.ParamCount(); ++i) {
        CBaseParam* p = c.ParamAt(i);
        if (p->IsReadOnly() || !*p->AnsiName()) continue;
        VARIANT v;
        if (FAILED(p->GetDefaultValue(&v))) continue;
        if (ReadReadable(key, p->AnsiName(), &v)) p->SetValue(&v, TRUE);
        if (v.vt != VT_PTR) VariantClear(&v);
    }
    c.CommitChanges(nullptr);
    RegCloseKey(key);
    return S_OK;
}

// Binary registry form: the settings stream bytes in one REG_BINARY value.

static HRESULT SaveBinary(CModuleConfig& c, HKEY root, const wchar_t* keyPath) {
    IStream* mem = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &mem);
    if (FAILED(hr)) return hr;
    hr = c.Save(mem, TRUE);
    HGLOBAL block = nullptr;
    if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(mem, &block);
    STATSTG stat{};
    if (SUCCEEDED(hr)) hr = mem->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) {
        mem->Release();
        return hr;
    }
    std::string path = AnsiPath(keyPath);
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG rc =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, BuildPolicy::kRegistryAccess, nullptr, &key, &disposition);
    if (rc == ERROR_SUCCESS) {
        if (disposition == REG_OPENED_EXISTING_KEY) {
            char name[1025];
            DWORD len = sizeof name;
            while (RegEnumValueA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
                if (RegDeleteValueA(key, name) != ERROR_SUCCESS) break;
                len = sizeof name;
            }
        }
        const BYTE* data = static_cast<const BYTE*>(GlobalLock(block));
        rc = RegSetValueExA(key, kBinaryValue, 0, REG_BINARY, data, static_cast<DWORD>(stat.cbSize.QuadPart));
        GlobalUnlock(block);
        RegCloseKey(key);
    }
    mem->Release();
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

static HRESULT LoadBinary(CModuleConfig& c, HKEY root, const wchar_t* keyPath) {
    std::string path = AnsiPath(keyPath);
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, BuildPolicy::kRegistryAccess, &key) != ERROR_SUCCESS) return E_UNEXPECTED;
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(key, kBinaryValue, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS || type != REG_BINARY) {
        RegCloseKey(key);
        return E_UNEXPECTED;
    }
    std::vector<BYTE> data(size);
    rc = RegQueryValueExA(key, kBinaryValue, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    IStream* mem = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &mem);
    if (FAILED(hr)) return hr;
    hr = WriteAll(mem, data.data(), size);
    LARGE_INTEGER zero{};
    if (SUCCEEDED(hr)) hr = mem->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (SUCCEEDED(hr)) hr = c.Load(mem);
    mem->Release();
    return hr;
}

STDMETHODIMP CModuleConfig::SaveToRegistry(HKEY root, const wchar_t* keyPath, BOOL readable) {
    if (!keyPath) return E_POINTER;
    return readable ? SaveReadable(*this, root, keyPath) : SaveBinary(*this, root, keyPath);
}

STDMETHODIMP CModuleConfig::LoadFromRegistry(HKEY root, const wchar_t* keyPath, BOOL readable) {
    if (!keyPath) return E_POINTER;
    return readable ? LoadReadable(*this, root, keyPath) : LoadBinary(*this, root, keyPath);
}

}  // namespace ModuleConfig
