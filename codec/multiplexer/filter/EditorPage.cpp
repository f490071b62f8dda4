#include "codec/multiplexer/filter/EditorPage.h"

#include "codec/multiplexer/filter/MuxoraIds.h"
#include "codec/multiplexer/filter/MuxoraPagesRes.h"

#include <windowsx.h>

#include <new>
#include <vector>

namespace muxora {

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 100;
// Sent by the editor's keys and focus changes, and by the list's selection
// change: end the open edit. A rebuild is posted when a tree notice must
// not see its items go.
constexpr UINT kEndEditMessage = WM_USER + 100;
constexpr UINT kRebuildMessage = WM_USER + 101;
constexpr int kEditorId = 100;
constexpr int kInset = 2;
constexpr int kTreeShare = 40;  // percent of the width
constexpr int kDropDownExtra = 160;
constexpr int kTextBuffer = 1024;
constexpr int kColumnPadding = 16;

thread_local CM72PropertyPage* t_hookPage = nullptr;

}  // namespace

CUnknown* WINAPI CM72PropertyPage::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    CM72PropertyPage* page = new (std::nothrow) CM72PropertyPage(outer);
    if (!page && phr) *phr = E_OUTOFMEMORY;
    return page;
}

CM72PropertyPage::CM72PropertyPage(LPUNKNOWN outer)
    : CBasePropertyPage(NAME("Muxteron Settings Page"), outer, IDD_SETTINGS, IDS_SETTINGS_TITLE) {
    // The dialog's tree and list classes.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
}

CM72PropertyPage::~CM72PropertyPage() {
    RemoveHook();
    if (images_) ImageList_Destroy(images_);
}

HRESULT CM72PropertyPage::OnConnect(IUnknown* object) {
    config_.Reset();
    if (!object) return E_POINTER;
    return FAILED(config_.QueryFrom(object, IID_IModuleConfig)) ? E_NOINTERFACE : S_OK;
}

HRESULT CM72PropertyPage::OnDisconnect() {
    config_.Reset();
    return S_OK;
}

