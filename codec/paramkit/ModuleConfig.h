// The configuration of one filter (or one program or stream of the
// multiplexer): its parameters in table order behind IModuleConfig, pending
// edits apart from committed values, commits through the owner's apply step,
// change notices and persistence.
#pragma once

#include "codec/paramkit/BaseParam.h"
#include "codec/paramkit/ParamRow.h"

#include <initializer_list>
#include <utility>
#include <vector>

namespace ModuleConfig {

// The GUID at the head of every saved settings stream.
extern const GUID kSettingsStreamMagic;

// The interfaces an object hands out through its configuration: IModuleConfig
// and the persistence interfaces it derives from, all one pointer.
inline bool IsConfigInterface(REFIID riid) {
    return riid == IID_IModuleConfig || riid == IID_IPersistStream || riid == IID_IPersist;
}

class CModuleConfig : public IModuleConfig {
public:
    // valueLock: a lock the owner shares among several parameter sets (and
    // its own users of the bound fields); null: the set's own.
    CModuleConfig(const CLSID* classId, long settingsVersion, CCritSec* valueLock = nullptr);
    CModuleConfig(const CModuleConfig&) = delete;
    CModuleConfig& operator=(const CModuleConfig&) = delete;

    // IPersist / IPersistStream
    STDMETHODIMP GetClassID(CLSID* classId) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* stream) override;
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;

    // IModuleConfig
    STDMETHODIMP SetValue(const GUID* id, const VARIANT* value) override;
    STDMETHODIMP GetValue(const GUID* id, VARIANT* value) override;
    STDMETHODIMP GetParamConfig(const GUID* id, IParamConfig** param) override;
    STDMETHODIMP IsSupported(const GUID* id) override;
    STDMETHODIMP ResetToDefaults() override;
    STDMETHODIMP EnumParams(long* count, GUID* ids) override;
    STDMETHODIMP CommitChanges(VARIANT* errorInfo) override;
    STDMETHODIMP DeclineChanges() override;
    STDMETHODIMP SaveToRegistry(HKEY root, const wchar_t* keyPath, BOOL readable) override;
    STDMETHODIMP LoadFromRegistry(HKEY root, const wchar_t* keyPath, BOOL readable) override;
    STDMETHODIMP RegisterForNotifies(IModuleCallback* callback) override;
    STDMETHODIMP UnregisterFromNotifies(IModuleCallback* callback) override;

    // What the owner supplies.
    virtual int IsPersistExcluded(const GUID* id);
    virtual ~CModuleConfig();
    virtual HRESULT CheckVersion() = 0;
    virtual HRESULT ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) = 0;

    // Guards parameter values where several threads use one parameter set.
    CCritSec& ValueLock() { return *valueLock_; }
    CBaseParam* FindParam(const GUID* id) const;
    size_t ParamCount() const { return params_.size(); }
    CBaseParam* ParamAt(size_t i) const { return params_[i]; }
    long SettingsVersion() const { return version_; }

protected:
    // Takes over the parameter's first reference.
    void AppendParam(CBaseParam* param) { params_.push_back(param); }
    // Moves each named parameter's pending value into its bound field: the
    // apply step of owners whose record is the committed state itself.
    void StorePendingValues(long count, const GUID* ids);

private:
    friend class SettingsPersistence;
    HRESULT Notify(const std::vector<GUID>& ids);
    HRESULT ApplyAndNotify(const std::vector<CBaseParam*>& params, const std::vector<GUID>& ids, VARIANT* errorInfo);

    std::vector<CBaseParam*> params_;
    std::vector<IModuleCallback*> callbacks_;
    CCritSec callbackLock_;
    CCritSec ownValueLock_;
    CCritSec* const valueLock_;
    const CLSID* classId_;
    unsigned char dirty_ = 0;
    long version_;
};

// A configuration bound to a settings record: builds parameters from table
// rows whose fields live in that record.
template <class Settings>
class CModuleConfigImpl : public CModuleConfig {
public:
    CModuleConfigImpl(const CLSID* classId, long settingsVersion, Settings* settings, CCritSec* valueLock = nullptr)
        : CModuleConfig(classId, settingsVersion, valueLock), settings_(settings) {}

    Settings& Values() { return *settings_; }

    // One typed parameter bound to a field of the record.
    template <class T, class Name>
    CParamImpl<T>* AddParam(const GUID* id, Name name, T Settings::*field, T defaultValue, bool readOnly = false,
                            bool visible = true) {
        auto* p = new CParamImpl<T>(this, id, readOnly, name, visible, &(settings_->*field), defaultValue);
        AppendParam(p);
        return p;
    }

    template <class T, class Name>
    CParamImpl<T>* AddRanged(const GUID* id, Name name, T Settings::*field, T defaultValue, T min, T max, T step = 1,
                             bool readOnly = false, bool visible = true) {
        CParamImpl<T>* p = AddParam(id, name, field, defaultValue, readOnly, visible);
        p->SetValidator(new CParamRange<T>(min, max, step));
        return p;
    }

    template <class T, class Name, class LimitT = T>
    CParamImpl<T>* AddNamed(const GUID* id, Name name, T Settings::*field, T defaultValue,
                            std::initializer_list<std::pair<const char*, LimitT>> values, bool readOnly = false,
                            bool visible = true) {
        CParamImpl<T>* p = AddParam(id, name, field, defaultValue, readOnly, visible);
        for (const auto& v : values) p->AddValidValue(new CLimitImpl<LimitT>(v.first, v.second));
        return p;
    }

    template <class Name>
    CParamStr* AddString(const GUID* id, Name name, BSTR Settings::*field, const wchar_t* defaultText,
                         bool readOnly = false, bool visible = true) {
        auto* p = new CParamStr(this, id, readOnly, &(settings_->*field), defaultText, name, visible);
        AppendParam(p);
        return p;
    }

    // Builds a whole table of rows in order.
    void BuildTable(const ParamSpec* rows, size_t count) {
        for (size_t i = 0; i < count; ++i) AppendParam(MakeParam(this, rows[i], settings_));
    }
    // One row bound into another record than the set's (the owner's own
    // fields next to a record it shares with a core).
    void AddRow(const ParamSpec& row, void* record) { AppendParam(MakeParam(this, row, record)); }

private:
    Settings* settings_;
};

// A configuration that is a part of a COM object (a filter or a pin): its
// IUnknown is that object's, and Snapshot copies the committed record.
template <class Settings>
class CModuleConfigPart : public CModuleConfigImpl<Settings> {
public:
    CModuleConfigPart(CUnknown* owner, const CLSID* classId, long settingsVersion, Settings* settings,
                      CCritSec* valueLock = nullptr)
        : CModuleConfigImpl<Settings>(classId, settingsVersion, settings, valueLock), owner_(owner) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return owner_->GetOwner()->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->GetOwner()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->GetOwner()->Release(); }

    Settings Snapshot() {
        CAutoLock guard(&this->ValueLock());
        return this->Values();
    }

private:
    CUnknown* owner_;
};

}  // namespace ModuleConfig
