// The COM interfaces of the parameter framework: one parameter
// (IParamConfig), a whole parameter set (IModuleConfig) and the change
// listener (IModuleCallback).
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>

// {486F726E-4D43-49B9-8A0C-C22A2B0524E8}
extern "C" const IID IID_IModuleConfig;
// {1A8B5F3C-6E0D-4C1B-9A7E-2F4D8C6B3E51}
extern "C" const IID IID_IParamConfig;
// {7C2E9D41-3B5A-4F86-8D1C-5E0A6B9F2C73}
extern "C" const IID IID_IModuleCallback;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

struct IParamConfig : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(const VARIANT* value, BOOL applyNow) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(VARIANT* value, BOOL committed) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVisible(BOOL visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVisible(BOOL* visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParamID(GUID* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetName(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReadOnly(BOOL* readOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInfo(VARIANT* value, BSTR* valueName, BSTR* name, BOOL* readOnly,
                                              BOOL* visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultValue(VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRange(VARIANT* min, VARIANT* max, VARIANT* step) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumValidValues(long* count, VARIANT* values, BSTR* names) = 0;
    virtual HRESULT STDMETHODCALLTYPE ValueToName(const VARIANT* value, BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE NameToValue(BSTR name, VARIANT* value) = 0;
    // Only the builds whose policy allows editing value lists answer this one.
    virtual HRESULT STDMETHODCALLTYPE SetValidValues(long count, VARIANT* values, const wchar_t* const* names) = 0;
};

struct IModuleCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnModuleChanged(long count, const GUID* changedIds) = 0;
};

struct IModuleConfig : public IPersistStream {
    virtual HRESULT STDMETHODCALLTYPE SetValue(const GUID* id, const VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(const GUID* id, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParamConfig(const GUID* id, IParamConfig** param) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSupported(const GUID* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetToDefaults() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumParams(long* count, GUID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommitChanges(VARIANT* errorInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeclineChanges() = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveToRegistry(HKEY root, const wchar_t* keyPath, BOOL readable) = 0;
    virtual HRESULT STDMETHODCALLTYPE LoadFromRegistry(HKEY root, const wchar_t* keyPath, BOOL readable) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterForNotifies(IModuleCallback* callback) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterFromNotifies(IModuleCallback* callback) = 0;
};

#pragma GCC diagnostic pop
