#include "codec/paramkit/UString.h"

namespace ModuleConfig {

std::wstring AnsiToWide(const char* text) {
    if (!text || !*text) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], n) <= 0) return std::wstring();
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string WideToAnsi(const wchar_t* text) {
    if (!text || !*text) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr) <= 0) return std::string();
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

}  // namespace ModuleConfig
