#include "platform/mfc/Dialog.h"

namespace mfc {

INT_PTR Dialog::DoModal(HWND parent) {
    modal_ = true;
    const INT_PTR code = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent,
                                           &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
    modal_ = false;
    return code;
}

bool Dialog::CreateModeless(HWND parent) {
    modal_ = false;
    return ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent, &Dialog::DialogProc,
                                reinterpret_cast<LPARAM>(this)) != nullptr;
}

void Dialog::EndModal(INT_PTR code) {
    if (modal_ && hwnd_) ::EndDialog(hwnd_, code);
}

void Dialog::OnOK() {
    if (modal_)
        EndModal(IDOK);
    else
        Show(SW_HIDE);
}

void Dialog::OnCancel() {
    if (modal_)
        EndModal(IDCANCEL);
    else
        Show(SW_HIDE);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = static_cast<Dialog*>(FromHandle(hwnd));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->Attach(hwnd);
        return self->OnInitDialog();
    }
    if (!self) return FALSE;

    LRESULT result = 0;
    bool handled = self->OnMessage(message, wParam, lParam, result);
    if (!handled && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            self->OnOK();
            handled = true;
        } else if (LOWORD(wParam) == IDCANCEL) {
            self->OnCancel();
            handled = true;
        }
    }
    if (message == WM_NCDESTROY) {
        self->Detach();
        self->OnDestroyed();
    }
    if (!handled) return FALSE;
    // These messages answer through the return value itself.
    if ((message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_COMPAREITEM ||
        message == WM_VKEYTOITEM || message == WM_CHARTOITEM || message == WM_QUERYDRAGICON)
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace mfc
