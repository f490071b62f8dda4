// COM for every test, and the class table of the test program itself.
#include <gtest/gtest.h>

#include "platform/tests/TestFilters.h"

namespace {
class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }
};
const auto* const g_comEnvironment = ::testing::AddGlobalTestEnvironment(new ComEnvironment);
}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Test transform", &CLSID_TestTransform, TestTransform::CreateInstance, NULL, NULL},
    {L"Test source", &CLSID_TestSource, TestSource::CreateInstance, NULL, NULL},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
