#include "codec/paramkit/BaseParam.h"

#include "codec/paramkit/ModuleConfig.h"

namespace ModuleConfig {

CBaseParam::CBaseParam(CModuleConfig* owner, const GUID* id, bool readOnly, const char* name, bool visible)
    : CBaseParam(owner, id, readOnly, AnsiToWide(name).c_str(), visible) {}

CBaseParam::CBaseParam(CModuleConfig* owner, const GUID* id, bool readOnly, const wchar_t* name, bool visible)
    : CUnknown("CBaseParam", nullptr),
      owner_(owner),
      id_(id),
      readOnly_(readOnly),
      wideName_(name ? name : L""),
      ansiName_(WideToAnsi(wideName_.c_str())),
      visible_(visible) {
    // The configuration holds this first reference and releases it when it dies.
    NonDelegatingAddRef();
}

STDMETHODIMP CBaseParam::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IParamConfig) return GetInterface(static_cast<IParamConfig*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

bool CBaseParam::ApplyNow() {
    return SUCCEEDED(owner_->ApplyChanges(1, id_, nullptr));
}

CCritSec& CBaseParam::ValueLock() {
    return owner_->ValueLock();
}

STDMETHODIMP CBaseParam::SetVisible(BOOL visible) {
    visible_ = visible != 0;
    changed_ = true;
    return S_OK;
}

STDMETHODIMP CBaseParam::GetVisible(BOOL* visible) {
    if (!visible) return E_POINTER;
    *visible = visible_ ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP CBaseParam::GetParamID(GUID* id) {
    if (!id) return E_POINTER;
    *id = *id_;
    return S_OK;
}

STDMETHODIMP CBaseParam::GetName(BSTR* name) {
    if (!name) return E_POINTER;
    *name = SysAllocString(wideName_.c_str());
    return *name ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBaseParam::GetReadOnly(BOOL* readOnly) {
    if (!readOnly) return E_POINTER;
    *readOnly = readOnly_ ? TRUE : FALSE;
    return S_OK;
}

// Fills what it can and still answers E_NOTIMPL, as callers expect.
STDMETHODIMP CBaseParam::GetInfo(VARIANT* value, BSTR* valueName, BSTR* name, BOOL* readOnly, BOOL* visible) {
    if (value) GetValue(value, TRUE);
    if (value && valueName) {
        *valueName = nullptr;
        ValueToName(value, valueName);
    }
    if (name) GetName(name);
    if (readOnly) *readOnly = readOnly_ ? TRUE : FALSE;
    if (visible) *visible = visible_ ? TRUE : FALSE;
    return E_NOTIMPL;
}

STDMETHODIMP CBaseParam::GetRange(VARIANT* min, VARIANT* max, VARIANT* step) {
    if (!BuildPolicy::kReportsRange) return E_NOTIMPL;
    if (!min || !max || !step) return E_POINTER;
    if (!validator_) return E_UNEXPECTED;
    return validator_->GetBounds(min, max, step);
}

STDMETHODIMP CBaseParam::EnumValidValues(long* count, VARIANT* values, BSTR* names) {
    if (!count) return E_POINTER;
    unsigned n = validValues_ ? validValues_->GetCount() : 0;
    if (!validValues_ || n == 0) {
        *count = 0;
        return E_UNEXPECTED;
    }
    if (!values && !names) {
        *count = static_cast<long>(n);
        return S_FALSE;
    }
    // Never read past the list, whatever the caller asks for.
    if (*count < 0 || static_cast<unsigned long>(*count) > n) return E_INVALIDARG;
    for (long i = 0; i < *count; ++i) {
        CParamLimit* limit = validValues_->GetAt(static_cast<unsigned>(i));
        if (!limit) return E_UNEXPECTED;
        HRESULT hr = limit->Get(values ? &values[i] : nullptr, names ? &names[i] : nullptr);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// Entries are tried from the last to the first, so a later duplicate wins.
STDMETHODIMP CBaseParam::ValueToName(const VARIANT* value, BSTR* name) {
    if (!value || !name) return E_POINTER;
    if (!validValues_) return E_UNEXPECTED;
    for (unsigned i = validValues_->GetCount(); i-- > 0;) {
        CParamLimit* limit = validValues_->GetAt(i);
        if (!limit) continue;
        // Matching converts in place: work on a copy so each entry sees the original.
        VARIANT probe;
        VariantInit(&probe);
        if (value->vt == VT_PTR) {
            probe = *value;
        } else if (FAILED(VariantCopy(&probe, const_cast<VARIANT*>(value)))) {
            continue;
        }
        bool match = limit->Matches(&probe) != 0;
        if (probe.vt != VT_PTR) VariantClear(&probe);
        if (match) return limit->Get(nullptr, name);
    }
    return E_UNEXPECTED;
}

STDMETHODIMP CBaseParam::NameToValue(BSTR name, VARIANT* value) {
    if (!value) return E_POINTER;
    if (!validValues_) return E_UNEXPECTED;
    const wchar_t* wide = name ? name : L"";
    std::string ansi = WideToAnsi(wide);
    for (unsigned i = validValues_->GetCount(); i-- > 0;) {
        CParamLimit* limit = validValues_->GetAt(i);
        if (!limit) continue;
        bool equal = BuildPolicy::kWideNames ? limit->WideName() == wide : limit->AnsiName() == ansi;
        if (equal) return limit->Get(value, nullptr);
    }
    return E_UNEXPECTED;
}

STDMETHODIMP CBaseParam::SetValidValues(long count, VARIANT* values, const wchar_t* const* names) {
    if (!BuildPolicy::kEditableValueLists) return E_NOTIMPL;
    if (count == 0) {
        validValues_.reset();
        return S_OK;
    }
    if (count < 0) return E_INVALIDARG;
    if (!values || !names) return E_POINTER;
    if (!validValues_) {
        validValues_.reset(new (std::nothrow) CValidValues);
        if (!validValues_) return E_OUTOFMEMORY;
    }
    validValues_->Clear();
    for (long i = 0; i < count; ++i) {
        CParamLimit* limit = nullptr;
        HRESULT hr = MakeLimit(names[i], &values[i], &limit);
        if (FAILED(hr)) return hr;
        validValues_->Add(limit);
    }
    return S_OK;
}

void CBaseParam::AddValidValue(CParamLimit* limit) {
    if (!validValues_) validValues_.reset(new CValidValues);
    validValues_->Add(limit);
}

// String parameter.

CParamStr::CParamStr(CModuleConfig* owner, const GUID* id, bool readOnly, BSTR* bound, const wchar_t* defaultText,
                     const char* name, bool visible)
    : CBaseParam(owner, id, readOnly, name, visible), bound_(bound) {
    Init(defaultText);
}

CParamStr::CParamStr(CModuleConfig* owner, const GUID* id, bool readOnly, BSTR* bound, const wchar_t* defaultText,
                     const wchar_t* name, bool visible)
    : CBaseParam(owner, id, readOnly, name, visible), bound_(bound) {
    Init(defaultText);
}

void CParamStr::Init(const wchar_t* defaultText) {
    default_ = defaultText ? defaultText : L"";
    pending_ = default_;
    *bound_ = SysAllocString(default_.c_str());
}

STDMETHODIMP CParamStr::SetValue(const VARIANT* value, BOOL applyNow) {
    if (!value) return E_POINTER;
    if (readOnly_) return E_ACCESSDENIED;
    if (validator_ && !validator_->IsValid(value)) return E_INVALIDARG;
    if (value->vt != VT_BSTR) return E_FAIL;
    if (!value->bstrVal || !*value->bstrVal) return S_OK;
    std::wstring text(value->bstrVal, SysStringLen(value->bstrVal));
    if (!applyNow) {
        CAutoLock guard(&ValueLock());
        pending_ = text;
        changed_ = true;
        return S_FALSE;
    }
    {
        CAutoLock guard(&ValueLock());
        if (!SysReAllocStringLen(bound_, text.c_str(), static_cast<UINT>(text.size()))) return E_FAIL;
        pending_ = text;
    }
    HRESULT hr = owner_->ApplyChanges(1, id_, nullptr);
    if (SUCCEEDED(hr)) changed_ = false;
    return hr;
}

// Callers own and clear what they get: always a fresh copy.
STDMETHODIMP CParamStr::GetValue(VARIANT* value, BOOL committed) {
    if (!value) return E_POINTER;
    VariantInit(value);
    CAutoLock guard(&ValueLock());
    if (committed || readOnly_) {
        value->bstrVal = *bound_ ? SysAllocStringLen(*bound_, SysStringLen(*bound_)) : SysAllocString(L"");
    } else {
        value->bstrVal = SysAllocStringLen(pending_.c_str(), static_cast<UINT>(pending_.size()));
    }
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
}

STDMETHODIMP CParamStr::GetInfo(VARIANT*, BSTR*, BSTR*, BOOL*, BOOL*) {
    return E_NOTIMPL;
}

STDMETHODIMP CParamStr::GetDefaultValue(VARIANT* value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    value->bstrVal = SysAllocStringLen(default_.c_str(), static_cast<UINT>(default_.size()));
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
}

void CParamStr::StorePending() {
    CAutoLock guard(&ValueLock());
    SysReAllocStringLen(bound_, pending_.c_str(), static_cast<UINT>(pending_.size()));
}

std::wstring CParamStr::PendingText() {
    CAutoLock guard(&ValueLock());
    return pending_;
}

HRESULT CParamStr::MakeLimit(const wchar_t* name, VARIANT* value, CParamLimit** limit) {
    if (value->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    *limit = new (std::nothrow) CLimitText(name, value->bstrVal);
    return *limit ? S_OK : E_OUTOFMEMORY;
}

}  // namespace ModuleConfig
