// The video encoder's property pages under Wine: created from the class ids
// the filter lists, shown in a hidden frame, and driven as a user would.
#include <gtest/gtest.h>

#include "tests/support/TestFilters.h"

#include <initguid.h>

#include "codec/paramkit/ParamInterfaces.h"
#include "codec/videoencoder/VideoEncParams.h"
#include "codec/videoencoder/VidrelResource.h"
#include "tests/support/GraphHelpers.h"
#include "tests/support/PageHost.h"
#include "tests/support/TestFilters.h"
#include "tests/support/VideoSource.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <memory>
#include <string>

using namespace graphtest;
using namespace testfilters;
using namespace vidcore;
using pagehost::PageHost;

namespace {

// {00098205-76CC-497E-98A1-6EF10D0BF26D} and the two after it.
const CLSID kAboutPage = {0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6D}};
const CLSID kMainPage = {0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6E}};
const CLSID kAdvancedPage = {0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6F}};
const CLSID kVideoEncoder = {0x00098205, 0x76CC, 0x497E, {0x98, 0xA1, 0x6E, 0xF1, 0x0D, 0x0B, 0xF2, 0x6C}};

const GUID& Id(int index) {
    return *reinterpret_cast<const GUID*>(&kParamRows[index].id);
}

int ThreadsOfThisProcess() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 e = {};
    e.dwSize = sizeof e;
    int n = 0;
    for (BOOL more = Thread32First(snap, &e); more; more = Thread32Next(snap, &e))
        if (e.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    CloseHandle(snap);
    return n;
}

class VidrelPages : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        // Each test starts from the defaults, not from what the last one saved.
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvell\\Korvell MPEG-2 Video Encoder");
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK,
                  CoCreateInstance(kVideoEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, encoder_.PutVoid()))
            << "Vidrel.ax not registered";
        ASSERT_EQ(S_OK, graph_->AddFilter(encoder_.Get(), L"Encoder"));
        ASSERT_EQ(S_OK, encoder_->QueryInterface(IID_IModuleConfig, config_.PutVoid()));
        // Commits are checked against the input's picture size.
        source_ = new VideoSourceFilter(VideoFormat{VideoColour::I420, 320, 240, 25, 250, true, false, 0, 0, 0});
        source_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(source_, L"Video"));
        ComPtr<IPin> in;
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_INPUT, L"Input", in.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source_->GetPin(0), in.Get(), nullptr));
    }

    void TearDown() override {
        ComPtr<IMediaControl> control;
        if (graph_ && SUCCEEDED(control.QueryFrom(graph_.Get(), IID_IMediaControl))) control->Stop();
        config_.Reset();
        if (graph_ && source_) graph_->RemoveFilter(source_);
        if (graph_ && recorder_) graph_->RemoveFilter(recorder_);
        encoder_.Reset();
        graph_.Reset();
        if (source_) source_->NonDelegatingRelease();
        if (recorder_) recorder_->NonDelegatingRelease();
        CoUninitialize();
    }

    void ConnectOutput() {
        recorder_ = new RecorderFilter;
        recorder_->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, graph_->AddFilter(recorder_, L"Recorder"));
        ComPtr<IPin> out;
        ASSERT_EQ(S_OK, FindPinByName(encoder_.Get(), PINDIR_OUTPUT, L"Output", out.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(out.Get(), &recorder_->Pin(), nullptr));
    }

    int Committed(int index) {
        VARIANT v;
        VariantInit(&v);
        if (FAILED(config_->GetValue(&Id(index), &v))) return -12345;
        VARIANT i;
        VariantInit(&i);
        int result = SUCCEEDED(VariantChangeType(&i, &v, 0, VT_I4)) ? i.lVal : -12345;
        VariantClear(&v);
        return result;
    }

    int Pending(int index) {
        ComPtr<IParamConfig> p;
        if (FAILED(config_->GetParamConfig(&Id(index), p.Put()))) return -12345;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(p->GetValue(&v, FALSE))) return -12345;
        VARIANT i;
        VariantInit(&i);
        int result = SUCCEEDED(VariantChangeType(&i, &v, 0, VT_I4)) ? i.lVal : -12345;
        VariantClear(&v);
        return result;
    }

    // S_OK when the value was taken (converted or not).
    HRESULT SetPending(int index, int value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
        HRESULT hr = config_->SetValue(&Id(index), &v);
        return SUCCEEDED(hr) ? S_OK : hr;
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IBaseFilter> encoder_;
    ComPtr<IModuleConfig> config_;
    VideoSourceFilter* source_ = nullptr;
    RecorderFilter* recorder_ = nullptr;
};

