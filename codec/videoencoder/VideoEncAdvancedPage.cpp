// The advanced settings page: one list row per visible writable parameter,
// an in-place editor over the value cell, and a thread that redraws the rows
// after each change notice.
#include "codec/videoencoder/VideoEncPages.h"

#include "codec/paramkit/UString.h"
#include "codec/videoencoder/VideoEncPageRules.h"
#include "codec/videoencoder/VideoEncParams.h"
#include "codec/videoencoder/VidrelResource.h"

#include <commctrl.h>

#include <new>
#include <optional>
#include <string>

using namespace vidpage;

namespace {

// The editors tell the page that a value was taken.
constexpr UINT kValueTakenMessage = WM_USER + 101;
constexpr DWORD kRefreshStepMs = 100;
constexpr int kComboDropHeight = 280;
constexpr int kNameColumn = 0;
constexpr int kValueColumn = 1;
constexpr int kEditorText = 1024;
const wchar_t kPageProperty[] = L"VidrelAdvancedPage";

ValueKind KindOf(VARTYPE vt) {
    switch (vt) {
        case VT_R8:
            return ValueKind::Real8;
        case VT_R4:
            return ValueKind::Real4;
        case VT_CY:
            return ValueKind::Currency;
        case VT_BOOL:
            return ValueKind::Bool;
        case VT_I8:
            return ValueKind::Int64;
        case VT_UI8:
            return ValueKind::UInt64;
        case VT_BSTR:
            return ValueKind::Text;
        default:
            return ValueKind::Integer;
    }
}

// The pending value as the list shows an unnamed one.
Value ValueOf(VARIANT* v) {
    Value out;
    out.kind = KindOf(v->vt);
    VARIANT c;
    VariantInit(&c);
    switch (out.kind) {
        case ValueKind::Real8:
        case ValueKind::Real4:
        case ValueKind::Currency:
            if (SUCCEEDED(VariantChangeType(&c, v, 0, VT_R8))) out.real = c.dblVal;
            break;
        case ValueKind::Text:
            out.text = ModuleConfig::WideToAnsi(v->bstrVal ? v->bstrVal : L"");
            break;
        case ValueKind::Bool:
            out.integer = v->boolVal != VARIANT_FALSE;
            break;
        default:
            if (SUCCEEDED(VariantChangeType(&c, v, 0, VT_I8))) out.integer = c.llVal;
            break;
    }
    VariantClear(&c);
    return out;
}

// The parsed editor text as a VARIANT of the pending value's type.
bool ToVariant(const Value& parsed, VARTYPE vt, VARIANT* out) {
    VariantInit(out);
    VARIANT source;
    VariantInit(&source);
    switch (parsed.kind) {
        case ValueKind::Real8:
        case ValueKind::Real4:
        case ValueKind::Currency:
            source.vt = VT_R8;
            source.dblVal = parsed.real;
            break;
        case ValueKind::Integer:
        case ValueKind::Int64:
        case ValueKind::UInt64:
            source.vt = VT_I8;
            source.llVal = parsed.integer;
            break;
        default:
            source.vt = VT_BSTR;
            source.bstrVal = SysAllocString(ModuleConfig::AnsiToWide(parsed.text.c_str()).c_str());
            if (source.bstrVal == nullptr) return false;
            break;
    }
    HRESULT hr = VariantChangeType(out, &source, 0, vt);
    VariantClear(&source);
    return SUCCEEDED(hr);
}

std::string WindowText(HWND hwnd) {
    char text[kEditorText] = "";
    GetWindowTextA(hwnd, text, kEditorText);
    return text;
}

}  // namespace

CUnknown* WINAPI VideoEncAdvancedPage::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    auto* page = new (std::nothrow) VideoEncAdvancedPage(pUnk);
    if (page == nullptr && phr) *phr = E_OUTOFMEMORY;
    return page;
}

VideoEncAdvancedPage::VideoEncAdvancedPage(LPUNKNOWN pUnk)
    : VideoEncSettingsPage(NAME("MPEG-2 Video Encoder Advanced Page"), pUnk, IDD_VIDREL_ADVANCED, IDS_VIDREL_ADVANCED) {
}

