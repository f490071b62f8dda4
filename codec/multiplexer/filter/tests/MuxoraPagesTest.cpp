// The multiplexer's property pages in a frame of the test's own: the page
// list, the about page's texts and logo, and the parameter editor's tree,
// rows, in-place edits, menus and drag and drop, each checked against the
// filter's values. Screenshots of the pages go to the build tree.
#include <gtest/gtest.h>

#include "tests/support/PageHost.h"
#include "tests/support/EsSource.h"

#include <initguid.h>

#include "codec/multiplexer/filter/MuxoraIds.h"
#include "codec/multiplexer/filter/MuxoraPagesRes.h"
#include "codec/paramkit/ParamInterfaces.h"
#include "platform/com/ComPtr.h"
#include "tests/support/GraphHelpers.h"

#include <commctrl.h>
#include <olectl.h>

#include <array>
#include <string>
#include <vector>

using com::ComPtr;

using namespace testfilters;

namespace {

constexpr int kEditorId = 100;  // the page's in-place editor
constexpr REFERENCE_TIME kFrame = 400000;

using pagehost::TestPageSite;

void Pump(int ms = 0) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (ms > 0) Sleep(10);
    } while (static_cast<int>(end - GetTickCount()) > 0);
}

std::wstring WindowText(HWND w) {
    wchar_t text[512] = L"";
    GetWindowTextW(w, text, 512);
    return text;
}

// A 24-bit BMP of what the screen shows of the window.
void SaveScreenshot(HWND window, const wchar_t* name) {
    RECT rc;
    GetWindowRect(window, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(memory, old);
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(h);
    const std::wstring path = std::wstring(KORVELL_PAGES_OUT) + L"\\" + name;
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE) << "cannot write " << std::string(path.begin(), path.end());
    if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(out, &file, sizeof file, &written, nullptr));
        EXPECT_TRUE(WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr));
        EXPECT_TRUE(WriteFile(out, bits, stride * static_cast<DWORD>(h), &written, nullptr));
        CloseHandle(out);
    }
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

std::wstring Hex(long long v) {
    const wchar_t digits[] = L"0123456789abcdef";
    unsigned long long u = static_cast<unsigned long long>(v) & 0xFFFFFFFFull;
    std::wstring out;
    do {
        out.insert(out.begin(), digits[u % 16]);
        u /= 16;
    } while (u);
    return out;
}
// "%d (0x%x)"
std::wstring IdText(long long v) {
    return std::to_wstring(v) + L" (0x" + Hex(v) + L")";
}

long long Number(IModuleConfig* config, const GUID& id) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(config->GetValue(&id, &v), S_OK);
    VARIANT n;
    VariantInit(&n);
    EXPECT_EQ(VariantChangeType(&n, &v, 0, VT_I8), S_OK);
    VariantClear(&v);
    return n.llVal;
}

// The configuration objects the filter hands out under an enumeration id.
std::vector<ComPtr<IModuleConfig>> Enumerate(IModuleConfig* config, const GUID& enumId) {
    std::vector<ComPtr<IModuleConfig>> items;
    VARIANT position;
    VariantInit(&position);
    while (SUCCEEDED(config->GetValue(&enumId, &position)) && position.vt == VT_UNKNOWN) {
        ComPtr<IModuleConfig> item;
        if (FAILED(item.QueryFrom(position.punkVal, IID_IModuleConfig))) break;
        items.push_back(item);
    }
    VariantClear(&position);
    return items;
}

