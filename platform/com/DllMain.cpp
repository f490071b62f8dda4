// Kept alone in its object file: the linker takes it only for a DLL that
// defines no DllMain itself.
#include "platform/dshow/BaseClasses.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pv) {
    return DllEntryPoint(hInstance, dwReason, pv);
}