// ---- list view helpers ----

HWND List(const PageHost& host) {
    return GetDlgItem(host.Dialog(), IDC_PARAM_LIST);
}

std::string Cell(HWND list, int row, int column) {
    char text[256] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int RowNamed(HWND list, const char* name) {
    const int n = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i)
        if (Cell(list, i, 0) == name) return i;
    return -1;
}

HWND OpenEditor(const PageHost& host, int row) {
    NMITEMACTIVATE activate = {};
    activate.hdr.hwndFrom = List(host);
    activate.hdr.idFrom = IDC_PARAM_LIST;
    activate.hdr.code = NM_DBLCLK;
    activate.iItem = row;
    SendMessageA(host.Dialog(), WM_NOTIFY, IDC_PARAM_LIST, reinterpret_cast<LPARAM>(&activate));
    return GetDlgItem(host.Dialog(), IDC_PARAM_EDITOR);
}

// Waits, serving messages, until the cell shows the text.
bool CellBecomes(HWND list, int row, const std::string& text, DWORD ms = 2000) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        pagehost::Pump();
        if (Cell(list, row, 1) == text) return true;
        Sleep(10);
    }
    return false;
}

// ---- tests ----

TEST_F(VidrelPages, ListsAboutMainAdvancedInThatOrder) {
    std::vector<CLSID> pages = pagehost::PagesOf(encoder_.Get());
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_TRUE(IsEqualGUID(pages[0], kAboutPage));
    EXPECT_TRUE(IsEqualGUID(pages[1], kMainPage));
    EXPECT_TRUE(IsEqualGUID(pages[2], kAdvancedPage));
    const wchar_t* titles[] = {L"About", L"Main Settings", L"Advanced Settings"};
    for (size_t i = 0; i < pages.size(); ++i) {
        ComPtr<IPropertyPage> page;
        ASSERT_EQ(S_OK, CoCreateInstance(pages[i], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.PutVoid()));
        PROPPAGEINFO info = {};
        ASSERT_EQ(S_OK, page->GetPageInfo(&info));
        EXPECT_STREQ(info.pszTitle, titles[i]);
        CoTaskMemFree(info.pszTitle);
    }
}

TEST_F(VidrelPages, AboutPageShowsNameAndVersion) {
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(kAboutPage, encoder_.Get()));
    EXPECT_EQ(host.Text(IDC_ABOUT_NAME), "Korvell MPEG-2 Video Encoder");
    EXPECT_EQ(host.Text(IDC_ABOUT_VERSION), "Version 7.4.0.27713 (build 2008-03-13)");
    host.SaveShot(KORVELL_PAGE_SHOTS "/vidrel_about.bmp");
}

TEST_F(VidrelPages, MainPageAppliesTheBitRateInKbit) {
    ASSERT_EQ(S_OK, SetPending(P_BitrateMode, 1));  // "Constant"
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(kMainPage, encoder_.Get()));
    EXPECT_EQ(host.ComboText(IDC_MODE), "Constant");
    EXPECT_EQ(host.Text(IDC_LABEL1), "Bit-rate (Kb/s):");
    EXPECT_EQ(host.Text(IDC_VALUE1), std::to_string(Committed(P_Bitrate) / 1000));
    host.SaveShot(KORVELL_PAGE_SHOTS "/vidrel_main.bmp");

    host.SetText(IDC_VALUE1, "4000");
    EXPECT_EQ(host.Page()->IsPageDirty(), S_OK);
    EXPECT_GE(host.Site().dirty, 1);
    EXPECT_EQ(S_OK, host.Page()->Apply());
    EXPECT_EQ(Committed(P_Bitrate), 4000000);
    EXPECT_EQ(host.Text(IDC_VALUE1), "4000");

    // The up-downs' ranges.
    int low = -1, high = -1;
    SendDlgItemMessageW(host.Dialog(), IDC_GOP_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                        reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 100);
    SendDlgItemMessageW(host.Dialog(), IDC_BFRAMES_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                        reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 7);

    // "Constant" has no maximum rate to edit.
    pagehost::Pump(250);
    EXPECT_FALSE(host.Enabled(IDC_VALUE2));
}

