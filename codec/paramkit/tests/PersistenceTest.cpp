// The settings stream and the two registry forms.
#include "codec/paramkit/tests/TestConfig.h"

#include <cstring>

namespace paramtest {
namespace {

struct TinySettings {
    long number;
    BSTR text;
};

class TinyConfig : public CUnknown, public CModuleConfigImpl<TinySettings> {
public:
    TinyConfig() : CUnknown("TinyConfig", nullptr), CModuleConfigImpl<TinySettings>(&kTestClass, 3, &settings) {
        AddParam(&kLong, "Long", &TinySettings::number, 100L);
        AddString(&kText, "Text", &TinySettings::text, L"ab", false, false);
    }
    ~TinyConfig() override { SysFreeString(settings.text); }
    DECLARE_IUNKNOWN
    HRESULT CheckVersion() override { return SettingsVersion() == 3 ? S_OK : E_FAIL; }
    HRESULT ApplyChanges(long count, const GUID* ids, VARIANT*) override {
        StorePendingValues(count, ids);
        return S_OK;
    }
    TinySettings settings{};
};

std::vector<unsigned char> SaveToBytes(IPersistStream* config) {
    IStream* s = nullptr;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &s));
    EXPECT_EQ(S_OK, config->Save(s, TRUE));
    HGLOBAL block = nullptr;
    GetHGlobalFromStream(s, &block);
    STATSTG stat{};
    s->Stat(&stat, STATFLAG_NONAME);
    auto* data = static_cast<unsigned char*>(GlobalLock(block));
    std::vector<unsigned char> bytes(data, data + stat.cbSize.QuadPart);
    GlobalUnlock(block);
    s->Release();
    return bytes;
}

HRESULT LoadFromBytes(IPersistStream* config, const std::vector<unsigned char>& bytes) {
    IStream* s = nullptr;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &s));
    ULONG written = 0;
    if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    HRESULT hr = config->Load(s);
    s->Release();
    return hr;
}

class PersistenceTest : public ComInit {};

TEST_F(PersistenceTest, GoldenBytesOfASmallTable) {
    TinyConfig config;
    const std::vector<unsigned char> expected = {
        0x93,    0xA2, 0x03, 0x43, 0xD4, 0xA3, 0x07, 0x40, 0xBD, 0x8C, 0xDD, 0x0E, 0x09, 0x0E, 0x97, 0x1B,  // magic
        3,       0,    0,    0,                                                                             // version
        2,       0,    0,    0,                                                                             // count
        0x11,    0x11, 0x11, 0x11, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    3,     // "Long"
        VT_I4,   0,    100,  0,    0,    0,    1,    0,    0,    0,    0x11, 0x11, 0x11, 0x11, 0,    0,
        0,       0,    0,    0,    0,    0,    0,    0,    0,    8,  // "Text", hidden
        VT_BSTR, 0,    6,    0,    0,    0,    'a',  0,    'b',  0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(expected, SaveToBytes(&config));
    ULARGE_INTEGER max{};
    EXPECT_EQ(S_OK, config.GetSizeMax(&max));
    EXPECT_EQ(24u + 36u + 40u + 4u, max.QuadPart);
}

TEST_F(PersistenceTest, StreamRoundTripAndVersionCheck) {
    TestConfig source;
    Var v(12), text(L"kept"), real(L"2.5");
    source.SetValue(&kRanged, &v);
    source.SetValue(&kText, &text);
    source.SetValue(&kReal, &real);
    IParamConfig* hidden = nullptr;
    source.GetParamConfig(&kLong, &hidden);
    hidden->SetVisible(FALSE);
    hidden->Release();
    ASSERT_EQ(S_OK, source.CommitChanges(nullptr));
    auto bytes = SaveToBytes(&source);

    TestConfig target;
    ASSERT_EQ(S_OK, LoadFromBytes(&target, bytes));
    EXPECT_EQ(12, target.settings.rangedValue);
    EXPECT_STREQ(L"kept", target.settings.textValue);
    EXPECT_DOUBLE_EQ(2.5, target.settings.realValue);
    EXPECT_FALSE(target.FindParam(&kLong)->IsVisible());
    EXPECT_EQ(1LL << 40, target.settings.int64Value);

    TestConfig older(1);
    auto oldBytes = SaveToBytes(&older);
    TestConfig strict;
    EXPECT_EQ(E_FAIL, LoadFromBytes(&strict, oldBytes));
    EXPECT_EQ(3, strict.SettingsVersion());
}

TEST_F(PersistenceTest, UnknownRecordInTheMiddleIsSkipped) {
    TinyConfig config;
    auto bytes = SaveToBytes(&config);
    // Make the first record's id unknown and change the second's text.
    bytes[24 + 15] = 0x55;
    bytes[24 + 26 + 22] = 'z';
    TinyConfig target;
    ASSERT_EQ(S_OK, LoadFromBytes(&target, bytes));
    EXPECT_STREQ(L"zb", target.settings.text);
    EXPECT_EQ(100, target.settings.number);
}

TEST_F(PersistenceTest, CorruptStreamsFailWithNothingChanged) {
    TestConfig source;
    Var v(3), text(L"saved text");
    source.SetValue(&kRanged, &v);
    source.SetValue(&kText, &text);
    source.CommitChanges(nullptr);
    const auto bytes = SaveToBytes(&source);

    auto unchanged = [](TestConfig& c) {
        return c.settings.rangedValue == 5 && std::wcscmp(c.settings.textValue, L"default") == 0 &&
               c.settings.longValue == 100;
    };
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        TestConfig target;
        std::vector<unsigned char> shortened(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        ASSERT_EQ(E_FAIL, LoadFromBytes(&target, shortened)) << "cut at " << cut;
        ASSERT_TRUE(unchanged(target)) << "cut at " << cut;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            TestConfig target;
            auto damaged = bytes;
            damaged[i] ^= flip;
            if (LoadFromBytes(&target, damaged) != S_OK) {
                ASSERT_TRUE(unchanged(target)) << "byte " << i;
            }
        }
    }
    // An odd or huge text length.
    TinyConfig tiny;
    auto tinyBytes = SaveToBytes(&tiny);
    for (int32_t n : {5, -2, 0x7FFFFFFF, 1}) {
        auto damaged = tinyBytes;
        std::memcpy(&damaged[24 + 26 + 18], &n, 4);
        TinyConfig target;
        EXPECT_EQ(E_FAIL, LoadFromBytes(&target, damaged)) << n;
    }
}

