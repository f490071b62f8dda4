// The application object: one per program, started from WinMain.
#pragma once

#include <windows.h>

namespace mfc {

class Wnd;

class WinApp {
public:
    WinApp();
    virtual ~WinApp();
    WinApp(const WinApp&) = delete;
    WinApp& operator=(const WinApp&) = delete;

    static WinApp* Current();

    // Set-up; false ends the program at once.
    virtual bool InitInstance() = 0;
    // The message loop after a successful InitInstance.
    virtual int Run();
    virtual int ExitInstance(int code) { return code; }

    HINSTANCE Instance() const { return instance_; }
    Wnd* MainWindow() const { return mainWindow_; }
    void SetMainWindow(Wnd* window) { mainWindow_ = window; }

    // InitInstance, Run and ExitInstance of the current application.
    static int Main(HINSTANCE instance);

private:
    HINSTANCE instance_ = nullptr;
    Wnd* mainWindow_ = nullptr;
};

}  // namespace mfc