TEST_F(VidrelPages, ConstantQualityModeRelabelsTheValueFields) {
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(kMainPage, encoder_.Get()));
    ASSERT_TRUE(host.Choose(IDC_MODE, "CQ adaptive"));
    EXPECT_EQ(host.Text(IDC_LABEL1), "I-frames quant:");
    EXPECT_EQ(host.Text(IDC_LABEL2), "P-frames quant:");
    EXPECT_EQ(host.Text(IDC_LABEL3), "B-frames quant:");
    EXPECT_EQ(host.Text(IDC_VALUE1), std::to_string(Pending(P_QuantI)));
    EXPECT_EQ(host.Text(IDC_VALUE3), std::to_string(Pending(P_QuantB)));
    EXPECT_EQ(Pending(P_BitrateMode), 2);
    EXPECT_NE(Committed(P_BitrateMode), 2) << "pending until Apply";
    EXPECT_EQ(S_OK, host.Page()->Apply());
    EXPECT_EQ(Committed(P_BitrateMode), 2);
}

TEST_F(VidrelPages, LevelsFollowTheProfile) {
    ASSERT_EQ(S_OK, SetPending(P_VideoType, 2));  // "MPEG-2"
    ASSERT_EQ(S_OK, SetPending(P_Profile, 4));
    ASSERT_EQ(S_OK, SetPending(P_Level, 8));
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(kMainPage, encoder_.Get()));
    EXPECT_EQ(host.ComboItems(IDC_LEVEL),
              (std::vector<std::string>{"High level", "High1440 level", "Main level", "Low level"}));
    EXPECT_EQ(host.ComboText(IDC_LEVEL), "Main level");
    ASSERT_TRUE(host.Choose(IDC_LEVEL, "Low level"));
    // High profile has no Low level: the last level it lists is taken.
    ASSERT_TRUE(host.Choose(IDC_PROFILE, "High profile"));
    EXPECT_EQ(Pending(P_Profile), 1);
    EXPECT_EQ(Pending(P_Level), 8);
    EXPECT_EQ(host.ComboItems(IDC_LEVEL), (std::vector<std::string>{"High level", "High1440 level", "Main level"}));
    EXPECT_EQ(host.ComboText(IDC_LEVEL), "Main level");

    // MPEG-1 greys the MPEG-2 fields at the next status update.
    ASSERT_TRUE(host.Choose(IDC_VIDEO_TYPE, "MPEG-1 VideoCD"));
    pagehost::Pump(250);
    EXPECT_FALSE(host.Enabled(IDC_PROFILE));
    EXPECT_FALSE(host.Enabled(IDC_LEVEL));
    EXPECT_TRUE(host.Enabled(IDC_VIDEO_FORMAT));
    EXPECT_EQ(host.ComboItems(IDC_ASPECT).size(), 14u) << "MPEG-1 pel aspects";
}

TEST_F(VidrelPages, RunningEncoderGreysTheSettings) {
    ConnectOutput();
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(kMainPage, encoder_.Get()));
    EXPECT_TRUE(host.Enabled(IDC_VIDEO_TYPE));
    EXPECT_TRUE(host.Enabled(IDC_RESTORE));
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, control.QueryFrom(graph_.Get(), IID_IMediaControl));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    const DWORD start = GetTickCount();
    while (Committed(P_IsRunning) != 1 && GetTickCount() - start < 5000) pagehost::Pump(20);
    ASSERT_EQ(Committed(P_IsRunning), 1);
    pagehost::Pump(250);
    EXPECT_FALSE(host.Enabled(IDC_VIDEO_TYPE));
    EXPECT_FALSE(host.Enabled(IDC_RESTORE));
    EXPECT_FALSE(host.Enabled(IDC_VALUE1));
    EXPECT_FALSE(host.Enabled(IDC_PROFILE));
    EXPECT_EQ(host.Text(IDC_RESOLUTION), "320 x 240");
    EXPECT_EQ(host.Text(IDC_FRAMERATE), "25.000 fps");
    control->Stop();
    pagehost::Pump(250);
    EXPECT_TRUE(host.Enabled(IDC_VIDEO_TYPE));
}

