// Named values and range checks of a parameter.
#pragma once

#include "codec/paramkit/ParamPolicy.h"
#include "codec/paramkit/UString.h"
#include "codec/paramkit/VariantTraits.h"
#include "platform/dshow/Sync.h"

#include <memory>
#include <string>
#include <vector>

namespace ModuleConfig {

// One named value.
class CParamLimit {
public:
    virtual ~CParamLimit() = default;
    // Fills name (new BSTR) and/or value, each only when not null.
    virtual HRESULT Get(VARIANT* value, BSTR* name) const = 0;
    // Converts the caller's VARIANT in place to the entry's type and compares.
    virtual unsigned char Matches(const VARIANT* value) const = 0;

    const std::wstring& WideName() const { return wideName_; }
    const std::string& AnsiName() const { return ansiName_; }

protected:
    explicit CParamLimit(const std::wstring& name) : wideName_(name), ansiName_(WideToAnsi(name.c_str())) {}
    HRESULT GetName(BSTR* name) const;

private:
    std::wstring wideName_;
    std::string ansiName_;
};

template <class T, class Traits = VariantTraits<T>>
class CLimitImpl : public CParamLimit {
public:
    CLimitImpl(const char* name, T value) : CParamLimit(AnsiToWide(name)), value_(value) {}
    CLimitImpl(const wchar_t* name, T value) : CParamLimit(name ? name : L""), value_(value) {}

    HRESULT Get(VARIANT* value, BSTR* name) const override {
        if (name) {
            HRESULT hr = GetName(name);
            if (FAILED(hr)) return hr;
        }
        if (value) {
            VariantInit(value);
            Traits::Put(value, value_);
        }
        return S_OK;
    }

    unsigned char Matches(const VARIANT* value) const override {
        if (!value) return 0;
        bool converted = false;
        if (FAILED(ConvertInPlace(const_cast<VARIANT*>(value), Traits::vt, &converted))) return 0;
        return Traits::Get(*value) == value_ ? 1 : 0;
    }

    T Value() const { return value_; }

private:
    T value_;
};

// A string parameter's named value: the value is the text itself.
class CLimitText : public CParamLimit {
public:
    CLimitText(const wchar_t* name, const wchar_t* value)
        : CParamLimit(name ? name : L""), value_(value ? value : L"") {}
    HRESULT Get(VARIANT* value, BSTR* name) const override;
    unsigned char Matches(const VARIANT* value) const override;

private:
    std::wstring value_;
};

// The lock-guarded list of named values of one parameter.
class CValidValues {
public:
    CValidValues() = default;
    CValidValues(const CValidValues&) = delete;
    CValidValues& operator=(const CValidValues&) = delete;

    void Add(CParamLimit* limit);
    unsigned GetCount();
    // The entry, or null when index is not below the count.
    CParamLimit* GetAt(unsigned index);
    void Clear();

private:
    CCritSec lock_;
    std::vector<std::unique_ptr<CParamLimit>> list_;
};

class CValueValidator {
public:
    virtual ~CValueValidator() = default;
    virtual bool IsValid(const VARIANT* value) const = 0;
    // min, max and step as VT_INT values.
    virtual HRESULT GetBounds(VARIANT* min, VARIANT* max, VARIANT* step) const = 0;
};

template <class T, class Traits = VariantTraits<T>>
class CParamRange : public CValueValidator {
public:
    CParamRange(T min, T max, T step) : min_(min), max_(max), step_(step) {}

    // Converts the caller's VARIANT in place before testing: both ends count.
    bool IsValid(const VARIANT* value) const override {
        if (!value) return false;
        bool converted = false;
        VARIANT* v = const_cast<VARIANT*>(value);
        if (FAILED(ConvertInPlace(v, Traits::vt, &converted))) return false;
        T x = Traits::Get(*v);
        return min_ <= x && x <= max_;
    }

    HRESULT GetBounds(VARIANT* min, VARIANT* max, VARIANT* step) const override {
        if (!min || !max || !step) return E_POINTER;
        VariantInit(min);
        VariantInit(max);
        VariantInit(step);
        VariantTraits<int>::Put(min, static_cast<int>(min_));
        VariantTraits<int>::Put(max, static_cast<int>(max_));
        VariantTraits<int>::Put(step, static_cast<int>(step_));
        return S_OK;
    }

private:
    T min_, max_, step_;
};

}  // namespace ModuleConfig
