// Wavrel, the level meter: hidden frame, meter window, wave input.
#include <windows.h>

#include <commctrl.h>

#include "levelmeter/app/Meter.h"
#include "levelmeter/app/MeterFrame.h"
#include "platform/mfc/App.h"

namespace wavrel {

class MeterApp : public mfc::WinApp {
public:
    explicit MeterApp(const char* arguments) : arguments_(arguments ? arguments : "") {}

    bool InitInstance() override {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
        ::InitCommonControlsEx(&controls);
        StoreProgramFolder();
        const CommandWords words = SplitCommandLine(arguments_);
        for (const std::string& text : words.overflowMessages) ShowMessage(text);
        State().options = ScanStartOptions(words.words);
        if (!frame_.Create()) return false;
        SetMainWindow(&frame_);
        return true;
    }

private:
    std::string arguments_;
    MeterFrame frame_;
};

}  // namespace wavrel

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    wavrel::RegisterMessages();
    static wavrel::MeterApp app(arguments);
    return mfc::WinApp::Main(instance);
}
