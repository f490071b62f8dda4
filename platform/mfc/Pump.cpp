#include "platform/mfc/Pump.h"

namespace mfc {

namespace {

// Wakes at least this often while waiting, so time limits are honoured even
// when no message arrives.
const DWORD kSlice = 10;

}  // namespace

int PumpPendingMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return 0;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 1;
}

void PumpMessagesFor(DWORD milliseconds) {
    const ULONGLONG start = ::GetTickCount64();
    while (::GetTickCount64() - start <= milliseconds) {
        if (!PumpPendingMessages()) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kSlice, QS_ALLINPUT);
    }
}

bool PumpMessagesUntil(bool (*done)(void*), void* context, DWORD milliseconds) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (done(context)) return true;
        if (::GetTickCount64() - start > milliseconds) return false;
        if (!PumpPendingMessages()) return done(context);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kSlice, QS_ALLINPUT);
    }
}

int RunMessageLoop() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

int MessageBoxText(HWND owner, const char* text, const char* caption, UINT flags) {
    return ::MessageBoxA(owner, text, caption, flags);
}

}  // namespace mfc