class MuxPages : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         graph_.PutVoid()));
        ASSERT_EQ(S_OK,
                  CoCreateInstance(muxora::kClsidMuxer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, mux_.PutVoid()))
            << "Muxora.ax not registered";
        ASSERT_EQ(S_OK, graph_->AddFilter(mux_.Get(), L"Mux"));
        ASSERT_EQ(S_OK, mux_->QueryInterface(IID_IModuleConfig, config_.PutVoid()));
        ASSERT_NE(frame_, nullptr);
    }

    // One frame for all tests: destroying a top-level window under Wine
    // takes seconds.
    static void SetUpTestSuite() {
        frame_ = CreateWindowExW(0, L"STATIC", L"Muxteron pages", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 700, 480,
                                 nullptr, nullptr, nullptr, nullptr);
    }
    static void TearDownTestSuite() {
        if (frame_) DestroyWindow(frame_);
        frame_ = nullptr;
    }

    void TearDown() override {
        if (page_) {
            if (dialog_) page_->Deactivate();
            page_->SetObjects(0, nullptr);
            page_->SetPageSite(nullptr);
            page_.Reset();
        }
        config_.Reset();
        mux_.Reset();
        graph_.Reset();
        for (CBaseFilter* f : owned_) f->NonDelegatingRelease();
        CoUninitialize();
    }

    void Open(const CLSID& clsid) {
        ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page_.PutVoid()));
        ASSERT_EQ(S_OK, page_->SetPageSite(&site_));
        IUnknown* objects[] = {mux_.Get()};
        ASSERT_EQ(S_OK, page_->SetObjects(1, objects));
        PROPPAGEINFO info{};
        ASSERT_EQ(S_OK, page_->GetPageInfo(&info));
        title_ = info.pszTitle ? info.pszTitle : L"";
        CoTaskMemFree(info.pszTitle);
        RECT rc{0, 0, std::max<LONG>(info.size.cx, 300), std::max<LONG>(info.size.cy, 150)};
        ASSERT_EQ(S_OK, page_->Activate(frame_, &rc, FALSE));
        dialog_ = FindWindowExW(frame_, nullptr, nullptr, nullptr);
        ASSERT_NE(dialog_, nullptr);
        UpdateWindow(frame_);
        Pump(50);
    }

    void Close() {
        ASSERT_EQ(S_OK, page_->Deactivate());
        dialog_ = nullptr;
    }

    void ConnectVideo(const wchar_t* pin) {
        auto* source = new EsSourceFilter(MpegVideoType(352, 288, kFrame, 0), {});
        source->NonDelegatingAddRef();
        owned_.push_back(source);
        ASSERT_EQ(S_OK, graph_->AddFilter(source, pin));
        ComPtr<IPin> in;
        ASSERT_EQ(S_OK, graphtest::FindPinByName(mux_.Get(), PINDIR_INPUT, pin, in.Put()));
        ASSERT_EQ(S_OK, graph_->ConnectDirect(source->GetPin(0), in.Get(), nullptr));
    }

    // --- the editor's windows
    HWND Tree() { return GetDlgItem(dialog_, IDC_TREE); }
    HWND List() { return GetDlgItem(dialog_, IDC_LIST); }
    HWND Editor() { return GetDlgItem(dialog_, kEditorId); }
    std::wstring Status() { return WindowText(GetDlgItem(dialog_, IDC_STATUS)); }

    std::wstring ItemText(HTREEITEM item, int* image = nullptr) {
        wchar_t text[256] = L"";
        TVITEMW it{};
        it.mask = TVIF_TEXT | TVIF_IMAGE;
        it.hItem = item;
        it.pszText = text;
        it.cchTextMax = 256;
        EXPECT_TRUE(TreeView_GetItem(Tree(), &it));
        if (image) *image = it.iImage;
        return text;
    }
    std::vector<HTREEITEM> Children(HTREEITEM item) {
        std::vector<HTREEITEM> out;
        for (HTREEITEM c = TreeView_GetChild(Tree(), item); c; c = TreeView_GetNextSibling(Tree(), c)) out.push_back(c);
        return out;
    }
    void SelectItem(HTREEITEM item) {
        ASSERT_TRUE(TreeView_SelectItem(Tree(), item));
        Pump();
    }
    int FindRow(const std::wstring& name) {
        wchar_t text[256];
        for (int i = 0; i < ListView_GetItemCount(List()); ++i) {
            ListView_GetItemText(List(), i, 0, text, 256);
            if (name == text) return i;
        }
        return -1;
    }
    std::wstring RowValue(const std::wstring& name) {
        const int row = FindRow(name);
        if (row < 0) return L"<no row " + name + L">";
        wchar_t text[256] = L"";
        ListView_GetItemText(List(), row, 1, text, 256);
        return text;
    }
    // Selects the row and double-clicks it: the in-place editor opens.
    HWND EditRow(const std::wstring& name) {
        const int row = FindRow(name);
        EXPECT_GE(row, 0) << std::string(name.begin(), name.end());
        if (row < 0) return nullptr;
        ListView_SetItemState(List(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_SetItemState(List(), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        Pump();
        NMITEMACTIVATE click{};
        click.hdr.hwndFrom = List();
        click.hdr.idFrom = IDC_LIST;
        click.hdr.code = NM_DBLCLK;
        click.iItem = row;
        click.iSubItem = 1;
        SendMessageW(dialog_, WM_NOTIFY, IDC_LIST, reinterpret_cast<LPARAM>(&click));
        return Editor();
    }
    // Presses a key as the user would, with the editor focused.
    void Press(WORD key) {
        SetForegroundWindow(frame_);
        SetFocus(Editor());
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wVk = in[1].ki.wVk = key;
        in[1].ki.dwFlags = KEYEVENTF_KEYUP;
        EXPECT_EQ(SendInput(2, in, sizeof(INPUT)), 2u);
        Pump(150);
    }
    POINT ItemCentreInDialog(HTREEITEM item) {
        RECT rc{};
        EXPECT_TRUE(TreeView_GetItemRect(Tree(), item, &rc, TRUE));
        POINT p{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        MapWindowPoints(Tree(), dialog_, &p, 1);
        return p;
    }
    // Drags the stream item onto the target item with the page's own messages.
    void Drag(HTREEITEM stream, HTREEITEM target) {
        NMTREEVIEWW begin{};
        begin.hdr.hwndFrom = Tree();
        begin.hdr.idFrom = IDC_TREE;
        begin.hdr.code = TVN_BEGINDRAGW;
        begin.itemNew.hItem = stream;
        POINT from = ItemCentreInDialog(stream);
        MapWindowPoints(dialog_, Tree(), &from, 1);
        begin.ptDrag = from;
        SendMessageW(dialog_, WM_NOTIFY, IDC_TREE, reinterpret_cast<LPARAM>(&begin));
        const POINT to = ItemCentreInDialog(target);
        SendMessageW(dialog_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
        SendMessageW(dialog_, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
        Pump();
    }

    ComPtr<IGraphBuilder> graph_;
    ComPtr<IBaseFilter> mux_;
    ComPtr<IModuleConfig> config_;
    ComPtr<IPropertyPage> page_;
    std::vector<CBaseFilter*> owned_;
    TestPageSite site_;
    static HWND frame_;
    HWND dialog_ = nullptr;
    std::wstring title_;
};

// Types "a" and Enter into a multi-line edit, which takes Enter as a line
// break unless a keyboard hook eats it.
void TypeLine(HWND frame) {
    HWND other = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN, 0, 0, 100, 40,
                                 frame, nullptr, nullptr, nullptr);
    SetForegroundWindow(frame);
    SetFocus(other);
    EXPECT_EQ(GetFocus(), other);
    INPUT in[4] = {};
    for (INPUT& key : in) key.type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = 'A';
    in[2].ki.wVk = in[3].ki.wVk = VK_RETURN;
    in[1].ki.dwFlags = in[3].ki.dwFlags = KEYEVENTF_KEYUP;
    EXPECT_EQ(SendInput(4, in, sizeof(INPUT)), 4u);
    Pump(100);
    EXPECT_EQ(WindowText(other), L"a\r\n");
    DestroyWindow(other);
}

HWND MuxPages::frame_ = nullptr;

TEST_F(MuxPages, ListsAboutThenSettings) {
    ComPtr<ISpecifyPropertyPages> specify;
    ASSERT_EQ(S_OK, mux_->QueryInterface(IID_ISpecifyPropertyPages, specify.PutVoid()));
    CAUUID pages{};
    ASSERT_EQ(S_OK, specify->GetPages(&pages));
    ASSERT_EQ(pages.cElems, 2u);
    EXPECT_TRUE(IsEqualGUID(pages.pElems[0], muxora::kClsidAboutPage));
    EXPECT_TRUE(IsEqualGUID(pages.pElems[1], muxora::kClsidSettingsPage));
    const wchar_t* titles[] = {L"About", L"Settings"};
    for (ULONG i = 0; i < pages.cElems; ++i) {
        ComPtr<IPropertyPage> page;
        ASSERT_EQ(S_OK,
                  CoCreateInstance(pages.pElems[i], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.PutVoid()));
        PROPPAGEINFO info{};
        ASSERT_EQ(S_OK, page->GetPageInfo(&info));
        EXPECT_STREQ(info.pszTitle, titles[i]);
        EXPECT_GT(info.size.cx, 0);
        EXPECT_GT(info.size.cy, 0);
        CoTaskMemFree(info.pszTitle);
        // An object without a configuration cannot be shown.
        ComPtr<IUnknown> stranger;
        ASSERT_EQ(S_OK, graph_->QueryInterface(IID_IUnknown, stranger.PutVoid()));
        IUnknown* objects[] = {stranger.Get()};
        EXPECT_EQ(E_NOINTERFACE, page->SetObjects(1, objects));
    }
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(E_POINTER, specify->GetPages(nullptr));
}

TEST_F(MuxPages, AboutShowsNameVersionAndLogo) {
    Open(muxora::kClsidAboutPage);
    EXPECT_EQ(WindowText(GetWindow(dialog_, GW_CHILD)), L"Korvell MPEG Muxteron");
    EXPECT_EQ(WindowText(GetDlgItem(dialog_, IDC_VERSION)), L"Version: 7.4.0.27713");
    EXPECT_FALSE(WindowText(GetDlgItem(dialog_, IDC_ABOUT_LINE1)).empty());
    // The logo's badge is painted over the dialog's face at (80, 5).
    RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    HDC dc = GetDC(dialog_);
    const COLORREF badge = GetPixel(dc, 80 + 60, 5 + 4);
    const COLORREF face = GetPixel(dc, 5, 5);
    ReleaseDC(dialog_, dc);
    EXPECT_EQ(badge, RGB(0x1f, 0x4e, 0x79));
    EXPECT_EQ(face, GetSysColor(COLOR_3DFACE));
    SaveScreenshot(frame_, L"about.bmp");
    // Closing and opening again shows the same.
    Close();
    ASSERT_EQ(S_OK, page_->Activate(frame_, std::array<RECT, 1>{{{0, 0, 300, 150}}}.data(), FALSE));
    dialog_ = FindWindowExW(frame_, nullptr, nullptr, nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(dialog_, IDC_VERSION)), L"Version: 7.4.0.27713");
}

TEST_F(MuxPages, EditorShowsTheMuxerItsProgramAndConnectedStreams) {
    ConnectVideo(L"Input0");
    Open(muxora::kClsidSettingsPage);
    EXPECT_EQ(title_, L"Settings");
    HTREEITEM root = TreeView_GetRoot(Tree());
    int image = -1;
    EXPECT_EQ(ItemText(root, &image), L"Transport Stream");
    EXPECT_EQ(image, 12);
    std::vector<HTREEITEM> programs = Children(root);
    ASSERT_EQ(programs.size(), 1u);
    const long long programId = Number(Enumerate(config_.Get(), muxora::kEnumPrograms)[0].Get(), muxora::kProgramId);
    EXPECT_EQ(ItemText(programs[0], &image), L"Program 0x" + Hex(programId) + L" (#1)");
    EXPECT_EQ(image, 19);
    std::vector<HTREEITEM> streams = Children(programs[0]);
    ASSERT_EQ(streams.size(), 2u) << "the connected input and the spare one";
    auto inputs = Enumerate(Enumerate(config_.Get(), muxora::kEnumPrograms)[0].Get(), muxora::kEnumInputs);
    const long long streamId = Number(inputs[0].Get(), muxora::kStreamId);
    EXPECT_EQ(ItemText(streams[0], &image), L"PES (" + std::to_wstring(streamId) + L") MPEG-2 Video");
    EXPECT_EQ(image, 2);
    EXPECT_EQ(ItemText(streams[1]).rfind(L"PES (", 0), 0u);

    // The muxer's rows.
    EXPECT_EQ(RowValue(L"Output"), L"Transport Stream");
    EXPECT_EQ(RowValue(L"Padding, packets"), L"0");
    EXPECT_EQ(RowValue(L"PCR Interval (ms)"), L"50");
    EXPECT_EQ(FindRow(L"Filter State"), -1) << "hidden rows make none";
    EXPECT_EQ(ListView_GetNextItem(List(), -1, LVNI_SELECTED), 0) << "the top row is selected";
    SaveScreenshot(frame_, L"settings-muxer.bmp");

    // A stream's rows.
    SelectItem(streams[0]);
    EXPECT_EQ(RowValue(L"Stream Type"), L"MPEG-2 Video");
    EXPECT_EQ(RowValue(L"Stream ID"), IdText(streamId));
    EXPECT_EQ(RowValue(L"Input Buffer Size(Byte)"), L" 4 194 304");
    SaveScreenshot(frame_, L"settings-stream.bmp");

    SelectItem(programs[0]);
    EXPECT_EQ(RowValue(L"Program ID"), IdText(programId));
    EXPECT_EQ(RowValue(L"PCR PID"), IdText(streamId));
    // The PCR PID is picked from the connected streams.
    HWND combo = EditRow(L"PCR PID");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 1);
    SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    Pump(50);
    EXPECT_EQ(Editor(), nullptr);
}

TEST_F(MuxPages, EditsApplyThroughTheConfiguration) {
    Open(muxora::kClsidSettingsPage);
    // Apply ends the edit: "2M" is 2,097,152.
    HWND edit = EditRow(L"Required Bitrate, bit/s");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(WindowText(edit), L"0");
    EXPECT_EQ(page_->IsPageDirty(), S_OK);
    EXPECT_GE(site_.dirty, 1);
    SetWindowTextW(edit, L"2M");
    ASSERT_EQ(S_OK, page_->Apply());
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(Number(config_.Get(), muxora::kRequiredBitrate), 2097152);
    EXPECT_EQ(RowValue(L"Required Bitrate, bit/s"), L" 2 097 152");
    EXPECT_EQ(page_->IsPageDirty(), S_FALSE);

    // Escape ends the edit and applies the text like Enter.
    edit = EditRow(L"PCR Interval (ms)");
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"0x1F");
    Press(VK_ESCAPE);
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(Number(config_.Get(), muxora::kPcrInterval), 31);
    edit = EditRow(L"PCR Interval (ms)");
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"40h");
    Press(VK_RETURN);
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(Number(config_.Get(), muxora::kPcrInterval), 64);
    EXPECT_TRUE(IsWindow(frame_)) << "the frame did not take Enter for itself";

    // A text that is no number is refused with the parameter's name; the
    // old value stays, in the filter and in the row.
    edit = EditRow(L"PCR Interval (ms)");
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"lots");
    ASSERT_EQ(S_OK, page_->Apply());
    EXPECT_EQ(Status(), L"PCR Interval (ms): \"lots\" is not a number");
    EXPECT_EQ(Number(config_.Get(), muxora::kPcrInterval), 64);
    EXPECT_EQ(RowValue(L"PCR Interval (ms)"), L"64");
    // Out of the parameter's range: refused by the filter.
    edit = EditRow(L"PCR Interval (ms)");
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"1000");
    ASSERT_EQ(S_OK, page_->Apply());
    EXPECT_EQ(Status(), L"PCR Interval (ms): the value \"1000\" was refused");
    EXPECT_EQ(Number(config_.Get(), muxora::kPcrInterval), 64);
    EXPECT_EQ(RowValue(L"PCR Interval (ms)"), L"64");

    // Closing the page in the middle of an edit ends it (the text applies).
    edit = EditRow(L"PCR Interval (ms)");
    ASSERT_NE(edit, nullptr);
    SetWindowTextW(edit, L"100");
    Close();
    EXPECT_EQ(Number(config_.Get(), muxora::kPcrInterval), 100);
    // Keys after the page is gone go where they belong: no hook of the page's is left.
    ASSERT_EQ(S_OK, page_->SetObjects(0, nullptr));
    ASSERT_EQ(S_OK, page_->SetPageSite(nullptr));
    page_.Reset();
    TypeLine(frame_);
}

