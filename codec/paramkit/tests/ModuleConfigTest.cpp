// Commit, decline, reset and notification with a scripted owner.
#include "codec/paramkit/tests/TestConfig.h"

namespace paramtest {
namespace {

class ModuleConfigTest : public ComInit {
protected:
    TestConfig config;
};

TEST_F(ModuleConfigTest, SetIsPendingUntilCommit) {
    Var five(5);
    ASSERT_EQ(S_OK, config.SetValue(&kLong, &five));
    Var got;
    ASSERT_EQ(S_OK, config.GetValue(&kLong, &got));
    EXPECT_EQ(100, got.v.lVal);
    ASSERT_EQ(S_OK, config.CommitChanges(nullptr));
    Var after;
    config.GetValue(&kLong, &after);
    EXPECT_EQ(5, after.v.lVal);
    // The commit reported the edit and the read-only parameter, in table order.
    ASSERT_EQ(1u, config.applied.size());
    EXPECT_EQ((std::vector<GUID>{kLong, kReadOnly}), config.applied[0]);
}

// The owner's outputs survive commits: a read-only value it set stays.
TEST_F(ModuleConfigTest, CommitKeepsReadOnlyValuesTheOwnerSet) {
    config.settings.readOnlyValue = 7;
    IParamConfig* p = nullptr;
    config.GetParamConfig(&kReadOnly, &p);
    p->SetVisible(FALSE);
    p->Release();
    ASSERT_EQ(S_OK, config.CommitChanges(nullptr));
    EXPECT_EQ(7, config.settings.readOnlyValue);
}

TEST_F(ModuleConfigTest, UnknownIdsAndNulls) {
    GUID unknown = MakeId(200);
    Var v(1);
    EXPECT_EQ(E_UNEXPECTED, config.SetValue(&unknown, &v));
    EXPECT_EQ(E_INVALIDARG, config.GetValue(&unknown, &v));
    EXPECT_EQ(VT_EMPTY, v.v.vt);
    IParamConfig* p = reinterpret_cast<IParamConfig*>(1);
    EXPECT_EQ(E_INVALIDARG, config.GetParamConfig(&unknown, &p));
    EXPECT_EQ(nullptr, p);
    EXPECT_EQ(S_FALSE, config.IsSupported(&unknown));
    EXPECT_EQ(S_OK, config.IsSupported(&kReal));
    EXPECT_EQ(E_POINTER, config.IsSupported(nullptr));
    EXPECT_EQ(E_POINTER, config.SetValue(nullptr, &v));
    EXPECT_EQ(E_POINTER, config.GetValue(&kLong, nullptr));
    EXPECT_EQ(E_POINTER, config.GetParamConfig(&kLong, nullptr));
    EXPECT_EQ(S_FALSE, config.IsDirty());
}

TEST_F(ModuleConfigTest, EnumParams) {
    long count = 3;
    GUID ids[10] = {};
    EXPECT_EQ(S_FALSE, config.EnumParams(&count, ids));
    EXPECT_EQ(10, count);
    EXPECT_EQ(GUID_NULL, ids[0]);  // nothing written when too small
    EXPECT_EQ(S_OK, config.EnumParams(&count, ids));
    EXPECT_EQ(kByte, ids[0]);
    EXPECT_EQ(kReadOnly, ids[8]);
    EXPECT_EQ(E_POINTER, config.EnumParams(nullptr, ids));
}

TEST_F(ModuleConfigTest, EmptyCommitStillAppliesAndNotifies) {
    RecordingCallback listener(&config.events, "listener");
    config.RegisterForNotifies(&listener);
    ASSERT_EQ(S_OK, config.CommitChanges(nullptr));
    EXPECT_EQ((std::vector<std::string>{"apply", "listener"}), config.events);
    EXPECT_EQ(std::vector<long>{1}, listener.counts);  // the read-only parameter
    config.UnregisterFromNotifies(&listener);
}

TEST_F(ModuleConfigTest, FailedApplyKeepsEditsUntilDeclined) {
    RecordingCallback listener(&config.events, "listener");
    config.RegisterForNotifies(&listener);
    Var five(5);
    config.SetValue(&kLong, &five);
    config.applyResult = E_FAIL;
    Var reason;
    EXPECT_EQ(E_FAIL, config.CommitChanges(&reason));
    EXPECT_STREQ(L"refused", reason.v.bstrVal);
    EXPECT_TRUE(listener.counts.empty());

    // A retry still carries the edit.
    config.CommitChanges(nullptr);
    EXPECT_EQ((std::vector<GUID>{kLong, kReadOnly}), config.applied.back());

    config.applyResult = S_OK;
    ASSERT_EQ(S_OK, config.DeclineChanges());
    IParamConfig* p = nullptr;
    config.GetParamConfig(&kLong, &p);
    Var pending;
    p->GetValue(&pending, FALSE);
    p->Release();
    EXPECT_EQ(100, pending.v.lVal);
    EXPECT_EQ(std::vector<long>{1}, listener.counts);
    config.UnregisterFromNotifies(&listener);
}

TEST_F(ModuleConfigTest, ListenersInOrderAndMayUnregisterThemselves) {
    RecordingCallback first(&config.events, "first"), second(&config.events, "second");
    config.RegisterForNotifies(&first);
    config.RegisterForNotifies(&second);
    config.RegisterForNotifies(&first);
    first.unregisterFrom = &config;
    config.CommitChanges(nullptr);
    // All three registrations were called although the first left during its call.
    EXPECT_EQ((std::vector<std::string>{"apply", "first", "second", "first"}), config.events);
    config.events.clear();
    config.CommitChanges(nullptr);
    EXPECT_EQ((std::vector<std::string>{"apply", "second"}), config.events);
    EXPECT_EQ(S_OK, config.UnregisterFromNotifies(&first));  // absent: still S_OK
    config.UnregisterFromNotifies(&second);
}

TEST_F(ModuleConfigTest, ResetToDefaultsRestoresAndReportsWritableParameters) {
    Var v(9);
    config.SetValue(&kLong, &v);
    config.CommitChanges(nullptr);
    config.applied.clear();
    ASSERT_EQ(S_OK, config.ResetToDefaults());
    EXPECT_EQ(100, config.settings.longValue);
    ASSERT_EQ(1u, config.applied.size());
    EXPECT_EQ(9u, config.applied[0].size());  // every writable parameter
}

TEST_F(ModuleConfigTest, QueryInterfaceAndClassId) {
    config.NonDelegatingAddRef();  // a stack object: keep the count above zero
    IModuleConfig* mc = nullptr;
    ASSERT_EQ(S_OK, config.NonDelegatingQueryInterface(IID_IModuleConfig, reinterpret_cast<void**>(&mc)));
    CLSID id{};
    EXPECT_EQ(S_OK, mc->GetClassID(&id));
    EXPECT_EQ(kTestClass, id);
    mc->Release();
}

}  // namespace
}  // namespace paramtest
