#include "codec/paramkit/tests/TestConfig.h"

namespace paramtest {

const GUID kByte = MakeId(1), kInt = MakeId(2), kLong = MakeId(3), kRanged = MakeId(4), kNamed = MakeId(5),
           kInt64 = MakeId(6), kReal = MakeId(7), kText = MakeId(8), kReadOnly = MakeId(9), kPointer = MakeId(10);
const CLSID kTestClass = MakeId(0x77);

TestConfig::TestConfig(long version)
    : CUnknown("TestConfig", nullptr), CModuleConfigImpl<TestSettings>(&kTestClass, version, &settings) {
    AddParam(&kByte, "Byte", &TestSettings::byteValue, static_cast<unsigned char>(7));
    AddParam(&kInt, "Int", &TestSettings::intValue, -5);
    AddParam(&kLong, "Long", &TestSettings::longValue, 100L);
    AddRanged(&kRanged, "Ranged", &TestSettings::rangedValue, 5L, 1L, 14L);
    AddNamed(&kNamed, "Named", &TestSettings::namedValue, 1L, {{"One", 1L}, {"Two", 2L}, {"Deux", 2L}});
    AddParam(&kInt64, "Int64", &TestSettings::int64Value, 1LL << 40);
    AddParam(&kReal, "Real", &TestSettings::realValue, 29.97);
    AddString(&kText, "Text", &TestSettings::textValue, L"default");
    AddParam(&kReadOnly, "ReadOnly", &TestSettings::readOnlyValue, 42L, true);
    AddParam(&kPointer, "Pointer", &TestSettings::pointerValue, static_cast<unsigned char*>(nullptr), false, false);
}

TestConfig::~TestConfig() {
    SysFreeString(settings.textValue);
}

STDMETHODIMP TestConfig::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IModuleConfig) return GetInterface(static_cast<IModuleConfig*>(this), ppv);
    if (riid == IID_IPersistStream) return GetInterface(static_cast<IPersistStream*>(this), ppv);
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT TestConfig::ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) {
    applied.emplace_back(ids, ids + count);
    events.push_back("apply");
    if (FAILED(applyResult)) {
        if (errorInfo) {
            VariantInit(errorInfo);
            errorInfo->vt = VT_BSTR;
            errorInfo->bstrVal = SysAllocString(L"refused");
        }
        return applyResult;
    }
    StorePendingValues(count, ids);
    return S_OK;
}

STDMETHODIMP RecordingCallback::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IModuleCallback) {
        *ppv = this;
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP RecordingCallback::OnModuleChanged(long count, const GUID*) {
    events_->push_back(name_);
    counts.push_back(count);
    if (unregisterFrom) unregisterFrom->UnregisterFromNotifies(this);
    return S_OK;
}

}  // namespace paramtest