TEST_F(MuxPages, OutputChoiceRebuildsTheTree) {
    Open(muxora::kClsidSettingsPage);
    HWND combo = EditRow(L"Output");
    ASSERT_NE(combo, nullptr);
    ASSERT_NE(
        SendMessageW(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"Program Stream")),
        CB_ERR);
    SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);  // the drop-down closes: the edit ends
    Pump(50);
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(Number(config_.Get(), muxora::kOutput), 1);
    int image = -1;
    HTREEITEM root = TreeView_GetRoot(Tree());
    EXPECT_EQ(ItemText(root, &image), L"Program Stream");
    EXPECT_EQ(image, 4);
    ASSERT_EQ(Children(root).size(), 1u);
    ItemText(Children(root)[0], &image);
    EXPECT_EQ(image, 11);
    SaveScreenshot(frame_, L"settings-program-stream.bmp");
}

TEST_F(MuxPages, MenuCommandsAndDraggingChangeTheStructure) {
    Open(muxora::kClsidSettingsPage);
    HTREEITEM root = TreeView_GetRoot(Tree());
    ASSERT_EQ(Children(root).size(), 1u);
    const size_t streamsBefore = Children(Children(root)[0]).size();

    // "Create Stream" and "Create Program" on the selected program.
    SelectItem(Children(root)[0]);
    SendMessageW(dialog_, WM_COMMAND, ID_CREATE_STREAM, 0);
    root = TreeView_GetRoot(Tree());
    ASSERT_EQ(Children(Children(root)[0]).size(), streamsBefore + 1);
    SelectItem(Children(root)[0]);
    SendMessageW(dialog_, WM_COMMAND, ID_CREATE_PROGRAM, 0);
    root = TreeView_GetRoot(Tree());
    ASSERT_EQ(Children(root).size(), 2u);
    ASSERT_EQ(Enumerate(config_.Get(), muxora::kEnumPrograms).size(), 2u);
    EXPECT_EQ(Status(), L"");

    // A stream dropped on its own program stays.
    HTREEITEM first = Children(root)[0];
    HTREEITEM second = Children(root)[1];
    Drag(Children(first)[0], first);
    root = TreeView_GetRoot(Tree());
    EXPECT_EQ(Children(Children(root)[0]).size(), streamsBefore + 1);
    EXPECT_EQ(Children(Children(root)[1]).size(), 0u);
    // Dropped on the other program, it moves there.
    first = Children(root)[0];
    second = Children(root)[1];
    Drag(Children(first)[0], second);
    root = TreeView_GetRoot(Tree());
    EXPECT_EQ(Children(Children(root)[0]).size(), streamsBefore);
    ASSERT_EQ(Children(Children(root)[1]).size(), 1u);
    auto programs = Enumerate(config_.Get(), muxora::kEnumPrograms);
    ASSERT_EQ(programs.size(), 2u);
    EXPECT_EQ(Enumerate(programs[1].Get(), muxora::kEnumInputs).size(), 1u);
    // Dropped on the muxer: nothing happens.
    Drag(Children(Children(root)[1])[0], root);
    root = TreeView_GetRoot(Tree());
    EXPECT_EQ(Children(Children(root)[1]).size(), 1u);
    SaveScreenshot(frame_, L"settings-two-programs.bmp");

    // "Delete Stream" on the moved stream, then "Delete Program".
    SelectItem(Children(Children(root)[1])[0]);
    SendMessageW(dialog_, WM_COMMAND, ID_DELETE_STREAM, 0);
    root = TreeView_GetRoot(Tree());
    ASSERT_EQ(Children(root).size(), 2u);
    EXPECT_EQ(Children(Children(root)[1]).size(), 0u);
    SelectItem(Children(root)[1]);
    SendMessageW(dialog_, WM_COMMAND, ID_DELETE_PROGRAM, 0);
    root = TreeView_GetRoot(Tree());
    EXPECT_EQ(Children(root).size(), 1u);
    EXPECT_EQ(Enumerate(config_.Get(), muxora::kEnumPrograms).size(), 1u);
    // A stream command on a program is not run.
    SelectItem(Children(root)[0]);
    SendMessageW(dialog_, WM_COMMAND, ID_DELETE_STREAM, 0);
    EXPECT_EQ(Children(TreeView_GetRoot(Tree())).size(), 1u);
}

