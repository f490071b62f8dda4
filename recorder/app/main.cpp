// Zelbo, the control program: single instance, hidden main frame, panel.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "platform/mfc/App.h"
#include "recorder/app/MainWindow.h"
#include "recorder/app/Program.h"
#include "recorder/app/UpdateCheckThreads.h"

namespace zelbo {

class Vantor : public mfc::WinApp {
public:
    bool InitInstance() override {
        if (::FindWindowW(nullptr, L"Vantor")) {
            ShowMessage("Vantor is already running");
            return false;
        }
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        ::InitCommonControlsEx(&controls);
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        StartWinSock();
        StoreProgramFolder();
        if (!frame_.Create()) return false;
        SetMainWindow(&frame_);
        frame_.Show(SW_SHOWNORMAL);
        frame_.Update();
        return true;
    }

private:
    zelbo::MainWindow frame_;
};

}  // namespace zelbo

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    zelbo::RegisterMessages();
    static zelbo::Vantor app;
    return mfc::WinApp::Main(instance);
}
