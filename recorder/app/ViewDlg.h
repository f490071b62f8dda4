// "Saved recordings": the recording folder's files in a list the user sorts,
// plays, renames and deletes from. Modeless, one at a time, made by the
// panel's browser button and gone when closed.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "platform/mfc/Dialog.h"
#include "recorder/core/RecordingList.h"

namespace zelbo {

class ViewDlg : public mfc::Dialog {
public:
    // Focuses the open browser, or opens one on `folder`.
    static void Open(const std::string& folder);
    static bool IsOpen();

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnDestroyed() override;

private:
    explicit ViewDlg(std::string folder);

    HWND List() const { return Item(IDC_LIST); }
    void Fill();
    void ShowRows();
    void OnNotify(const NMHDR& header);
    void OnRightClick(const NMITEMACTIVATE& click);
    int FirstSelected() const;
    void Play();
    void Rename();
    void DeleteSelected();

    static const int IDC_LIST;
    std::string folder_;
    std::vector<recorder::RecordingRow> rows_;  // in the list's order
};

}  // namespace zelbo