TEST_F(MuxPages, LiveRowsRefreshWhileShown) {
    Open(muxora::kClsidSettingsPage);
    HTREEITEM program = Children(TreeView_GetRoot(Tree()))[0];
    SelectItem(Children(program)[0]);
    EXPECT_EQ(RowValue(L"Stream Type"), L"Free");
    const std::wstring streamIdBefore = RowValue(L"Stream ID");
    // Connecting changes the read-only rows, which the 100 ms refresh shows;
    // writable rows are not rewritten under the user's eyes.
    ConnectVideo(L"Input0");
    Pump(300);
    EXPECT_EQ(RowValue(L"Stream Type"), L"MPEG-2 Video");
    EXPECT_EQ(RowValue(L"Announced Bitrate"), L" 2 500 000");
    EXPECT_EQ(RowValue(L"Stream ID"), streamIdBefore);
}

TEST_F(MuxPages, ClosingDeclinesPendingValues) {
    Open(muxora::kClsidSettingsPage);
    // A value set but not committed while the page shows the muxer.
    ComPtr<IParamConfig> param;
    ASSERT_EQ(S_OK, config_->GetParamConfig(&muxora::kPcrInterval, param.Put()));
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 200;
    ASSERT_EQ(S_OK, config_->SetValue(&muxora::kPcrInterval, &v));
    Close();
    VARIANT pending;
    VariantInit(&pending);
    ASSERT_EQ(S_OK, param->GetValue(&pending, FALSE));
    EXPECT_EQ(pending.lVal, 50);
    EXPECT_EQ(Number(config_.Get(), muxora::kPcrInterval), 50);
    EXPECT_EQ(S_OK, page_->SetObjects(0, nullptr));
}

}  // namespace