HRESULT CM72PropertyPage::OnActivate() {
    try {
        return Activated();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CM72PropertyPage::Activated() {
    if (!m_Dlg) return E_UNEXPECTED;
    tree_ = GetDlgItem(m_Dlg, IDC_TREE);
    list_ = GetDlgItem(m_Dlg, IDC_LIST);
    if (!tree_ || !list_) return E_FAIL;
    if (!images_)
        images_ = ImageList_LoadImageW(AMGetModuleInstance(), MAKEINTRESOURCEW(IDB_NODES), muxpages::kImageWidth, 0,
                                       RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (images_) TreeView_SetImageList(tree_, images_, TVSIL_NORMAL);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    RECT rc;
    GetClientRect(list_, &rc);
    const wchar_t* titles[] = {L"Parameter", L"Value"};
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = (rc.right - rc.left) / 2;
        column.pszText = const_cast<wchar_t*>(titles[i]);
        if (ListView_InsertColumn(list_, i, &column) < 0) return E_FAIL;
    }
    Layout();
    RebuildTree();
    timer_ = SetTimer(m_Dlg, kRefreshTimer, kRefreshMs, nullptr);
    return S_OK;
}

HRESULT CM72PropertyPage::OnDeactivate() {
    if (timer_ && m_Dlg) KillTimer(m_Dlg, kRefreshTimer);
    timer_ = 0;
    EndEdit(true);
    EndDrag(false);
    if (current_) current_->Decline();
    DeleteTree();
    if (tree_) TreeView_SetImageList(tree_, nullptr, TVSIL_NORMAL);
    if (images_) ImageList_Destroy(images_);
    images_ = nullptr;
    tree_ = list_ = nullptr;
    return S_OK;
}

HRESULT CM72PropertyPage::OnApplyChanges() {
    try {
        return Applied();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CM72PropertyPage::Applied() {
    bool structure = EndEdit(true);
    HRESULT hr = S_OK;
    if (current_) {
        bool changed = false;
        hr = current_->Apply(&changed);
        structure = structure || changed;
    }
    if (structure)
        RebuildTree();
    else
        FillList();
    return hr;
}

INT_PTR CM72PropertyPage::OnReceiveMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return Handle(hwnd, message, wParam, lParam);
    } catch (...) {
        return CBasePropertyPage::OnReceiveMessage(hwnd, message, wParam, lParam);
    }
}

INT_PTR CM72PropertyPage::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            Layout();
            break;
        case WM_TIMER:
            if (wParam == kRefreshTimer) Refresh();
            return TRUE;
        case WM_NOTIFY:
            if (lParam) {
                const INT_PTR result = OnNotify(reinterpret_cast<NMHDR*>(lParam));
                SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
                return TRUE;
            }
            break;
        case WM_COMMAND:
            if (LOWORD(wParam) == kEditorId) {
                const WORD code = HIWORD(wParam);
                if (code == EN_KILLFOCUS || code == CBN_CLOSEUP) PostMessageW(hwnd, kEndEditMessage, 0, 0);
                return TRUE;
            }
            // Menu commands (also sent by hosts and tests) act on the selected node.
            if (lParam == 0 && (muxpages::CommandFits(muxpages::NodeKind::Program, LOWORD(wParam)) ||
                                muxpages::CommandFits(muxpages::NodeKind::Stream, LOWORD(wParam)))) {
                RunCommand(LOWORD(wParam));
                return TRUE;
            }
            break;
        case kEndEditMessage:
            if (EndEdit(true)) RebuildTree();
            return TRUE;
        case kRebuildMessage:
            RebuildTree();
            return TRUE;
        case WM_MOUSEMOVE:
            if (dragged_) {
                DragOver(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
                return TRUE;
            }
            break;
        case WM_LBUTTONUP:
            if (dragged_) {
                EndDrag(true);
                return TRUE;
            }
            break;
        case WM_CAPTURECHANGED:
            if (dragged_ && reinterpret_cast<HWND>(lParam) != hwnd) EndDrag(false);
            break;
        default:
            break;
    }
    return CBasePropertyPage::OnReceiveMessage(hwnd, message, wParam, lParam);
}

INT_PTR CM72PropertyPage::OnNotify(NMHDR* header) {
    if (header->hwndFrom == tree_) {
        auto* info = reinterpret_cast<NMTREEVIEWW*>(header);
        switch (header->code) {
            case TVN_SELCHANGEDW:
            case TVN_SELCHANGEDA:
                if (!rebuilding_) {
                    if (EndEdit(true)) PostMessageW(m_Dlg, kRebuildMessage, 0, 0);
                    Select(NodeOf(info->itemNew.hItem));
                }
                return 0;
            case TVN_BEGINDRAGW:
            case TVN_BEGINDRAGA:
                BeginDrag(*info);
                return 0;
            case NM_RCLICK:
                ShowContextMenu();
                return TRUE;
            default:
                return 0;
        }
    }
    if (header->hwndFrom == list_) {
        if (header->code == NM_DBLCLK) {
            BeginEdit();
            return 0;
        }
        if (header->code == LVN_ITEMCHANGED && editor_) {
            auto* change = reinterpret_cast<NMLISTVIEW*>(header);
            if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
                PostMessageW(m_Dlg, kEndEditMessage, 0, 0);
        }
    }
    return 0;
}

void CM72PropertyPage::Layout() {
    if (!m_Dlg || !tree_ || !list_) return;
    RECT client;
    GetClientRect(m_Dlg, &client);
    const int width = client.right - client.left;
    int statusHeight = 0;
    HWND status = GetDlgItem(m_Dlg, IDC_STATUS);
    if (status) {
        RECT rc;
        GetWindowRect(status, &rc);
        statusHeight = rc.bottom - rc.top;
    }
    const int bottom = client.bottom - statusHeight - kInset;
    const int split = width * kTreeShare / 100;
    MoveWindow(tree_, kInset, kInset, split - 2 * kInset, bottom - kInset, TRUE);
    MoveWindow(list_, split, kInset, width - split - kInset, bottom - kInset, TRUE);
    if (status) MoveWindow(status, kInset, bottom + 1, width - 2 * kInset, statusHeight, TRUE);
}

// ------------------------------------------------------------------ tree

EditorNode* CM72PropertyPage::NodeOf(HTREEITEM item) const {
    if (!item || !tree_) return nullptr;
    TVITEMW it{};
    it.mask = TVIF_PARAM;
    it.hItem = item;
    if (!TreeView_GetItem(tree_, &it)) return nullptr;
    return reinterpret_cast<EditorNode*>(it.lParam);
}

EditorNode* CM72PropertyPage::FindNode(EditorNode* from, IUnknown* config) const {
    if (!from || !config) return nullptr;
    if (from->Config() == config) return from;
    for (const auto& child : from->Children())
        if (EditorNode* found = FindNode(child.get(), config)) return found;
    return nullptr;
}

void CM72PropertyPage::InsertItems(EditorNode* node, HTREEITEM parent) {
    std::wstring text = node->Text();
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = &text[0];
    insert.item.iImage = insert.item.iSelectedImage = node->Image();
    insert.item.lParam = reinterpret_cast<LPARAM>(node);
    node->item = TreeView_InsertItem(tree_, &insert);
    if (!node->item) return;
    for (const auto& child : node->Children()) InsertItems(child.get(), node->item);
    TreeView_Expand(tree_, node->item, TVE_EXPAND);
}

void CM72PropertyPage::DeleteTree() {
    EndDrag(false);
    current_ = nullptr;
    rebuilding_ = true;
    if (tree_) TreeView_DeleteAllItems(tree_);
    if (list_) ListView_DeleteAllItems(list_);
    rebuilding_ = false;
    root_.reset();
}

void CM72PropertyPage::RebuildTree() {
    if (!tree_) return;
    com::ComPtr<IModuleConfig> shown(current_ ? current_->Config() : nullptr);
    DeleteTree();
    root_ = EditorNode::BuildTree(config_.Get());
    if (!root_) return;
    rebuilding_ = true;
    InsertItems(root_.get(), TVI_ROOT);
    EditorNode* select = FindNode(root_.get(), shown.Get());
    if (!select) select = root_.get();
    TreeView_SelectItem(tree_, select->item);
    rebuilding_ = false;
    Select(select);
}

void CM72PropertyPage::Select(EditorNode* node) {
    current_ = node;
    FillList();
}

// ------------------------------------------------------------------ rows

void CM72PropertyPage::FillList() {
    if (!list_) return;
    LPARAM keep = -1;
    const int selected = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    if (selected >= 0) {
        LVITEMW it{};
        it.mask = LVIF_PARAM;
        it.iItem = selected;
        if (ListView_GetItem(list_, &it)) keep = it.lParam;
    }
    ListView_DeleteAllItems(list_);
    if (!current_) return;
    const muxpages::RowContext context = current_->Context();
    for (size_t i = 0; i < current_->Ids().size(); ++i) {
        muxpages::ParamView view;
        if (current_->Read(current_->Ids()[i], &view)) WriteRow(i, view, context);
    }
    FitColumns();
    if (keep >= 0) {
        LVFINDINFOW find{};
        find.flags = LVFI_PARAM;
        find.lParam = keep;
        const int at = ListView_FindItem(list_, -1, &find);
        if (at >= 0) {
            ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
            ListView_SetItemState(list_, at, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        }
    }
}

// Each column starts at half the list; a longer parameter name widens the
// first one so that no name is cut.
void CM72PropertyPage::FitColumns() {
    RECT rc;
    if (!GetClientRect(list_, &rc)) return;
    const int width = rc.right - rc.left;
    int nameWidth = width / 2;
    wchar_t text[kTextBuffer];
    for (int i = 0; i < ListView_GetItemCount(list_); ++i) {
        ListView_GetItemText(list_, i, 0, text, kTextBuffer);
        const int needed = ListView_GetStringWidth(list_, text) + kColumnPadding;
        if (needed > nameWidth) nameWidth = needed;
    }
    ListView_SetColumnWidth(list_, 0, nameWidth);
    ListView_SetColumnWidth(list_, 1, width - nameWidth > width / 3 ? width - nameWidth : width / 3);
}

void CM72PropertyPage::WriteRow(size_t index, const muxpages::ParamView& view, const muxpages::RowContext& context) {
    const muxpages::RowText row = muxpages::FormatRow(view, context);
    if (!row.shown) {
        // The end-of-stream flag shows in the stream's tree image.
        if (view.name.empty() && current_->UpdateEnded(view.number != 0) && current_->item) {
            TVITEMW it{};
            it.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
            it.hItem = current_->item;
            it.iImage = it.iSelectedImage = current_->Image();
            TreeView_SetItem(tree_, &it);
        }
        return;
    }
    std::wstring name = Widen(row.name);
    std::wstring value = Widen(row.value);
    LVFINDINFOW find{};
    find.flags = LVFI_PARAM;
    find.lParam = static_cast<LPARAM>(index);
    int at = ListView_FindItem(list_, -1, &find);
    if (at < 0) {
        LVITEMW it{};
        it.mask = LVIF_TEXT | LVIF_PARAM;
        it.iItem = ListView_GetItemCount(list_);
        it.pszText = &name[0];
        it.lParam = static_cast<LPARAM>(index);
        at = ListView_InsertItem(list_, &it);
        if (at < 0) return;
    } else {
        wchar_t shown[kTextBuffer] = L"";
        ListView_GetItemText(list_, at, 1, shown, kTextBuffer);
        if (value == shown) return;  // unchanged: no flicker
        ListView_SetItemText(list_, at, 0, &name[0]);
    }
    ListView_SetItemText(list_, at, 1, &value[0]);
    if (ListView_GetNextItem(list_, -1, LVNI_SELECTED) < 0)
        ListView_SetItemState(list_, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

// The live statistics: visible read-only rows, from the last to the first.
void CM72PropertyPage::Refresh() {
    if (!current_ || !list_) return;
    const muxpages::RowContext context = current_->Context();
    for (size_t i = current_->Ids().size(); i-- > 0;) {
        muxpages::ParamView view;
        if (current_->Read(current_->Ids()[i], &view) && muxpages::IsLiveRow(view.visible, view.readOnly))
            WriteRow(i, view, context);
    }
}

// ------------------------------------------------------------------ editing

void CM72PropertyPage::BeginEdit() {
    if (!current_ || editor_) return;
    const int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    if (row < 0) return;
    LVITEMW it{};
    it.mask = LVIF_PARAM;
    it.iItem = row;
    if (!ListView_GetItem(list_, &it) || it.lParam < 0 || static_cast<size_t>(it.lParam) >= current_->Ids().size())
        return;
    const size_t index = static_cast<size_t>(it.lParam);
    const GUID& id = current_->Ids()[index];
    muxpages::ParamView view;
    if (!current_->Read(id, &view)) return;
    muxpages::EditorKind kind = muxpages::ChooseEditor(view.name, view.hasValueList, view.readOnly);
    if (kind == muxpages::EditorKind::None) return;

    std::vector<std::wstring> choices;
    int chosen = -1;
    if (kind == muxpages::EditorKind::ValueList) choices = current_->ValueNames(id, &chosen);
    if (kind == muxpages::EditorKind::PcrPidList) choices = current_->PcrChoices(&chosen);
    // A PCR PID without connected streams to choose from is typed.
    if (kind == muxpages::EditorKind::PcrPidList && choices.empty()) kind = muxpages::EditorKind::Text;

    RECT cell;
    if (!ListView_GetSubItemRect(list_, row, 1, LVIR_BOUNDS, &cell)) return;
    MapWindowPoints(list_, m_Dlg, reinterpret_cast<POINT*>(&cell), 2);
    const int width = cell.right - cell.left;
    const int height = cell.bottom - cell.top;
    HWND editor;
    if (kind == muxpages::EditorKind::Text) {
        const std::wstring text =
            view.kind == muxpages::ValueKind::Text ? Widen(view.text) : std::to_wstring(view.number);
        editor = CreateWindowExW(
            0, WC_EDITW, text.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, cell.left, cell.top, width,
            height, m_Dlg, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditorId)), AMGetModuleInstance(), nullptr);
    } else {
        editor =
            CreateWindowExW(0, WC_COMBOBOXW, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, cell.left,
                            cell.top, width, height + kDropDownExtra, m_Dlg,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditorId)), AMGetModuleInstance(), nullptr);
        if (editor) {
            for (const std::wstring& choice : choices)
                SendMessageW(editor, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
            SendMessageW(editor, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
        }
    }
    if (!editor) return;
    SendMessageW(editor, WM_SETFONT, SendMessageW(list_, WM_GETFONT, 0, 0), TRUE);
    SetWindowPos(editor, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    editor_ = editor;
    editRow_ = index;
    MarkDirty();
    InstallHook();
    SetFocus(editor);
    if (kind == muxpages::EditorKind::Text)
        SendMessageW(editor, EM_SETSEL, 0, -1);
    else
        SendMessageW(editor, CB_SHOWDROPDOWN, TRUE, 0);
}

// Every way out of an edit comes here: the hook goes first, then the text
// is committed and the editor destroyed. True when the tree must be rebuilt.
bool CM72PropertyPage::EndEdit(bool commit) {
    if (!editor_) return false;
    HWND editor = editor_;
    editor_ = nullptr;
    RemoveHook();
    wchar_t text[kTextBuffer] = L"";
    GetWindowTextW(editor, text, kTextBuffer);
    DestroyWindow(editor);
    if (!commit || !current_ || editRow_ >= current_->Ids().size()) return false;
    std::wstring error;
    bool structure = false;
    const HRESULT hr = current_->Commit(current_->Ids()[editRow_], text, &error, &structure);
    ShowStatus(error);
    if (structure) return true;
    if (hr == S_OK) {
        FillList();
    } else {
        // Refused: the row shows the value the filter still has.
        muxpages::ParamView view;
        if (current_->Read(current_->Ids()[editRow_], &view)) WriteRow(editRow_, view, current_->Context());
    }
    return false;
}

void CM72PropertyPage::InstallHook() {
    if (hook_) return;
    hook_ = SetWindowsHookExW(WH_KEYBOARD, KeyboardHook, nullptr, GetCurrentThreadId());
    if (hook_) t_hookPage = this;
}

void CM72PropertyPage::RemoveHook() {
    if (hook_) UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
    if (t_hookPage == this) t_hookPage = nullptr;
}

// Enter and Escape end the edit (both apply the text); the frame must not
// see them as its OK or Cancel.
LRESULT CALLBACK CM72PropertyPage::KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    CM72PropertyPage* page = t_hookPage;
    if (code == HC_ACTION && page && page->editor_ && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
        const bool keyDown = (static_cast<DWORD>(lParam) & 0x80000000u) == 0;
        if (keyDown) PostMessageW(page->m_Dlg, kEndEditMessage, 0, 0);
        return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// ------------------------------------------------------------------ menus

void CM72PropertyPage::ShowContextMenu() {
    POINT screen;
    if (!GetCursorPos(&screen)) return;
    TVHITTESTINFO hit{};
    hit.pt = screen;
    ScreenToClient(tree_, &hit.pt);
    HTREEITEM item = TreeView_HitTest(tree_, &hit);
    if (item) TreeView_SelectItem(tree_, item);
    if (!current_) return;
    const muxpages::SubMenu which = muxpages::MenuFor(current_->Kind());
    if (which == muxpages::SubMenu::None) return;
    HMENU menu = LoadMenuW(AMGetModuleInstance(), MAKEINTRESOURCEW(IDM_CONTEXT));
    if (!menu) return;
    HMENU sub =
        GetSubMenu(menu, which == muxpages::SubMenu::Stream ? muxpages::kSubMenuStream : muxpages::kSubMenuProgram);
    const int command =
        sub ? TrackPopupMenu(sub, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, m_Dlg, nullptr) : 0;
    DestroyMenu(menu);
    if (command) RunCommand(command);
}

// A command on the selected node; the tree is rebuilt after it.
void CM72PropertyPage::RunCommand(int command) {
    EditorNode* node = current_;
    if (!node || !muxpages::CommandFits(node->Kind(), command)) return;
    EndEdit(true);
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = E_FAIL;
    switch (command) {
        case muxpages::kCmdCreateProgram:
            hr = config_->SetValue(&kAddProgram, &value);
            break;
        case muxpages::kCmdDeleteProgram:
            value.vt = VT_UNKNOWN;
            value.punkVal = node->Config();
            hr = config_->SetValue(&kRemoveProgram, &value);
            break;
        case muxpages::kCmdCreateStream:
            hr = node->Config()->SetValue(&kAddInput, &value);
            break;
        case muxpages::kCmdDeleteStream:
            value.vt = VT_UNKNOWN;
            value.punkVal = node->Config();
            if (node->Parent()) hr = node->Parent()->Config()->SetValue(&kRemoveInput, &value);
            break;
        default:
            break;
    }
    ShowStatus(FAILED(hr) ? Widen(muxpages::CommandRefusedText(command)) : std::wstring());
    RebuildTree();
}

// ------------------------------------------------------------------ dragging

void CM72PropertyPage::BeginDrag(const NMTREEVIEWW& info) {
    EditorNode* node = NodeOf(info.itemNew.hItem);
    if (!node || !muxpages::CanDrag(node->Kind()) || dragged_) return;
    EndEdit(true);
    dragImage_ = TreeView_CreateDragImage(tree_, info.itemNew.hItem);
    if (dragImage_ && ImageList_BeginDrag(dragImage_, 0, 0, 0))
        ImageList_DragEnter(tree_, info.ptDrag.x, info.ptDrag.y);
    dragged_ = node;
    dropTarget_ = nullptr;
    SetCapture(m_Dlg);
    SetCursor(LoadCursorW(nullptr, IDC_HAND));
}

void CM72PropertyPage::DragOver(POINT dialogPoint) {
    POINT p = dialogPoint;
    MapWindowPoints(m_Dlg, tree_, &p, 1);
    if (dragImage_) ImageList_DragMove(p.x, p.y);
    TVHITTESTINFO hit{};
    hit.pt = p;
    EditorNode* over = NodeOf(TreeView_HitTest(tree_, &hit));
    EditorNode* target = over && over->Kind() == muxpages::NodeKind::Program ? over : nullptr;
    if (target == dropTarget_) return;
    if (dragImage_) ImageList_DragShowNolock(FALSE);
    TreeView_SelectDropTarget(tree_, target ? target->item : nullptr);
    if (dragImage_) ImageList_DragShowNolock(TRUE);
    dropTarget_ = target;
}

void CM72PropertyPage::EndDrag(bool drop) {
    if (!dragged_) return;
    EditorNode* stream = dragged_;
    EditorNode* target = dropTarget_;
    dragged_ = dropTarget_ = nullptr;
    if (dragImage_) {
        ImageList_DragLeave(tree_);
        ImageList_EndDrag();
        ImageList_Destroy(dragImage_);
        dragImage_ = nullptr;
    }
    if (tree_) TreeView_SelectDropTarget(tree_, nullptr);
    if (GetCapture() == m_Dlg) ReleaseCapture();
    if (!drop || !target || !muxpages::DropMoves(target->Kind(), target, stream->Parent())) return;
    VARIANT program;
    VariantInit(&program);
    program.vt = VT_UNKNOWN;
    program.punkVal = target->Config();
    const HRESULT hr = stream->Config()->SetValue(&kAssignProgram, &program);
    ShowStatus(FAILED(hr) ? L"The stream could not move to that program" : L"");
    RebuildTree();
}

// ------------------------------------------------------------------ misc

void CM72PropertyPage::ShowStatus(const std::wstring& text) {
    if (m_Dlg) SetDlgItemTextW(m_Dlg, IDC_STATUS, text.c_str());
}

void CM72PropertyPage::MarkDirty() {
    m_bDirty = TRUE;
    if (m_pPageSite) m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

}  // namespace muxora
