// "Change Item": one edit for a new name, OK and Cancel.
#pragma once

#include <string>

#include "platform/mfc/Dialog.h"

namespace zelbo {

class ChangeDlg : public mfc::Dialog {
public:
    explicit ChangeDlg(std::string text);
    const std::string& Text() const { return text_; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    std::string text_;
};

}  // namespace zelbo
