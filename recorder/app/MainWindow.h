// The hidden main frame "Vantor" and the splash screen.
#pragma once

#include "platform/mfc/Dialog.h"
#include "platform/mfc/Wnd.h"

namespace zelbo {

class SplashDlg : public mfc::Dialog {
public:
    SplashDlg();

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void Close();
    int ticks_ = 0;
};

class MainWindow : public mfc::FrameWnd {
public:
    bool Create();

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

}  // namespace zelbo
