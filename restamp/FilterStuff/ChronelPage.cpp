#include "restamp/FilterStuff/ChronelPage.h"

#include "restamp/FilterStuff/ChronelResource.h"
#include "restamp/FilterStuff/VersionText.h"
#include "platform/dshow/PageLogo.h"

#include <cstring>
#include <new>
#include <string>

namespace {

constexpr int kLogoX = 30;
constexpr int kLogoY = 10;
constexpr COLORREF kLogoBackground = RGB(255, 255, 255);
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;
constexpr DWORD kTreeStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                             TVS_LINESATROOT | TVS_DISABLEDRAGDROP;

// The fixed file information of the module's version resource, or null.
const VS_FIXEDFILEINFO* FixedFileInfo() {
    HMODULE module = AMGetModuleInstance();
    HRSRC found = FindResourceW(module, L"#1", MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (found == NULL) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = SizeofResource(module, found);
    if (bytes == nullptr) return nullptr;
    // The block starts with its header and key; the fixed part follows, 32-bit aligned.
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        DWORD signature;
        std::memcpy(&signature, bytes + at, sizeof signature);
        if (signature == kFixedInfoSignature) return reinterpret_cast<const VS_FIXEDFILEINFO*>(bytes + at);
    }
    return nullptr;
}

std::string Ansi(const wchar_t* text) {
    if (text == nullptr) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace

// ---- tree view ----

bool CDFTreeView::Create(HWND parent, const RECT& rect, int controlId) {
    Destroy();
    hwnd_ = CreateWindowExW(0, WC_TREEVIEWW, L"", kTreeStyle, rect.left, rect.top, rect.right - rect.left,
                            rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                            NULL, NULL);
    if (hwnd_ != NULL) SendMessageW(hwnd_, WM_SETFONT, SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
    return hwnd_ != NULL;
}

HTREEITEM CDFTreeView::Insert(const char* text, HTREEITEM parent) {
    if (hwnd_ == NULL) return NULL;
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<char*>(text);
    return reinterpret_cast<HTREEITEM>(SendMessageA(hwnd_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void CDFTreeView::Destroy() {
    if (hwnd_ == NULL) return;
    SendMessageW(hwnd_, TVM_SETIMAGELIST, TVSIL_NORMAL, 0);
    SendMessageW(hwnd_, TVM_SETIMAGELIST, TVSIL_STATE, 0);
    DestroyWindow(hwnd_);
    hwnd_ = NULL;
}

// ---- page ----

CUnknown* WINAPI CDmxStrmPropPag::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    auto* page = new (std::nothrow) CDmxStrmPropPag(pUnk);
    if (page == nullptr && phr) *phr = E_OUTOFMEMORY;
    return page;
}

CDmxStrmPropPag::CDmxStrmPropPag(LPUNKNOWN pUnk)
    : CBasePropertyPage(NAME("Korvell Chronel property page"), pUnk, IDD_CHRONEL_ABOUT, IDS_CHRONEL_ABOUT) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
    (void)InitCommonControlsEx(&controls);
}

CDmxStrmPropPag::~CDmxStrmPropPag() {
    tree_.Destroy();
    if (logo_) DeleteObject(logo_);
}

HRESULT CDmxStrmPropPag::OnConnect(IUnknown* object) {
    // Either interface may be missing; the page shows what it has.
    if (FAILED(streams_.QueryFrom(object, IID_IAMStreamSelect))) streams_.Reset();
    if (FAILED(parser_.QueryFrom(object, IID_IVexoParserSettings))) parser_.Reset();
    if (logo_ == NULL) logo_ = LoadPageLogo(IDB_CHRONEL_LOGO);
    return S_OK;
}

HRESULT CDmxStrmPropPag::OnDisconnect() {
    streams_.Reset();
    parser_.Reset();
    if (logo_) DeleteObject(logo_);
    logo_ = NULL;
    return S_OK;
}

HRESULT CDmxStrmPropPag::OnDeactivate() {
    tree_.Destroy();
    return S_OK;
}

void CDmxStrmPropPag::FillTree() {
    RECT place = {};
    HWND placeholder = GetDlgItem(m_Dlg, IDC_TREE_PLACE);
    if (placeholder == NULL || !GetWindowRect(placeholder, &place)) return;
    MapWindowPoints(NULL, m_Dlg, reinterpret_cast<POINT*>(&place), 2);
    if (!tree_.Create(m_Dlg, place, IDC_STREAM_TREE)) return;
    HTREEITEM root = TVI_ROOT;
    if (parser_) {
        LPWSTR name = nullptr;
        int context = 0;  // required by the call, not read
        if (SUCCEEDED(parser_->GetFormatName(&name, &context)) && name) {
            HTREEITEM item = tree_.Insert(Ansi(name).c_str(), TVI_ROOT);
            if (item) root = item;
        }
        CoTaskMemFree(name);
    }
    if (streams_) {
        DWORD count = 0;
        if (FAILED(streams_->Count(&count))) count = 0;
        for (DWORD i = 0; i < count; ++i) {
            WCHAR* name = nullptr;
            if (streams_->Info(static_cast<long>(i), nullptr, nullptr, nullptr, nullptr, &name, nullptr, nullptr) ==
                S_OK)
                tree_.Insert(Ansi(name).c_str(), root);
            CoTaskMemFree(name);
        }
    }
    if (root != TVI_ROOT) SendMessageW(tree_.Window(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
}

void CDmxStrmPropPag::Fill() {
    const VS_FIXEDFILEINFO* info = FixedFileInfo();
    const std::string version = info ? chronel::VersionText(info->dwFileVersionMS, info->dwFileVersionLS) : "";
    SetDlgItemTextA(m_Dlg, IDC_VERSION_TEXT, version.c_str());
    FillTree();
}

INT_PTR CDmxStrmPropPag::OnReceiveMessage(HWND, UINT uMsg, WPARAM wParam, LPARAM) {
    switch (uMsg) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
        case BM_SETCHECK:
            dirty_ = true;
            return FALSE;
        case WM_SHOWWINDOW:
            if (wParam) Fill();
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(m_Dlg, &ps);
            if (dc) {
                DrawTransparentLogo(dc, logo_, kLogoX, kLogoY, kLogoBackground);
                EndPaint(m_Dlg, &ps);
            }
            return TRUE;
        }
        default:
            return FALSE;
    }
}
