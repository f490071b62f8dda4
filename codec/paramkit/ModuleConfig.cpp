#include "codec/paramkit/ModuleConfig.h"

#include <algorithm>
#include <cstring>

namespace ModuleConfig {

CModuleConfig::CModuleConfig(const CLSID* classId, long settingsVersion, CCritSec* valueLock)
    : valueLock_(valueLock ? valueLock : &ownValueLock_), classId_(classId), version_(settingsVersion) {}

CModuleConfig::~CModuleConfig() {
    for (CBaseParam* p : params_) p->NonDelegatingRelease();
}

int CModuleConfig::IsPersistExcluded(const GUID*) {
    return 0;
}

CBaseParam* CModuleConfig::FindParam(const GUID* id) const {
    if (!id) return nullptr;
    for (CBaseParam* p : params_)
        if (std::memcmp(&p->Id(), id, sizeof(GUID)) == 0) return p;
    return nullptr;
}

STDMETHODIMP CModuleConfig::GetClassID(CLSID* classId) {
    if (!classId) return E_POINTER;
    *classId = classId_ ? *classId_ : GUID_NULL;
    return S_OK;
}

STDMETHODIMP CModuleConfig::IsDirty() {
    return dirty_ ? S_OK : S_FALSE;
}

STDMETHODIMP CModuleConfig::SetValue(const GUID* id, const VARIANT* value) {
    if (!id || !value) return E_POINTER;
    CBaseParam* p = FindParam(id);
    if (!p) return E_UNEXPECTED;
    return p->SetValue(value, FALSE);
}

STDMETHODIMP CModuleConfig::GetValue(const GUID* id, VARIANT* value) {
    if (!id || !value) return E_POINTER;
    VariantInit(value);
    CBaseParam* p = FindParam(id);
    if (!p) return E_INVALIDARG;
    return p->GetValue(value, TRUE);
}

STDMETHODIMP CModuleConfig::GetParamConfig(const GUID* id, IParamConfig** param) {
    if (!param) return E_POINTER;
    CBaseParam* p = FindParam(id);
    if (!p) {
        *param = nullptr;
        return E_INVALIDARG;
    }
    *param = p;
    p->AddRef();
    return S_OK;
}

STDMETHODIMP CModuleConfig::IsSupported(const GUID* id) {
    if (!id) return E_POINTER;
    return FindParam(id) ? S_OK : S_FALSE;
}

STDMETHODIMP CModuleConfig::EnumParams(long* count, GUID* ids) {
    if (!count) return E_POINTER;
    long n = static_cast<long>(params_.size());
    if (!ids || *count < n) {
        *count = n;
        return S_FALSE;
    }
    for (long i = 0; i < n; ++i) ids[i] = params_[static_cast<size_t>(i)]->Id();
    *count = n;
    return S_OK;
}

// Listeners get a copy of the list, so one may unregister inside its call.
HRESULT CModuleConfig::Notify(const std::vector<GUID>& ids) {
    std::vector<IModuleCallback*> listeners;
    {
        CAutoLock guard(&callbackLock_);
        listeners = callbacks_;
    }
    for (IModuleCallback* cb : listeners) cb->OnModuleChanged(static_cast<long>(ids.size()), ids.data());
    return S_OK;
}

HRESULT CModuleConfig::ApplyAndNotify(const std::vector<CBaseParam*>& params, const std::vector<GUID>& ids,
                                      VARIANT* errorInfo) {
    HRESULT hr;
    try {
        hr = ApplyChanges(static_cast<long>(ids.size()), ids.data(), errorInfo);
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) return hr;
    for (CBaseParam* p : params) p->ClearChanged();
    return Notify(ids);
}

STDMETHODIMP CModuleConfig::CommitChanges(VARIANT* errorInfo) {
    std::vector<CBaseParam*> params;
    std::vector<GUID> ids;
    try {
        params.reserve(params_.size());
        ids.reserve(params_.size());
    } catch (...) {
        return E_UNEXPECTED;
    }
    // Read-only parameters are always reported: they are the owner's outputs.
    for (CBaseParam* p : params_) {
        if (p->IsChanged() || p->IsReadOnly()) {
            params.push_back(p);
            ids.push_back(p->Id());
        }
    }
    return ApplyAndNotify(params, ids, errorInfo);
}

STDMETHODIMP CModuleConfig::ResetToDefaults() {
    HRESULT result = E_UNEXPECTED;
    std::vector<CBaseParam*> params;
    std::vector<GUID> ids;
    try {
        for (CBaseParam* p : params_) {
            if (p->IsReadOnly()) continue;
            VARIANT v;
            result = p->GetDefaultValue(&v);
            if (FAILED(result)) continue;
            result = p->SetValue(&v, FALSE);
            if (v.vt != VT_PTR) VariantClear(&v);
            params.push_back(p);
            ids.push_back(p->Id());
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return FAILED(result) && result != E_UNEXPECTED ? result : E_FAIL;
    }
    return ApplyAndNotify(params, ids, nullptr);
}

STDMETHODIMP CModuleConfig::DeclineChanges() {
    std::vector<CBaseParam*> params;
    std::vector<GUID> ids;
    for (CBaseParam* p : params_) {
        if (!p->IsChanged()) continue;
        if (!p->IsReadOnly()) {
            VARIANT v;
            if (SUCCEEDED(p->GetValue(&v, TRUE))) {
                p->SetValue(&v, FALSE);
                if (v.vt != VT_PTR) VariantClear(&v);
            }
        }
        params.push_back(p);
        ids.push_back(p->Id());
    }
    return ApplyAndNotify(params, ids, nullptr);
}

STDMETHODIMP CModuleConfig::RegisterForNotifies(IModuleCallback* callback) {
    if (!callback) return E_POINTER;
    CAutoLock guard(&callbackLock_);
    callbacks_.push_back(callback);
    return S_OK;
}

STDMETHODIMP CModuleConfig::UnregisterFromNotifies(IModuleCallback* callback) {
    CAutoLock guard(&callbackLock_);
    callbacks_.erase(std::remove(callbacks_.begin(), callbacks_.end(), callback), callbacks_.end());
    return S_OK;
}

// Read-only parameters are the owner's outputs: their bound value is never
// replaced by a pending one.
void CModuleConfig::StorePendingValues(long count, const GUID* ids) {
    for (long i = 0; i < count; ++i) {
        CBaseParam* p = FindParam(&ids[i]);
        if (p && !p->IsReadOnly()) p->StorePending();
    }
}

}  // namespace ModuleConfig
