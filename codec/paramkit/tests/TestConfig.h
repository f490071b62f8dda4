// A small parameter set with a scripted owner, shared by the framework tests.
#pragma once

#include "codec/paramkit/ModuleConfig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace paramtest {

using namespace ModuleConfig;

// {11111111-0000-0000-0000-000000000001} and on.
inline GUID MakeId(unsigned n) {
    return GUID{0x11111111, 0, 0, {0, 0, 0, 0, 0, 0, 0, static_cast<unsigned char>(n)}};
}

extern const GUID kByte, kInt, kLong, kRanged, kNamed, kInt64, kReal, kText, kReadOnly, kPointer;
extern const CLSID kTestClass;

struct TestSettings {
    unsigned char byteValue;
    int intValue;
    long longValue;
    long rangedValue;
    long namedValue;
    long long int64Value;
    double realValue;
    BSTR textValue;
    long readOnlyValue;
    unsigned char* pointerValue;
};

class TestConfig : public CUnknown, public CModuleConfigImpl<TestSettings> {
public:
    explicit TestConfig(long version = 3);
    ~TestConfig() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckVersion() override { return SettingsVersion() == 3 ? S_OK : E_FAIL; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT* errorInfo) override;

    TestSettings settings{};
    // The owner's script: what ApplyChanges answers, and what it was asked.
    HRESULT applyResult = S_OK;
    std::vector<std::vector<GUID>> applied;
    std::vector<std::string> events;
};

// Records notices; may unregister itself from inside the call.
class RecordingCallback : public IModuleCallback {
public:
    RecordingCallback(std::vector<std::string>* events, const char* name) : events_(events), name_(name) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnModuleChanged(long count, const GUID* ids) override;

    IModuleConfig* unregisterFrom = nullptr;
    std::vector<long> counts;

private:
    std::vector<std::string>* events_;
    std::string name_;
};

// A VARIANT that clears itself.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    explicit Var(long x) : Var() {
        v.vt = VT_I4;
        v.lVal = x;
    }
    explicit Var(const wchar_t* s) : Var() {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(s);
    }
    ~Var() {
        if (v.vt != VT_PTR) VariantClear(&v);
    }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    VARIANT* operator&() { return &v; }
};

class ComInit : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

}  // namespace paramtest
