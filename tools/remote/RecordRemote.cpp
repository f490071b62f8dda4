// Drives a running control program as a user would: presses Record on its
// panel, waits, presses Stop, and reports the messages it showed.
//   RecordRemote [--seconds N]
// Exit code 0 when a recording was made and stopped, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Panel points inside the Record and Stop boxes.
const POINT kRecord = {30, 130};
const POINT kStop = {65, 160};

void Click(HWND panel, POINT p) {
    PostMessageA(panel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    PostMessageA(panel, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

HWND WaitForWindow(const char* title, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 100) {
        if (HWND w = FindWindowA(nullptr, title)) return w;
        Sleep(100);
    }
    return nullptr;
}

BOOL CALLBACK FindStatic(HWND child, LPARAM out) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    char text[512] = {};
    if (lstrcmpiA(cls, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0) {
        *reinterpret_cast<std::string*>(out) = text;
        return FALSE;
    }
    return TRUE;
}

// A message box of the program: answered with OK, its text returned.
bool TakeMessageBox(std::string* text) {
    HWND box = FindWindowA("#32770", "Zelbo Message");
    if (!box) return false;
    Sleep(300);  // let the box finish building its controls
    char buffer[1024] = {};
    // A message box keeps its text in the static control 0xFFFF.
    if (GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer) > 0) {
        *text = buffer;
    } else {
        text->clear();
        EnumChildWindows(box, FindStatic, reinterpret_cast<LPARAM>(text));
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 50 && IsWindow(box); ++i) Sleep(100);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    HWND panel = WaitForWindow("Zelbo", 60000);
    if (!panel) {
        std::printf("the control panel did not appear\n");
        return 1;
    }
    // The options dialog, made hidden on the panel's first ticks, holds the
    // capture graph: Record works once it exists.
    if (!WaitForWindow("Vantor Settings", 60000)) {
        std::printf("the options dialog did not appear\n");
        return 1;
    }
    Sleep(500);
    Click(panel, kRecord);
    std::string text;
    // The graph starts a second after Record; a failure shows at once.
    for (int i = 0; i < 30; ++i) {
        Sleep(100);
        if (TakeMessageBox(&text)) {
            std::printf("message: %s\n", text.c_str());
            if (text.find("Recording Stopped") == std::string::npos) return 1;
        }
    }
    std::printf("recording for %d s\n", seconds);
    for (int t = 0; t < seconds * 10; ++t) {
        Sleep(100);
        if (TakeMessageBox(&text)) {
            std::printf("message: %s\n", text.c_str());
            return 1;
        }
    }
    Click(panel, kStop);
    for (int i = 0; i < 100; ++i) {
        Sleep(100);
        if (TakeMessageBox(&text)) {
            std::printf("message: %s\n", text.c_str());
            return text.find("Recording Stopped") == 0 ? 0 : 1;
        }
    }
    std::printf("no confirmation after Stop\n");
    return 1;
}
