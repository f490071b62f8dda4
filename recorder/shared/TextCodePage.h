// Text between the ANSI code page and UTF-16.
#pragma once

#include <string>

namespace capture {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace capture