class RegistryTest : public ComInit {
protected:
    void SetUp() override {
        ComInit::SetUp();
        RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    }
    void TearDown() override {
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KorvellTest");
        ComInit::TearDown();
    }
    static constexpr const wchar_t* kKey = L"Software\\KorvellTest\\Params";
};

DWORD ValueCount(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values;
}

TEST_F(RegistryTest, ReadableRoundTrip) {
    TestConfig source;
    Var v(9), real(L"0.1234567"), text(L"registry");
    source.SetValue(&kRanged, &v);
    source.SetValue(&kReal, &real);
    source.SetValue(&kText, &text);
    source.CommitChanges(nullptr);
    ASSERT_EQ(S_OK, source.SaveToRegistry(HKEY_CURRENT_USER, kKey, TRUE));
    // "Settings Version" plus every writable parameter with a storable type.
    EXPECT_EQ(9u, ValueCount(kKey));

    char real_text[64] = {};
    DWORD size = sizeof real_text;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_CURRENT_USER, "Software\\KorvellTest\\Params", "Real", RRF_RT_REG_SZ,
                                          nullptr, real_text, &size));
    EXPECT_STREQ("0.123457", real_text);

    TestConfig target;
    ASSERT_EQ(S_OK, target.LoadFromRegistry(HKEY_CURRENT_USER, kKey, TRUE));
    EXPECT_EQ(9, target.settings.rangedValue);
    EXPECT_DOUBLE_EQ(0.123457, target.settings.realValue);
    EXPECT_STREQ(L"registry", target.settings.textValue);
    EXPECT_EQ(1LL << 40, target.settings.int64Value);
}

TEST_F(RegistryTest, StaleVersionDeletesTheKey) {
    TestConfig source;
    source.SaveToRegistry(HKEY_CURRENT_USER, kKey, TRUE);
    DWORD old = 2;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Settings Version", REG_DWORD, &old, 4));
    TestConfig target;
    EXPECT_EQ(E_FAIL, target.LoadFromRegistry(HKEY_CURRENT_USER, kKey, TRUE));
    HKEY key = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key));
    EXPECT_EQ(3, target.SettingsVersion());
}

TEST_F(RegistryTest, WrongTypesAndLongStringsAreRefused) {
    TestConfig source;
    source.SaveToRegistry(HKEY_CURRENT_USER, kKey, TRUE);
    // A number stored as text and an over-long text.
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Long", REG_SZ, L"12", 6);
    std::string longText(600, 'x');
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\KorvellTest\\Params", "Text", REG_SZ, longText.c_str(),
                    static_cast<DWORD>(longText.size() + 1));
    TestConfig target;
    ASSERT_EQ(S_OK, target.LoadFromRegistry(HKEY_CURRENT_USER, kKey, TRUE));
    EXPECT_EQ(100, target.settings.longValue);
    EXPECT_STREQ(L"default", target.settings.textValue);
}

TEST_F(RegistryTest, BinaryRoundTrip) {
    TestConfig source;
    Var v(13);
    source.SetValue(&kRanged, &v);
    source.CommitChanges(nullptr);
    ASSERT_EQ(S_OK, source.SaveToRegistry(HKEY_CURRENT_USER, kKey, FALSE));
    EXPECT_EQ(1u, ValueCount(kKey));
    TestConfig target;
    ASSERT_EQ(S_OK, target.LoadFromRegistry(HKEY_CURRENT_USER, kKey, FALSE));
    EXPECT_EQ(13, target.settings.rangedValue);

    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"SaveToRegistry");
    EXPECT_EQ(E_UNEXPECTED, target.LoadFromRegistry(HKEY_CURRENT_USER, kKey, FALSE));
}

}  // namespace
}  // namespace paramtest
