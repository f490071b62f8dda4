#include "platform/com/EngineLoader.h"

#include <string>

extern HINSTANCE g_hInst;

HMODULE LoadLibraryBesideModule(const wchar_t* fileName) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(g_hInst, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::wstring dir(path, n);
        size_t slash = dir.find_last_of(L"\\/");
        if (slash != std::wstring::npos) {
            dir.resize(slash + 1);
            if (HMODULE m = LoadLibraryW((dir + fileName).c_str())) return m;
        }
    }
    return LoadLibraryW(fileName);
}
