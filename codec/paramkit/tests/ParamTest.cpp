// One parameter's set and get rules, across value types, ranges, value
// lists, read-only parameters and the platform's type conversions.
#include "codec/paramkit/tests/TestConfig.h"

#include <cstddef>

namespace paramtest {
namespace {

class ParamTest : public ComInit {
protected:
    void SetUp() override {
        ComInit::SetUp();
        config = new TestConfig;
    }
    void TearDown() override {
        config->NonDelegatingRelease();
        ComInit::TearDown();
    }
    IParamConfig* Param(const GUID& id) {
        IParamConfig* p = nullptr;
        EXPECT_EQ(S_OK, config->GetParamConfig(&id, &p));
        p->Release();  // the configuration keeps it alive
        return p;
    }
    TestConfig* config = nullptr;
};

struct SetCase {
    const char* what;
    const GUID* id;
    VARTYPE vt;
    const wchar_t* text;  // for VT_BSTR
    long long number;
    HRESULT expected;
    VARTYPE pendingType;
    long long pendingValue;  // read back as a 64-bit number after conversion
};

TEST_F(ParamTest, SetValueTable) {
    const SetCase cases[] = {
        {"matching type", &kLong, VT_I4, nullptr, 5, S_OK, VT_I4, 5},
        {"text converted", &kLong, VT_BSTR, L"3", 0, S_FALSE, VT_I4, 3},
        {"I4 onto INT converts", &kInt, VT_I4, nullptr, -9, S_FALSE, VT_INT, -9},
        {"byte overflow refused", &kByte, VT_I4, nullptr, 300, DISP_E_OVERFLOW, VT_UI1, 7},
        {"not a number", &kLong, VT_BSTR, L"abc", 0, DISP_E_TYPEMISMATCH, VT_I4, 100},
        {"range low end", &kRanged, VT_I4, nullptr, 1, S_OK, VT_I4, 1},
        {"range high end", &kRanged, VT_I4, nullptr, 14, S_OK, VT_I4, 14},
        {"below range", &kRanged, VT_I4, nullptr, 0, E_INVALIDARG, VT_I4, 5},
        {"above range", &kRanged, VT_I4, nullptr, 15, E_INVALIDARG, VT_I4, 5},
        // The range check converts first, so the later type test sees a match.
        {"text on ranged", &kRanged, VT_BSTR, L"3", 0, S_OK, VT_I4, 3},
        {"read-only", &kReadOnly, VT_I4, nullptr, 1, E_ACCESSDENIED, VT_I4, 42},
        {"64-bit", &kInt64, VT_I8, nullptr, 1LL << 50, S_OK, VT_I8, 1LL << 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestConfig fresh;
        IParamConfig* p = nullptr;
        ASSERT_EQ(S_OK, fresh.GetParamConfig(c.id, &p));
        Var in;
        in.v.vt = c.vt;
        if (c.vt == VT_BSTR)
            in.v.bstrVal = SysAllocString(c.text);
        else if (c.vt == VT_I8)
            in.v.llVal = c.number;
        else
            in.v.lVal = static_cast<LONG>(c.number);
        EXPECT_EQ(c.expected, p->SetValue(&in, FALSE));
        Var pending;
        ASSERT_EQ(S_OK, p->GetValue(&pending, FALSE));
        EXPECT_EQ(c.pendingType, pending.v.vt);
        Var wide;
        ASSERT_EQ(S_OK, VariantChangeType(&wide, &pending, 0, VT_I8));
        EXPECT_EQ(c.pendingValue, wide.v.llVal);
        p->Release();
    }
}

TEST_F(ParamTest, ConversionHappensInTheCallersVariant) {
    Var v(L"3");
    EXPECT_EQ(S_FALSE, Param(kLong)->SetValue(&v, FALSE));
    EXPECT_EQ(VT_I4, v.v.vt);
    EXPECT_EQ(3, v.v.lVal);
}

TEST_F(ParamTest, PendingAndCommittedAreApart) {
    IParamConfig* p = Param(kLong);
    Var five(5);
    ASSERT_EQ(S_OK, p->SetValue(&five, FALSE));
    Var pending, committed;
    p->GetValue(&pending, FALSE);
    p->GetValue(&committed, TRUE);
    EXPECT_EQ(5, pending.v.lVal);
    EXPECT_EQ(100, committed.v.lVal);

    // Read-only parameters always answer the bound value.
    config->settings.readOnlyValue = 77;
    Var ro;
    Param(kReadOnly)->GetValue(&ro, FALSE);
    EXPECT_EQ(77, ro.v.lVal);
}

TEST_F(ParamTest, ImmediateSetWritesBoundAndAppliesOnlyThatParameter) {
    Var seven(7);
    EXPECT_EQ(S_OK, Param(kLong)->SetValue(&seven, TRUE));
    EXPECT_EQ(7, config->settings.longValue);
    ASSERT_EQ(1u, config->applied.size());
    ASSERT_EQ(1u, config->applied[0].size());
    EXPECT_EQ(kLong, config->applied[0][0]);
}

TEST_F(ParamTest, StringParameter) {
    IParamConfig* p = Param(kText);
    Var number(4);
    EXPECT_EQ(E_FAIL, p->SetValue(&number, FALSE));
    Var empty(L"");
    EXPECT_EQ(S_OK, p->SetValue(&empty, FALSE));
    Var got;
    p->GetValue(&got, FALSE);
    EXPECT_STREQ(L"default", got.v.bstrVal);
    // The caller owns what it gets: never the record's own string.
    EXPECT_NE(config->settings.textValue, got.v.bstrVal);

    Var text(L"hello");
    EXPECT_EQ(S_FALSE, p->SetValue(&text, FALSE));
    Var now(L"now");
    EXPECT_EQ(S_OK, p->SetValue(&now, TRUE));
    EXPECT_STREQ(L"now", config->settings.textValue);
    Var def;
    EXPECT_EQ(S_OK, p->GetDefaultValue(&def));
    EXPECT_STREQ(L"default", def.v.bstrVal);
    EXPECT_EQ(E_NOTIMPL, p->GetInfo(nullptr, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(ParamTest, NamedValues) {
    IParamConfig* p = Param(kNamed);
    BSTR name = nullptr;
    Var two(2);
    ASSERT_EQ(S_OK, p->ValueToName(&two, &name));
    EXPECT_STREQ(L"Deux", name);  // the later entry names a shared value
    SysFreeString(name);
    Var nine(9);
    EXPECT_EQ(E_UNEXPECTED, p->ValueToName(&nine, &name));

    Var value;
    BSTR exact = SysAllocString(L"Two");
    EXPECT_EQ(S_OK, p->NameToValue(exact, &value));
    EXPECT_EQ(2, value.v.lVal);
    BSTR lower = SysAllocString(L"two");
    Var none;
    EXPECT_EQ(E_UNEXPECTED, p->NameToValue(lower, &none));
    SysFreeString(exact);
    SysFreeString(lower);

    long count = 0;
    EXPECT_EQ(S_FALSE, p->EnumValidValues(&count, nullptr, nullptr));
    EXPECT_EQ(3, count);
    VARIANT values[3];
    BSTR names[3] = {};
    EXPECT_EQ(S_OK, p->EnumValidValues(&count, values, names));
    EXPECT_STREQ(L"One", names[0]);
    EXPECT_EQ(2, values[2].lVal);
    for (BSTR n : names) SysFreeString(n);
    count = 4;  // more than the list holds
    EXPECT_EQ(E_INVALIDARG, p->EnumValidValues(&count, values, names));
    EXPECT_EQ(E_POINTER, p->EnumValidValues(nullptr, values, names));

    long unnamed = 5;
    EXPECT_EQ(E_UNEXPECTED, Param(kLong)->EnumValidValues(&unnamed, nullptr, nullptr));
    EXPECT_EQ(0, unnamed);
    EXPECT_EQ(E_UNEXPECTED, Param(kLong)->ValueToName(&two, &name));
}

TEST_F(ParamTest, InfoVisibilityAndPlainQueries) {
    IParamConfig* p = Param(kNamed);
    Var value;
    BSTR valueName = nullptr, name = nullptr;
    BOOL readOnly = TRUE, visible = FALSE;
    EXPECT_EQ(E_NOTIMPL, p->GetInfo(&value, &valueName, &name, &readOnly, &visible));
    EXPECT_EQ(1, value.v.lVal);
    EXPECT_STREQ(L"One", valueName);
    EXPECT_STREQ(L"Named", name);
    EXPECT_FALSE(readOnly);
    EXPECT_TRUE(visible);
    SysFreeString(valueName);
    SysFreeString(name);

    Var a, b, c;
    EXPECT_EQ(E_NOTIMPL, p->GetRange(&a, &b, &c));
    EXPECT_EQ(E_NOTIMPL, p->SetValidValues(0, nullptr, nullptr));

    EXPECT_EQ(S_OK, p->SetVisible(FALSE));
    BOOL now = TRUE;
    p->GetVisible(&now);
    EXPECT_FALSE(now);

    IUnknown* unknown = nullptr;
    EXPECT_EQ(E_NOINTERFACE, p->QueryInterface(IID_IModuleConfig, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(nullptr, unknown);
}

TEST_F(ParamTest, PointerParameterNeverConvertsOrFrees) {
    IParamConfig* p = Param(kPointer);
    unsigned char block[4] = {};
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_PTR;
    v.byref = block;
    EXPECT_EQ(S_OK, p->SetValue(&v, TRUE));
    EXPECT_EQ(block, config->settings.pointerValue);
    VARIANT out;
    EXPECT_EQ(S_OK, p->GetValue(&out, TRUE));
    EXPECT_EQ(VT_PTR, out.vt);
    EXPECT_EQ(block, out.byref);
    Var number(1);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, p->SetValue(&number, FALSE));
}

// A table row may bind an int32_t field (a platform-free core's record) and
// still travel as VT_I4, with its range and named values.
TEST_F(ParamTest, I4RowsBindInt32Fields) {
    struct CoreRecord {
        int32_t ranged;
        int32_t named;
    } record{};
    const NamedValue names[] = {{"One", 1}, {"Two", 2}};
    const ParamSpec rows[] = {
        {&kRanged, "Ranged", ParamKind::I4InInt32, false, true, offsetof(CoreRecord, ranged), 5, 0.0, nullptr, true, 1,
         14, 1, nullptr, 0},
        {&kNamed, "Named", ParamKind::I4InInt32, false, true, offsetof(CoreRecord, named), 1, 0.0, nullptr, false, 0, 0,
         0, names, 2},
    };
    CBaseParam* ranged = MakeParam(config, rows[0], &record);
    CBaseParam* named = MakeParam(config, rows[1], &record);
    EXPECT_EQ(5, record.ranged);
    EXPECT_EQ(VT_I4, ranged->ValueType());
    Var nine(9);
    EXPECT_EQ(S_OK, ranged->SetValue(&nine, TRUE));
    EXPECT_EQ(9, record.ranged);
    Var high(15);
    EXPECT_EQ(E_INVALIDARG, ranged->SetValue(&high, TRUE));
    Var out;
    ASSERT_EQ(S_OK, ranged->GetValue(&out, TRUE));
    EXPECT_EQ(VT_I4, out.v.vt);
    EXPECT_EQ(9, out.v.lVal);
    Var two;
    ASSERT_EQ(S_OK, named->NameToValue(const_cast<BSTR>(L"Two"), &two));
    EXPECT_EQ(VT_I4, two.v.vt);
    EXPECT_EQ(2, two.v.lVal);
    ranged->NonDelegatingRelease();
    named->NonDelegatingRelease();
}

}  // namespace
}  // namespace paramtest
