// A dialog from a resource template, modal or modeless, with virtual
// initialisation, OK/Cancel and message dispatch.
#pragma once

#include "platform/mfc/Wnd.h"

namespace mfc {

class Dialog : public Wnd {
public:
    explicit Dialog(int templateId) : templateId_(templateId) {}

    INT_PTR DoModal(HWND parent);
    bool CreateModeless(HWND parent);
    bool IsModal() const { return modal_; }
    void EndModal(INT_PTR code);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK();
    virtual void OnCancel();

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    int templateId_;
    bool modal_ = false;
};

}  // namespace mfc
