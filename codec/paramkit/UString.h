// A wide text with a cached ANSI copy (registry paths and value names).
#pragma once

#include <windows.h>

#include <string>

namespace ModuleConfig {

std::wstring AnsiToWide(const char* text);
std::string WideToAnsi(const wchar_t* text);

class UString {
public:
    UString() = default;
    explicit UString(const char* ansi) : wide_(AnsiToWide(ansi)) {}
    explicit UString(const wchar_t* wide) : wide_(wide ? wide : L"") {}

    const wchar_t* Wide() const { return wide_.c_str(); }
    // Rebuilds the ANSI copy from the wide text.
    const char* ToAnsi() {
        ansi_ = WideToAnsi(wide_.c_str());
        return ansi_.c_str();
    }

private:
    std::wstring wide_;
    std::string ansi_;
};

}  // namespace ModuleConfig
