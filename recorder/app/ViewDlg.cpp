#include "recorder/app/ViewDlg.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>

#include "recorder/app/ChangeDlg.h"
#include "recorder/app/MainDlg.h"
#include "recorder/app/PanelColours.h"
#include "recorder/app/Program.h"
#include "recorder/app/resource.h"

namespace zelbo {

namespace {

using recorder::RecordingColumn;
using recorder::RecordingRow;

struct Column {
    const char* title;
    int width;  // pixels
};
const Column kColumns[] = {{"File Name", 140}, {"Type", 50}, {"Size (MB)", 70}, {"Modified", 100}};
const int kMenuLift = 10;  // the context menu opens this much above the pointer

ViewDlg* g_view = nullptr;

recorder::LocalTime ToLocalTime(const FILETIME& written) {
    FILETIME local{};
    SYSTEMTIME t{};
    recorder::LocalTime result;
    if (!::FileTimeToLocalFileTime(&written, &local) || !::FileTimeToSystemTime(&local, &t)) return result;
    result = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
    return result;
}

std::string ColumnText(const RecordingRow& row, int column) {
    switch (static_cast<RecordingColumn>(column)) {
        case RecordingColumn::Name:
            return row.name;
        case RecordingColumn::Type:
            return recorder::TypeText(row.name);
        case RecordingColumn::Size:
            return recorder::SizeText(row.size);
        case RecordingColumn::Modified:
            return recorder::ModifiedText(row.modified);
    }
    return std::string();
}

void SetItemText(HWND list, int item, int column, const std::string& text) {
    LVITEMA lv{};
    lv.iSubItem = column;
    lv.pszText = const_cast<char*>(text.c_str());
    ::SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

}  // namespace

const int ViewDlg::IDC_LIST = IDC_VIEW_LIST;

ViewDlg::ViewDlg(std::string folder) : mfc::Dialog(IDD_VIEW), folder_(std::move(folder)) {}

void ViewDlg::Open(const std::string& folder) {
    if (g_view && g_view->Exists()) {
        ::SetForegroundWindow(g_view->Handle());
        return;
    }
    g_view = new ViewDlg(folder);
    if (!g_view->CreateModeless(ThePanel().Handle())) {
        delete g_view;
        g_view = nullptr;
        ShowMessage("Cannot open the recordings browser");
        return;
    }
    g_view->Show(SW_SHOWNORMAL);
}

bool ViewDlg::IsOpen() {
    return g_view && g_view->Exists();
}

BOOL ViewDlg::OnInitDialog() {
    ::SendMessageA(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    Fill();
    return TRUE;
}

void ViewDlg::OnCancel() {
    Destroy();
    ThePanel().RedrawPanel();
}

void ViewDlg::OnDestroyed() {
    if (g_view == this) g_view = nullptr;
    delete this;
}

void ViewDlg::Fill() {
    HWND list = List();
    const HCURSOR previous = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    ::SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    while (::SendMessageA(list, LVM_DELETECOLUMN, 0, 0)) {}
    ::SendMessageA(list, LVM_SETBKCOLOR, 0, kBoxColour);
    ::SendMessageA(list, LVM_SETTEXTBKCOLOR, 0, kBoxColour);
    ::SendMessageA(list, LVM_SETTEXTCOLOR, 0, kBoxText);
    for (int i = 0; i < static_cast<int>(sizeof kColumns / sizeof kColumns[0]); ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(kColumns[i].title);
        column.cx = kColumns[i].width;
        column.iSubItem = i;
        ::SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    ::SetDlgItemTextA(Handle(), IDC_VIEW_FOLDER, ("Saved recordings folder (" + folder_ + ")").c_str());

    rows_.clear();
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((folder_ + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        ::SetCursor(previous);
        ShowMessage("Cannot find directory " + folder_);
        return;
    }
    do {
        const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!recorder::IsListedEntry(found.cFileName, directory)) continue;
        RecordingRow row;
        row.name = found.cFileName;
        row.size = (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        row.modified = ToLocalTime(found.ftLastWriteTime);
        rows_.push_back(row);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    recorder::SortRows(rows_, recorder::kInitialSortColumn);
    ShowRows();
    ::SetCursor(previous);
}

void ViewDlg::ShowRows() {
    HWND list = List();
    ::SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<char*>(rows_[static_cast<std::size_t>(i)].name.c_str());
        const int at = static_cast<int>(::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        for (int column = 1; column < 4; ++column)
            SetItemText(list, at, column, ColumnText(rows_[static_cast<std::size_t>(i)], column));
    }
}

int ViewDlg::FirstSelected() const {
    return static_cast<int>(::SendMessageA(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ViewDlg::Play() {
    const int selected = FirstSelected();
    if (selected < 0 || selected >= static_cast<int>(rows_.size())) {
        ShowMessage("No items selected");
        return;
    }
    const std::string name = rows_[static_cast<std::size_t>(selected)].name;
    const std::string target = folder_ + "\\" + name;
    Destroy();  // deletes this
    MainDlg& panel = ThePanel();
    panel.SetStatus("Play: " + name);
    if (TheSettings().player == 0)
        panel.PlayFile(target);
    else
        OpenWithShell(target);
}

void ViewDlg::Rename() {
    const int selected = FirstSelected();
    if (selected < 0 || selected >= static_cast<int>(rows_.size())) {
        ShowMessage("No items selected");
        return;
    }
    RecordingRow& row = rows_[static_cast<std::size_t>(selected)];
    ChangeDlg change(row.name);
    if (change.DoModal(Handle()) != IDOK) return;
    // A new name never leads out of the recording folder.
    if (!recorder::IsAcceptableNewName(change.Text()) ||
        !::MoveFileA((folder_ + "\\" + row.name).c_str(), (folder_ + "\\" + change.Text()).c_str())) {
        ShowMessage("Could not rename file");
        return;
    }
    row.name = change.Text();
    SetItemText(List(), selected, 0, row.name);
}

void ViewDlg::DeleteSelected() {
    const int count = static_cast<int>(::SendMessageA(List(), LVM_GETSELECTEDCOUNT, 0, 0));
    if (count <= 0) {
        ShowMessage("No items selected");
        return;
    }
    char question[64];
    std::snprintf(question, sizeof question, "Permanently delete %d file(s) ?", count);
    if (ShowMessage(question, MB_YESNO) != IDYES) return;
    for (int i = FirstSelected(); i >= 0 && i < static_cast<int>(rows_.size());
         i = static_cast<int>(::SendMessageA(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) {
        // A file that cannot go stays, and is listed again below.
        ::DeleteFileA((folder_ + "\\" + rows_[static_cast<std::size_t>(i)].name).c_str());
    }
    Fill();
}

void ViewDlg::OnRightClick(const NMITEMACTIVATE& click) {
    // Clicks outside every row open no menu.
    if (click.iItem < 0) return;
    POINT at = click.ptAction;
    ::ClientToScreen(List(), &at);
    HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_VIEW_CONTEXT));
    if (!menu) return;
    ::TrackPopupMenu(::GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y - kMenuLift, 0, Handle(),
                     nullptr);
    ::DestroyMenu(menu);
}

void ViewDlg::OnNotify(const NMHDR& header) {
    if (header.idFrom != static_cast<UINT_PTR>(IDC_LIST)) return;
    switch (header.code) {
        case NM_DBLCLK:
            Play();
            return;
        case NM_RCLICK:
            OnRightClick(reinterpret_cast<const NMITEMACTIVATE&>(header));
            return;
        case LVN_COLUMNCLICK: {
            const NMLISTVIEW& click = reinterpret_cast<const NMLISTVIEW&>(header);
            if (click.iSubItem < 0 || click.iSubItem > 3) return;
            recorder::SortRows(rows_, static_cast<RecordingColumn>(click.iSubItem));
            ShowRows();
            return;
        }
        default:
            return;
    }
}

bool ViewDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_NOTIFY) {
        OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        result = 0;
        return true;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
            case ID_VIEW_PLAY:
                Play();
                return true;
            case ID_VIEW_RENAME:
                Rename();
                return true;
            case ID_VIEW_DELETE:
                DeleteSelected();
                return true;
            case ID_VIEW_REFILL:
                Fill();
                return true;
            case ID_VIEW_OPEN_FOLDER:
                OpenWithShell(folder_);
                return true;
            default:
                break;
        }
    }
    return mfc::Dialog::OnMessage(message, wParam, lParam, result);
}

}  // namespace zelbo
