#include "codec/paramkit/ParamLimits.h"

namespace ModuleConfig {

HRESULT CParamLimit::GetName(BSTR* name) const {
    *name = SysAllocString(wideName_.c_str());
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT CLimitText::Get(VARIANT* value, BSTR* name) const {
    if (name) {
        HRESULT hr = GetName(name);
        if (FAILED(hr)) return hr;
    }
    if (value) {
        VariantInit(value);
        value->bstrVal = SysAllocString(value_.c_str());
        if (!value->bstrVal) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
    }
    return S_OK;
}

unsigned char CLimitText::Matches(const VARIANT* value) const {
    if (!value || value->vt != VT_BSTR) return 0;
    const wchar_t* text = value->bstrVal ? value->bstrVal : L"";
    return value_ == text ? 1 : 0;
}

void CValidValues::Add(CParamLimit* limit) {
    CAutoLock guard(&lock_);
    list_.emplace_back(limit);
}

unsigned CValidValues::GetCount() {
    CAutoLock guard(&lock_);
    return static_cast<unsigned>(list_.size());
}

CParamLimit* CValidValues::GetAt(unsigned index) {
    CAutoLock guard(&lock_);
    return index < list_.size() ? list_[index].get() : nullptr;
}

void CValidValues::Clear() {
    CAutoLock guard(&lock_);
    list_.clear();
}

}  // namespace ModuleConfig
