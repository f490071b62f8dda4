// One parameter: a small COM object with a pending value, a committed value
// bound to a field of the owner's settings record, and optional named values
// or a range.
#pragma once

#include "codec/paramkit/ParamInterfaces.h"
#include "codec/paramkit/ParamLimits.h"
#include "platform/dshow/ComBase.h"

#include <memory>
#include <new>
#include <string>

namespace ModuleConfig {

class CModuleConfig;

class CBaseParam : public CUnknown, public IParamConfig {
public:
    CBaseParam(CModuleConfig* owner, const GUID* id, bool readOnly, const char* name, bool visible);
    CBaseParam(CModuleConfig* owner, const GUID* id, bool readOnly, const wchar_t* name, bool visible);

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    STDMETHODIMP SetVisible(BOOL visible) override;
    STDMETHODIMP GetVisible(BOOL* visible) override;
    STDMETHODIMP GetParamID(GUID* id) override;
    STDMETHODIMP GetName(BSTR* name) override;
    STDMETHODIMP GetReadOnly(BOOL* readOnly) override;
    STDMETHODIMP GetInfo(VARIANT* value, BSTR* valueName, BSTR* name, BOOL* readOnly, BOOL* visible) override;
    STDMETHODIMP GetRange(VARIANT* min, VARIANT* max, VARIANT* step) override;
    STDMETHODIMP EnumValidValues(long* count, VARIANT* values, BSTR* names) override;
    STDMETHODIMP ValueToName(const VARIANT* value, BSTR* name) override;
    STDMETHODIMP NameToValue(BSTR name, VARIANT* value) override;
    STDMETHODIMP SetValidValues(long count, VARIANT* values, const wchar_t* const* names) override;

    // The fixed VARIANT type of the value.
    virtual VARTYPE ValueType() const = 0;
    // Moves the pending value into the bound field (an owner's apply step).
    virtual void StorePending() = 0;

    const GUID& Id() const { return *id_; }
    bool IsReadOnly() const { return readOnly_; }
    bool IsVisible() const { return visible_; }
    bool IsChanged() const { return changed_; }
    void ClearChanged() { changed_ = false; }
    // Sets visibility without marking a change (loading stored settings).
    void RestoreVisible(bool visible) { visible_ = visible; }
    const char* AnsiName() const { return ansiName_.c_str(); }
    const wchar_t* WideName() const { return wideName_.c_str(); }

    // Table building.
    void AddValidValue(CParamLimit* limit);
    void SetValidator(CValueValidator* validator) { validator_.reset(validator); }
    bool HasValidValues() const { return validValues_ != nullptr; }

protected:
    ~CBaseParam() override = default;

    // A named value of this parameter's type made from a converted VARIANT.
    virtual HRESULT MakeLimit(const wchar_t* name, VARIANT* value, CParamLimit** limit) = 0;
    // Calls the owner's apply step for this one parameter; true on success.
    bool ApplyNow();
    CCritSec& ValueLock();

    CModuleConfig* const owner_;
    const GUID* const id_;
    bool changed_ = false;
    const bool readOnly_;
    std::wstring wideName_;
    std::string ansiName_;
    bool visible_;
    std::unique_ptr<CValidValues> validValues_;
    std::unique_ptr<CValueValidator> validator_;
};

// T is the bound field's type; Traits says how it travels in a VARIANT.
template <class T, class Traits = VariantTraits<T>>
class CParamImpl : public CBaseParam {
public:
    template <class Name>
    CParamImpl(CModuleConfig* owner, const GUID* id, bool readOnly, Name name, bool visible, T* bound, T defaultValue)
        : CBaseParam(owner, id, readOnly, name, visible),
          bound_(bound),
          pending_(defaultValue),
          default_(defaultValue) {
        *bound_ = defaultValue;
    }

    STDMETHODIMP SetValue(const VARIANT* value, BOOL applyNow) override {
        if (!value) return E_POINTER;
        if (readOnly_) return E_ACCESSDENIED;
        if (validator_ && !validator_->IsValid(value)) return E_INVALIDARG;
        bool converted = false;
        HRESULT hr = ConvertInPlace(const_cast<VARIANT*>(value), Traits::vt, &converted);
        if (FAILED(hr)) return hr;
        T x = Traits::Get(*value);
        if (!applyNow) {
            CAutoLock guard(&ValueLock());
            pending_ = x;
            changed_ = true;
        } else {
            {
                CAutoLock guard(&ValueLock());
                *bound_ = x;
                pending_ = x;
            }
            if (ApplyNow()) changed_ = false;
        }
        return converted ? S_FALSE : S_OK;
    }

    STDMETHODIMP GetValue(VARIANT* value, BOOL committed) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        CAutoLock guard(&ValueLock());
        Traits::Put(value, (committed || readOnly_) ? *bound_ : pending_);
        return S_OK;
    }

    STDMETHODIMP GetDefaultValue(VARIANT* value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        Traits::Put(value, default_);
        return S_OK;
    }

    VARTYPE ValueType() const override { return Traits::vt; }

    void StorePending() override {
        CAutoLock guard(&ValueLock());
        *bound_ = pending_;
    }

    // The committed value, for the owner's own use.
    T Committed() {
        CAutoLock guard(&ValueLock());
        return *bound_;
    }
    T Pending() {
        CAutoLock guard(&ValueLock());
        return pending_;
    }

protected:
    HRESULT MakeLimit(const wchar_t* name, VARIANT* value, CParamLimit** limit) override {
        bool converted = false;
        HRESULT hr = ConvertInPlace(value, Traits::vt, &converted);
        if (FAILED(hr)) return hr;
        *limit = new (std::nothrow) CLimitImpl<T, Traits>(name, Traits::Get(*value));
        return *limit ? S_OK : E_OUTOFMEMORY;
    }

private:
    T* const bound_;
    T pending_;
    const T default_;
};

// The string parameter: the bound field is a BSTR member of the settings
// record, which this parameter allocates and reallocates.
class CParamStr : public CBaseParam {
public:
    CParamStr(CModuleConfig* owner, const GUID* id, bool readOnly, BSTR* bound, const wchar_t* defaultText,
              const char* name, bool visible);
    CParamStr(CModuleConfig* owner, const GUID* id, bool readOnly, BSTR* bound, const wchar_t* defaultText,
              const wchar_t* name, bool visible);

    STDMETHODIMP SetValue(const VARIANT* value, BOOL applyNow) override;
    STDMETHODIMP GetValue(VARIANT* value, BOOL committed) override;
    STDMETHODIMP GetInfo(VARIANT* value, BSTR* valueName, BSTR* name, BOOL* readOnly, BOOL* visible) override;
    STDMETHODIMP GetDefaultValue(VARIANT* value) override;

    VARTYPE ValueType() const override { return VT_BSTR; }
    void StorePending() override;
    std::wstring PendingText();

protected:
    HRESULT MakeLimit(const wchar_t* name, VARIANT* value, CParamLimit** limit) override;

private:
    void Init(const wchar_t* defaultText);

    BSTR* const bound_;
    std::wstring default_;
    std::wstring pending_;
};

}  // namespace ModuleConfig