TEST_F(VidrelPages, RestoreDefaultRunsThePresetOnPendingValues) {
    ASSERT_EQ(S_OK, SetPending(P_GopLength, 40));
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(kMainPage, encoder_.Get()));
    EXPECT_EQ(host.Text(IDC_GOP), "40");
    host.Click(IDC_RESTORE);
    EXPECT_NE(Pending(P_GopLength), 40) << "the preset's GOP length";
    EXPECT_EQ(host.Text(IDC_GOP), std::to_string(Pending(P_GopLength)));
    EXPECT_EQ(Committed(P_GopLength), 40) << "pending until Apply";
    EXPECT_EQ(host.Page()->IsPageDirty(), S_OK);
    EXPECT_EQ(S_OK, host.Page()->Apply());
    EXPECT_EQ(Committed(P_GopLength), Pending(P_GopLength));
}

TEST_F(VidrelPages, ClosingWithoutApplyDropsPendingValues) {
    const int before = Committed(P_GopLength);
    {
        PageHost host;
        ASSERT_EQ(S_OK, host.Open(kMainPage, encoder_.Get()));
        ASSERT_TRUE(host.Choose(IDC_SCENE, "Fast"));
        ASSERT_EQ(S_OK, SetPending(P_GopLength, before + 3));
        EXPECT_EQ(Pending(P_SceneChange), 1);
    }
    EXPECT_EQ(Pending(P_GopLength), before);
    EXPECT_EQ(Pending(P_SceneChange), Committed(P_SceneChange));
}

