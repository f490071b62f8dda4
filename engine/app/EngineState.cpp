#include "engine/app/EngineState.h"

#include <cstdio>
#include <cstdlib>

namespace zelbov {

EngineState& Engine() {
    static EngineState state;
    return state;
}

engine::StopFlags& Flags() {
    return Engine().life->Flags();
}

void Trace(const std::string& line) {
    ::OutputDebugStringA(line.c_str());
    const char* path = std::getenv("ZELBOV_TRACE");
    if (!path || !*path) return;
    if (FILE* file = std::fopen(path, "ab")) {
        std::fputs(line.c_str(), file);
        std::fclose(file);
    }
}

int ShowEngineMessage(const std::string& text, UINT extra) {
    Trace("\r\nMESSAGE " + text);
    return ::MessageBoxA(nullptr, text.c_str(), "Vantor Message", MB_ICONWARNING | MB_TASKMODAL | MB_TOPMOST | extra);
}

void SendCode(int code) {
    Trace("\r\nCODE " + std::to_string(code));
    if (Engine().control) ::SendMessageA(Engine().control, Engine().messages.screenCapture, code, 0);
}

void PostCode(int code) {
    Trace("\r\nCODE " + std::to_string(code));
    if (HWND control = ::FindWindowA(nullptr, "Vantor"))
        ::PostMessageA(control, Engine().messages.screenCapture, code, 0);
}

}  // namespace zelbov
