#include "recorder/core/OutputName.h"

#include <cctype>
#include <cstdlib>

namespace recorder {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const char* Extension(int format) {
    switch (format) {
        case 0:
        case 2:
            return ".mpg";
        case 1:
            return ".wmv";
        case 3:
            return ".avi";
        default:
            return "";
    }
}

// Splits off ".ext" (at most six characters after the dot) and a trailing
// "[n]" group.
void SplitName(const std::string& name, std::string& base, std::string& extension) {
    base = name;
    extension.clear();
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos) {
        extension = base.substr(dot, 7);
        base.erase(dot);
    }
    bool closed = false;
    for (std::size_t i = base.size(); i-- > 0;) {
        if (base[i] == ']') closed = true;
        if (closed && base[i] == '[') {
            base.erase(i);
            break;
        }
    }
}

}  // namespace

std::string OutputFileName(const std::string& folder, const std::string& prefix, int format) {
    const std::string text = prefix.substr(0, 255);
    if (text.empty() || text.find("Zelbo.") != std::string::npos) {
        const char* extension = format == 1 ? ".wmv" : format == 3 ? ".avi" : ".mpg";
        return folder + "\\Zelbo" + extension;
    }
    const std::string name = text + Extension(format);
    if (name.find("://") != std::string::npos) return name;
    return folder + "\\" + name;
}

bool IsReservedFileNameChar(char c) {
    return c != 0 && std::string("*/:<>?\\|\"").find(c) != std::string::npos;
}

std::string UniqueFileName(const std::string& requested, const std::vector<FolderEntry>& entries) {
    std::string name = requested;
    for (char& c : name)
        if (IsReservedFileNameChar(c)) c = '_';
    std::string base;
    std::string extension;
    SplitName(name, base, extension);
    const std::string lowerBase = Lower(base);

    bool taken = false;
    long largest = -1;
    for (const FolderEntry& entry : entries) {
        if (entry.directoryOnly || entry.name == "." || entry.name == "..") continue;
        const std::string lower = Lower(entry.name);
        if (lower.find(" (qlv).txt") != std::string::npos || lower.find(" (qlv).ini") != std::string::npos ||
            lower.find(".inp") != std::string::npos || lower.find(".ind") != std::string::npos)
            continue;
        if (lower.find(lowerBase) == std::string::npos) continue;
        taken = true;
        const std::size_t open = lower.find('[');
        if (open != std::string::npos) {
            const long number = std::strtol(lower.c_str() + open + 1, nullptr, 10);
            if (number > largest && number < 1000000000) largest = number;
        }
    }
    if (taken) base += "[" + std::to_string(largest >= 0 ? largest + 1 : 2) + "]";
    return base + extension;
}

}  // namespace recorder
