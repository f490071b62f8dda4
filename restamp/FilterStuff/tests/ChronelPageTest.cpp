// The time marker's about page under Wine: the version line and the tree of
// the detected format and streams, before data and after a program stream.
#include <gtest/gtest.h>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "restamp/FilterStuff/ChronelIds.h"
#include "restamp/FilterStuff/ChronelResource.h"
#include "restamp/FilterStuff/tests/ChronelChain.h"
#include "tests/support/GraphHelpers.h"
#include "tests/support/PageHost.h"

#include <commctrl.h>

#include <string>
#include <vector>

using namespace graphtest;
using namespace testfilters;
using pagehost::PageHost;

namespace {

struct TreeItem {
    std::string text;
    std::vector<std::string> children;
};

std::string ItemText(HWND tree, HTREEITEM item) {
    char text[256] = "";
    TVITEMA tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

// The tree's top-level items with their children.
std::vector<TreeItem> Tree(const PageHost& host) {
    std::vector<TreeItem> items;
    HWND tree = GetDlgItem(host.Dialog(), IDC_STREAM_TREE);
    if (tree == NULL) return items;
    auto next = [tree](HTREEITEM item, UINT how) {
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
    };
    for (HTREEITEM root = next(NULL, TVGN_ROOT); root; root = next(root, TVGN_NEXT)) {
        TreeItem t{ItemText(tree, root), {}};
        for (HTREEITEM child = next(root, TVGN_CHILD); child; child = next(child, TVGN_NEXT))
            t.children.push_back(ItemText(tree, child));
        items.push_back(t);
    }
    return items;
}

class ChronelPage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, FindFilterByFriendlyName(kLegacyFilterCategory, L"Korvell Chronel", chronel_.Put()));
    }
    void TearDown() override {
        chronel_.Reset();
        CoUninitialize();
    }

    ComPtr<IBaseFilter> chronel_;
};

TEST_F(ChronelPage, ListsItsOnePage) {
    std::vector<CLSID> pages = pagehost::PagesOf(chronel_.Get());
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(IsEqualGUID(pages[0], CLSID_KorvellChronelPage));
}

TEST_F(ChronelPage, BeforeDataTheTreeIsNotInitialized) {
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(CLSID_KorvellChronelPage, chronel_.Get()));
    EXPECT_EQ(host.Text(IDC_VERSION_TEXT), "1.0.2 (build 51116)");
    std::vector<TreeItem> tree = Tree(host);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].text, "Not Initialized");
    EXPECT_EQ(tree[0].children, std::vector<std::string>{"Output"});
    EXPECT_EQ(host.Page()->IsPageDirty(), S_FALSE);
    EXPECT_EQ(host.Page()->Apply(), S_OK);
    host.SaveShot(KORVELL_PAGE_SHOTS "/chronel_about.bmp");
}

TEST_F(ChronelPage, AnObjectWithoutTheInterfacesShowsTheVersionOnly) {
    ComPtr<IUnknown> stranger;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, stranger.PutVoid()));
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(CLSID_KorvellChronelPage, stranger.Get()));
    EXPECT_EQ(host.Text(IDC_VERSION_TEXT), "1.0.2 (build 51116)");
    EXPECT_TRUE(Tree(host).empty());
}

TEST_F(ChronelPage, AfterAProgramStreamTheTreeShowsItsFormat) {
    ChronelChain chain;
    ASSERT_EQ(S_OK, chain.Build(KORVELL_PROGRAM_STREAM, chronel_.Get()));
    EXPECT_TRUE(chain.RunUntilEnd(60000));
    {
        PageHost host;
        ASSERT_EQ(S_OK, host.Open(CLSID_KorvellChronelPage, chronel_.Get()));
        std::vector<TreeItem> tree = Tree(host);
        ASSERT_EQ(tree.size(), 1u);
        EXPECT_EQ(tree[0].text, "Mpeg2 Program Stream");
        EXPECT_EQ(tree[0].children, std::vector<std::string>{"Output"});
        host.SaveShot(KORVELL_PAGE_SHOTS "/chronel_about_detected.bmp");
    }
}

}  // namespace
