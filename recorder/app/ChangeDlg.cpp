#include "recorder/app/ChangeDlg.h"

#include <vector>

#include "recorder/app/resource.h"

namespace zelbo {

namespace {
const int kMaxNameLength = 260;
}

ChangeDlg::ChangeDlg(std::string text) : mfc::Dialog(IDD_CHANGE), text_(std::move(text)) {}

BOOL ChangeDlg::OnInitDialog() {
    ::SetDlgItemTextA(Handle(), IDC_CHANGE_NAME, text_.c_str());
    ::SendDlgItemMessageA(Handle(), IDC_CHANGE_NAME, EM_LIMITTEXT, kMaxNameLength, 0);
    return TRUE;
}

void ChangeDlg::OnOK() {
    std::vector<char> text(kMaxNameLength + 1, 0);
    ::GetDlgItemTextA(Handle(), IDC_CHANGE_NAME, text.data(), static_cast<int>(text.size()));
    text_ = text.data();
    mfc::Dialog::OnOK();
}

}  // namespace zelbo