VideoEncAdvancedPage::~VideoEncAdvancedPage() {
    StopRefresh();
}

void VideoEncAdvancedPage::BuildRows() {
    rows_.clear();
    long count = 0;
    if (!config_ || FAILED(config_->EnumParams(&count, nullptr)) || count <= 0) return;
    std::vector<GUID> ids(static_cast<size_t>(count));
    if (FAILED(config_->EnumParams(&count, ids.data()))) return;
    for (const GUID& id : ids) {
        Row row;
        if (FAILED(config_->GetParamConfig(&id, row.param.Put()))) continue;
        BOOL visible = FALSE, readOnly = TRUE;
        if (FAILED(row.param->GetVisible(&visible)) || FAILED(row.param->GetReadOnly(&readOnly))) continue;
        if (IsListed(visible != FALSE, readOnly != FALSE)) rows_.push_back(row);
    }
}

std::string VideoEncAdvancedPage::ValueText(IParamConfig* param) {
    VARIANT v;
    VariantInit(&v);
    if (FAILED(param->GetValue(&v, FALSE))) return std::string();
    BSTR name = nullptr;
    std::string text;
    if (param->ValueToName(&v, &name) == S_OK && name)
        text = ModuleConfig::WideToAnsi(name);
    else
        text = FormatValue(ValueOf(&v));
    SysFreeString(name);
    VariantClear(&v);
    return text;
}

void VideoEncAdvancedPage::RedrawRow(int row) {
    if (list_ == NULL || row < 0 || row >= static_cast<int>(rows_.size())) return;
    std::string text = ValueText(rows_[static_cast<size_t>(row)].param.Get());
    LVITEMA item = {};
    item.iSubItem = kValueColumn;
    item.pszText = &text[0];
    SendMessageA(list_, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void VideoEncAdvancedPage::RedrawAll() {
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i) RedrawRow(i);
}

HRESULT VideoEncAdvancedPage::OnActivate() {
    list_ = GetDlgItem(m_Dlg, IDC_PARAM_LIST);
    if (list_ == NULL) return E_FAIL;
    SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT client = {};
    GetClientRect(list_, &client);
    const int half = (client.right - client.left) / 2;
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = half;
    column.pszText = const_cast<char*>("Parameter");
    SendMessageA(list_, LVM_INSERTCOLUMNA, kNameColumn, reinterpret_cast<LPARAM>(&column));
    column.pszText = const_cast<char*>("Value");
    SendMessageA(list_, LVM_INSERTCOLUMNA, kValueColumn, reinterpret_cast<LPARAM>(&column));
    BuildRows();
    for (size_t i = 0; i < rows_.size(); ++i) {
        BSTR name = nullptr;
        std::string text;
        if (SUCCEEDED(rows_[i].param->GetName(&name)) && name) text = ModuleConfig::WideToAnsi(name);
        SysFreeString(name);
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = &text[0];
        item.lParam = static_cast<LPARAM>(i);
        SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    RedrawAll();
    // Releasing the space key opens the editor too: the list's own keys are watched.
    SetPropW(list_, kPageProperty, this);
    listProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&VideoEncAdvancedPage::ListProc)));

    invalidate_ = CreateEventW(NULL, FALSE, FALSE, NULL);
    terminate_ = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (invalidate_ && terminate_) thread_ = CreateThread(NULL, 0, &VideoEncAdvancedPage::RefreshThread, this, 0, NULL);
    if (thread_ == NULL) {
        StopRefresh();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT VideoEncAdvancedPage::OnDeactivate() {
    CloseEditor(false);
    StopRefresh();
    if (list_ && listProc_) {
        SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProc_));
        RemovePropW(list_, kPageProperty);
    }
    listProc_ = nullptr;
    list_ = NULL;
    rows_.clear();
    return S_OK;
}