TEST_F(VidrelPages, AdvancedListEditsInPlace) {
    PageHost host;
    ASSERT_EQ(S_OK, host.Open(kAdvancedPage, encoder_.Get()));
    HWND list = List(host);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(RowNamed(list, "Is running"), -1) << "read-only";
    EXPECT_EQ(RowNamed(list, "Bitrate"), -1) << "not visible";
    EXPECT_EQ(RowNamed(list, "Set default values"), -1);
    const int gopRow = RowNamed(list, "Closed GOP interval");
    const int rangeRow = RowNamed(list, "Motion search range");
    ASSERT_GE(gopRow, 0);
    ASSERT_GE(rangeRow, 0);
    EXPECT_LT(gopRow, rangeRow) << "table order";
    EXPECT_EQ(Cell(list, gopRow, 1), std::to_string(Committed(P_ClosedGop)));
    host.SaveShot(KORVELL_PAGE_SHOTS "/vidrel_advanced.bmp");

    // An edit box for a plain number: Enter accepts.
    HWND editor = OpenEditor(host, gopRow);
    ASSERT_NE(editor, nullptr);
    char cls[32] = "";
    GetClassNameA(editor, cls, sizeof cls);
    EXPECT_STREQ(cls, "Edit");
    SetWindowTextA(editor, "7");
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(GetDlgItem(host.Dialog(), IDC_PARAM_EDITOR), nullptr);
    EXPECT_EQ(Pending(P_ClosedGop), 7);
    EXPECT_EQ(Cell(list, gopRow, 1), "7");
    pagehost::Pump();
    EXPECT_EQ(host.Page()->IsPageDirty(), S_OK);

    // A text that does not parse is refused; Escape discards.
    editor = OpenEditor(host, gopRow);
    SetWindowTextA(editor, "12abc");
    SendMessageA(editor, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(Pending(P_ClosedGop), 7);
    EXPECT_EQ(Cell(list, gopRow, 1), "7");
    editor = OpenEditor(host, gopRow);
    SetWindowTextA(editor, "9");
    SendMessageA(editor, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(Pending(P_ClosedGop), 7);

    // Named values: a drop-down list; choosing an entry closes it.
    editor = OpenEditor(host, rangeRow);
    ASSERT_NE(editor, nullptr);
    GetClassNameA(editor, cls, sizeof cls);
    EXPECT_STRCASEEQ(cls, "ComboBox");
    ASSERT_NE(SendMessageA(editor, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("12")), CB_ERR);
    SendMessageA(host.Dialog(), WM_COMMAND, MAKEWPARAM(IDC_PARAM_EDITOR, CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(editor));
    EXPECT_EQ(GetDlgItem(host.Dialog(), IDC_PARAM_EDITOR), nullptr);
    EXPECT_EQ(Pending(P_SearchRange), 12);
    EXPECT_EQ(Cell(list, rangeRow, 1), "12");

    // Releasing the space key on the focused row opens its editor too.
    LVITEMA focus = {};
    focus.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    focus.state = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(gopRow), reinterpret_cast<LPARAM>(&focus));
    SendMessageA(list, WM_KEYUP, VK_SPACE, 0);
    editor = GetDlgItem(host.Dialog(), IDC_PARAM_EDITOR);
    ASSERT_NE(editor, nullptr);
    char shown[32] = "";
    GetWindowTextA(editor, shown, sizeof shown);
    EXPECT_STREQ(shown, "7");
    SendMessageA(editor, WM_KEYDOWN, VK_ESCAPE, 0);

    EXPECT_EQ(S_OK, host.Page()->Apply());
    EXPECT_EQ(Committed(P_ClosedGop), 7);
    EXPECT_EQ(Committed(P_SearchRange), 12);

    // A change committed elsewhere reaches the list through the refresh thread.
    ASSERT_EQ(S_OK, SetPending(P_ClosedGop, 3));
    ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
    EXPECT_TRUE(CellBecomes(list, gopRow, "3"));
}

// Each page has its own refresh events: closing one page leaves another
// page's thread running.
TEST_F(VidrelPages, ClosingOneAdvancedPageKeepsAnotherRefreshing) {
    PageHost kept;
    ASSERT_EQ(S_OK, kept.Open(kAdvancedPage, encoder_.Get()));
    HWND list = List(kept);
    const int row = RowNamed(list, "Closed GOP interval");
    ASSERT_GE(row, 0);
    for (int round = 1; round <= 6; ++round) {
        SCOPED_TRACE(round);
        {
            PageHost other;
            ASSERT_EQ(S_OK, other.Open(kAdvancedPage, encoder_.Get()));
            pagehost::Pump(30);
        }
        ASSERT_EQ(S_OK, SetPending(P_ClosedGop, round));
        ASSERT_EQ(S_OK, config_->CommitChanges(nullptr));
        EXPECT_TRUE(CellBecomes(list, row, std::to_string(round)));
    }
}

TEST_F(VidrelPages, OpeningAndClosingLeavesNoThreadOrHandle) {
    // One round first: the common controls and the page classes load once.
    {
        PageHost warm;
        ASSERT_EQ(S_OK, warm.Open(kAdvancedPage, encoder_.Get()));
    }
    const int threads = ThreadsOfThisProcess();
    DWORD handles = 0;
    const bool counted = GetProcessHandleCount(GetCurrentProcess(), &handles) != FALSE;
    // The advanced page owns a thread and two events: a hundred rounds of it;
    // the other two (slow to build under Wine) a few.
    for (int i = 0; i < 100; ++i) {
        PageHost host;
        ASSERT_EQ(S_OK, host.Open(kAdvancedPage, encoder_.Get()));
    }
    for (int i = 0; i < 10; ++i) {
        for (const CLSID& page : {kAboutPage, kMainPage}) {
            PageHost host;
            ASSERT_EQ(S_OK, host.Open(page, encoder_.Get()));
        }
    }
    pagehost::Pump(200);
    EXPECT_EQ(ThreadsOfThisProcess(), threads);
    DWORD after = 0;
    if (counted && GetProcessHandleCount(GetCurrentProcess(), &after)) {
        EXPECT_LE(after, handles + 4);
    }
}

}  // namespace
