// The declarations we add for what mingw-w64 lacks compile next to our
// base classes, and the ASF writer answers its configuration interface.
#include <gtest/gtest.h>

#include "platform/include/AsfWriterConfig.h"
#include "platform/include/PlayerPlugin.h"
#include "platform/tests/TestFilters.h"

namespace {

TEST(AddedDeclarations, AsfWriterConfigurationWhereAvailable) {
    IBaseFilter* writer = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&writer))))
        GTEST_SKIP() << "no WM ASF Writer here";
    IConfigAsfWriter* config = nullptr;
    HRESULT hr = writer->QueryInterface(IID_IConfigAsfWriter, reinterpret_cast<void**>(&config));
    if (SUCCEEDED(hr)) {
        BOOL index = FALSE;
        EXPECT_TRUE(SUCCEEDED(config->GetIndexMode(&index)));
        config->Release();
    }
    writer->Release();
}

TEST(AddedDeclarations, PlayerRegistrarLoadsOrIsAbsent) {
    PFN_WMPRegisterPlayerPlugin reg;
    PFN_WMPUnRegisterPlayerPlugin unreg;
    HMODULE h = WmpLoadRegistrar(&reg, &unreg);
    EXPECT_EQ(h != nullptr, reg != nullptr && unreg != nullptr);
    if (h) FreeLibrary(h);
}

}  // namespace
