// The audio encoder's build: editable value lists, reported ranges, wide
// names and a forgiving readable load.
#include "codec/paramkit/tests/TestConfig.h"

namespace paramtest {
namespace {

class AudioVariantTest : public ComInit {
protected:
    IParamConfig* Param(const GUID& id) {
        IParamConfig* p = nullptr;
        EXPECT_EQ(S_OK, config.GetParamConfig(&id, &p));
        p->Release();
        return p;
    }
    TestConfig config;
};

TEST_F(AudioVariantTest, ReplacesValueLists) {
    IParamConfig* p = Param(kLong);
    VARIANT values[2];
    VariantInit(&values[0]);
    VariantInit(&values[1]);
    values[0].vt = VT_BSTR;  // converted to the parameter's type
    values[0].bstrVal = SysAllocString(L"64");
    values[1].vt = VT_INT;
    values[1].intVal = 96;
    const wchar_t* names[] = {L"sixty-four", L"ninety-six"};
    ASSERT_EQ(S_OK, p->SetValidValues(2, values, names));
    VariantClear(&values[0]);
    long count = 0;
    EXPECT_EQ(S_FALSE, p->EnumValidValues(&count, nullptr, nullptr));
    EXPECT_EQ(2, count);
    Var v(64);
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, p->ValueToName(&v, &name));
    EXPECT_STREQ(L"sixty-four", name);
    SysFreeString(name);
    BSTR wide = SysAllocString(L"ninety-six");
    Var out;
    EXPECT_EQ(S_OK, p->NameToValue(wide, &out));
    EXPECT_EQ(96, out.v.lVal);
    SysFreeString(wide);

    EXPECT_EQ(E_POINTER, p->SetValidValues(1, nullptr, names));
    EXPECT_EQ(S_OK, p->SetValidValues(0, nullptr, nullptr));
    EXPECT_EQ(E_UNEXPECTED, p->EnumValidValues(&count, nullptr, nullptr));
}

TEST_F(AudioVariantTest, ReportsRanges) {
    Var min, max, step;
    ASSERT_EQ(S_OK, Param(kRanged)->GetRange(&min, &max, &step));
    EXPECT_EQ(VT_INT, min.v.vt);
    EXPECT_EQ(1, min.v.intVal);
    EXPECT_EQ(14, max.v.intVal);
    EXPECT_EQ(1, step.v.intVal);
    Var a, b, c;
    EXPECT_EQ(E_UNEXPECTED, Param(kLong)->GetRange(&a, &b, &c));
}

TEST_F(AudioVariantTest, ReadableLoadForgivesMissingValuesAndStaleVersions) {
    const wchar_t* key = L"Software\\KorvellTest\\Audio";
    RegDeleteTreeW(HKEY_CURRENT_USER, key);
    DWORD version = 3;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Settings Version", REG_DWORD, &version, 4));
    // Only the version is stored: every missing number loads as 0.
    ASSERT_EQ(S_OK, config.LoadFromRegistry(HKEY_CURRENT_USER, key, TRUE));
    EXPECT_EQ(0, config.settings.longValue);
    EXPECT_STREQ(L"default", config.settings.textValue);

    version = 7;
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Settings Version", REG_DWORD, &version, 4);
    TestConfig other;
    EXPECT_EQ(S_OK, other.LoadFromRegistry(HKEY_CURRENT_USER, key, TRUE));
    HKEY gone = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &gone));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KorvellTest");
}

}  // namespace
}  // namespace paramtest