// Signals the thread and waits for it to end. The thread may be sending a
// message to the list meanwhile, so sent messages are served while waiting.
void VideoEncAdvancedPage::StopRefresh() {
    if (thread_) {
        SetEvent(terminate_);
        for (;;) {
            DWORD r = MsgWaitForMultipleObjects(1, &thread_, FALSE, INFINITE, QS_SENDMESSAGE);
            if (r != WAIT_OBJECT_0 + 1) break;
            MSG msg;
            PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(thread_);
        thread_ = NULL;
    }
    if (invalidate_) CloseHandle(invalidate_);
    if (terminate_) CloseHandle(terminate_);
    invalidate_ = terminate_ = NULL;
}

DWORD WINAPI VideoEncAdvancedPage::RefreshThread(LPVOID self) {
    auto* page = static_cast<VideoEncAdvancedPage*>(self);
    const HANDLE events[] = {page->terminate_, page->invalidate_};
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, events, FALSE, kRefreshStepMs);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return 0;
        if (r == WAIT_OBJECT_0 + 1) page->RedrawAll();
    }
}

STDMETHODIMP VideoEncAdvancedPage::OnModuleChanged(long, const GUID*) {
    if (invalidate_) SetEvent(invalidate_);
    HWND list = list_;
    if (list) EnableWindow(list, CommittedInt(vidcore::P_IsRunning) == 0);
    return S_OK;
}

void VideoEncAdvancedPage::OpenEditor(int row) {
    CloseEditor(true);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || !IsWindowEnabled(list_)) return;
    IParamConfig* param = rows_[static_cast<size_t>(row)].param.Get();
    BOOL readOnly = TRUE;
    if (FAILED(param->GetReadOnly(&readOnly)) || readOnly) return;
    RECT cell = {};
    cell.top = kValueColumn;
    cell.left = LVIR_BOUNDS;
    if (!SendMessageA(list_, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell))) return;
    MapWindowPoints(list_, m_Dlg, reinterpret_cast<POINT*>(&cell), 2);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(list_, WM_GETFONT, 0, 0));

    long count = 0;
    editorIsCombo_ = param->EnumValidValues(&count, nullptr, nullptr) == S_FALSE && count > 0;
    const int width = cell.right - cell.left;
    if (editorIsCombo_) {
        editor_ = CreateWindowExA(0, "ComboBox", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, cell.left,
                                  cell.top, width, kComboDropHeight, m_Dlg,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PARAM_EDITOR)), NULL, NULL);
        if (editor_ == NULL) return;
        SendMessageA(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        std::vector<VARIANT> values(static_cast<size_t>(count));
        std::vector<BSTR> names(static_cast<size_t>(count), nullptr);
        for (VARIANT& v : values) VariantInit(&v);
        if (SUCCEEDED(param->EnumValidValues(&count, values.data(), names.data())))
            for (BSTR name : names)
                SendMessageA(editor_, CB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(ModuleConfig::WideToAnsi(name ? name : L"").c_str()));
        for (VARIANT& v : values) VariantClear(&v);
        for (BSTR name : names) SysFreeString(name);
        const std::string current = ValueText(param);
        SendMessageA(editor_, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(current.c_str()));
    } else {
        const std::string current = ValueText(param);
        editor_ = CreateWindowExA(0, "Edit", current.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                  cell.left, cell.top, width, cell.bottom - cell.top, m_Dlg,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PARAM_EDITOR)), NULL, NULL);
        if (editor_ == NULL) return;
        SendMessageA(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        const int end = GetWindowTextLengthA(editor_);
        SendMessageA(editor_, EM_SETSEL, static_cast<WPARAM>(end), end);
    }
    editorRow_ = row;
    SetWindowPos(editor_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetPropW(editor_, kPageProperty, this);
    editorProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(editor_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&VideoEncAdvancedPage::EditorProc)));
    SetFocus(editor_);
}

