// Zelbov, the recording engine: started hidden by the control program with
// the whole recording job on its command line.
#include <windows.h>

#include <string>

#include "engine/app/EngineState.h"
#include "engine/app/MainWindow.h"
#include "engine/core/CommandLine.h"
#include "platform/mfc/Pump.h"

namespace {

std::string ModuleFolder() {
    char path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace zelbov;
    EngineState& e = Engine();
    e.programFolder = ModuleFolder();
    e.messages.screenCapture = ::RegisterWindowMessageA("screen capture message");
    e.messages.wsaSelect = ::RegisterWindowMessageA("WSASelect message");
    e.messages.setSonifer = ::RegisterWindowMessageA("set sonifer record");
    e.messages.packetReady = ::RegisterWindowMessageA("packet ready");

    engine::WordTable table;
    const std::vector<std::string> words = engine::SplitCommandLine(::GetCommandLineA(), true);
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string refusal;
        if (!table.Add(words[i], i + 1 == words.size(), refusal)) ShowEngineMessage(refusal);
    }
    e.settings = engine::PairKeys(table.Words());
    static engine::Lifecycle life(e.settings.Records());
    e.life = &life;
    e.control = ::FindWindowA(nullptr, "Vantor");

    if (e.settings.file.empty()) {
        if (ShowEngineMessage("No file name provided.\n\nContinue?", MB_YESNO) != IDYES) return 0;
        e.settings.file = e.programFolder + "\\Zlb_New.mpg";
    }
    e.target = Widen(e.settings.file).substr(0, MAX_PATH);
    if (!CreateMainWindow(instance)) return 0;
    return mfc::RunMessageLoop();
}
