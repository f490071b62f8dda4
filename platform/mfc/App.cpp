#include "platform/mfc/App.h"

#include "platform/mfc/Pump.h"

namespace mfc {

namespace {
WinApp* g_current = nullptr;
}

WinApp::WinApp() {
    g_current = this;
}

WinApp::~WinApp() {
    if (g_current == this) g_current = nullptr;
}

WinApp* WinApp::Current() {
    return g_current;
}

int WinApp::Run() {
    return RunMessageLoop();
}

int WinApp::Main(HINSTANCE instance) {
    WinApp* app = Current();
    if (!app) return 1;
    app->instance_ = instance;
    if (!app->InitInstance()) return app->ExitInstance(0);
    return app->ExitInstance(app->Run());
}

}  // namespace mfc