bool VideoEncAdvancedPage::AcceptEditor() {
    IParamConfig* param = rows_[static_cast<size_t>(editorRow_)].param.Get();
    VARIANT v;
    VariantInit(&v);
    bool taken = false;
    if (editorIsCombo_) {
        const LRESULT i = SendMessageA(editor_, CB_GETCURSEL, 0, 0);
        char text[kEditorText] = "";
        if (i != CB_ERR && SendMessageA(editor_, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < kEditorText) {
            SendMessageA(editor_, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            BSTR name = SysAllocString(ModuleConfig::AnsiToWide(text).c_str());
            if (name && param->NameToValue(name, &v) == S_OK) taken = SUCCEEDED(param->SetValue(&v, FALSE));
            SysFreeString(name);
        }
    } else {
        VARIANT pending;
        VariantInit(&pending);
        if (SUCCEEDED(param->GetValue(&pending, FALSE))) {
            // A text that does not parse is refused: the old value stays.
            std::optional<Value> parsed = ParseValue(KindOf(pending.vt), WindowText(editor_));
            if (parsed && ToVariant(*parsed, pending.vt, &v)) taken = SUCCEEDED(param->SetValue(&v, FALSE));
        }
        VariantClear(&pending);
    }
    VariantClear(&v);
    if (!taken) MessageBeep(MB_ICONWARNING);
    return taken;
}

void VideoEncAdvancedPage::CloseEditor(bool accept) {
    if (editor_ == NULL || closing_) return;
    closing_ = true;
    const bool taken = accept && AcceptEditor();
    HWND editor = editor_;
    editor_ = NULL;
    SetWindowLongPtrW(editor, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editorProc_));
    RemovePropW(editor, kPageProperty);
    DestroyWindow(editor);
    const int row = editorRow_;
    editorRow_ = -1;
    closing_ = false;
    RedrawRow(row);
    if (taken) PostMessageW(m_Dlg, kValueTakenMessage, 0, 0);
    if (list_) SetFocus(list_);
}

LRESULT CALLBACK VideoEncAdvancedPage::EditorProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* page = static_cast<VideoEncAdvancedPage*>(GetPropW(hwnd, kPageProperty));
    if (page == nullptr) return DefWindowProcW(hwnd, uMsg, wParam, lParam);
    WNDPROC base = page->editorProc_;
    if (uMsg == WM_GETDLGCODE) return CallWindowProcW(base, hwnd, uMsg, wParam, lParam) | DLGC_WANTALLKEYS;
    if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_TAB || wParam == VK_ESCAPE)) {
        // A closed drop-down list keeps Escape and Enter for the editor.
        page->CloseEditor(wParam != VK_ESCAPE);
        return 0;
    }
    if (uMsg == WM_CHAR && (wParam == '\r' || wParam == '\t' || wParam == 0x1B)) return 0;
    return CallWindowProcW(base, hwnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK VideoEncAdvancedPage::ListProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* page = static_cast<VideoEncAdvancedPage*>(GetPropW(hwnd, kPageProperty));
    if (page == nullptr) return DefWindowProcW(hwnd, uMsg, wParam, lParam);
    if (uMsg == WM_KEYUP && wParam == VK_SPACE) {
        const int row = static_cast<int>(SendMessageA(hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        page->OpenEditor(row);
        return 0;
    }
    return CallWindowProcW(page->listProc_, hwnd, uMsg, wParam, lParam);
}

INT_PTR VideoEncAdvancedPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
        case kValueTakenMessage:
            MarkDirty();
            return TRUE;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<NMHDR*>(lParam);
            if (hdr && hdr->idFrom == IDC_PARAM_LIST && hdr->code == NM_DBLCLK) {
                OpenEditor(reinterpret_cast<NMITEMACTIVATE*>(lParam)->iItem);
                return TRUE;
            }
            break;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_PARAM_EDITOR && editor_) {
                const UINT code = HIWORD(wParam);
                // Choosing an entry closes the list; losing the focus accepts.
                if ((editorIsCombo_ && (code == CBN_SELENDOK || code == CBN_KILLFOCUS)) ||
                    (!editorIsCombo_ && code == EN_KILLFOCUS))
                    CloseEditor(true);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return VideoEncSettingsPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}
