// The multiplexer's build keeps its registry forms in the 32-bit view.
#include "codec/paramkit/tests/TestConfig.h"

namespace paramtest {
namespace {

class MuxVariantTest : public ComInit {};

TEST_F(MuxVariantTest, RegistryFormsRoundTripInThe32BitView) {
    static_assert((BuildPolicy::kRegistryAccess & KEY_WOW64_32KEY) != 0, "multiplexer uses the 32-bit view");
    const wchar_t* key = L"Software\\KorvellTest\\Mux";
    for (BOOL readable : {TRUE, FALSE}) {
        TestConfig source;
        Var v(11);
        source.SetValue(&kRanged, &v);
        source.CommitChanges(nullptr);
        ASSERT_EQ(S_OK, source.SaveToRegistry(HKEY_CURRENT_USER, key, readable));
        TestConfig target;
        ASSERT_EQ(S_OK, target.LoadFromRegistry(HKEY_CURRENT_USER, key, readable));
        EXPECT_EQ(11, target.settings.rangedValue);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KorvellTest");
    }
}

}  // namespace
}  // namespace paramtest
