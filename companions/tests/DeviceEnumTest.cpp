// The system device enumerator under the harness: the sound server's null
// sink shows up as an audio capture device.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/GraphHelpers.h"

using namespace graphtest;

namespace {

class DeviceEnum : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(DeviceEnum, AudioInputCategoryListsNullSinkMonitor) {
    auto names = ListFriendlyNames(CLSID_AudioInputDeviceCategory);
    EXPECT_NE(std::find(names.begin(), names.end(), L"Monitor of Null Output"), names.end())
        << "audio inputs listed: " << names.size();
}

TEST_F(DeviceEnum, FriendlyNameMatchIsExact) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(FindFilterByFriendlyName(CLSID_AudioInputDeviceCategory, L"Monitor of Null Output", filter.Put()), S_OK);
    EXPECT_TRUE(filter);
    for (const wchar_t* almost : {L"monitor of null output", L"Monitor of Null", L"Monitor of Null Output "}) {
        ComPtr<IBaseFilter> none;
        EXPECT_EQ(FindFilterByFriendlyName(CLSID_AudioInputDeviceCategory, almost, none.Put()), VFW_E_NOT_FOUND);
        EXPECT_FALSE(none);
    }
}

}  // namespace
