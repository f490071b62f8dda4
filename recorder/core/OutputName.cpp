#include "recorder/core/OutputName.h"

#include <algorithm>
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

// Where a trailing "[digits]" counter begins in `base`; npos when it has
// none. Other bracket groups ("My [draft] clip") belong to the name.
std::size_t CounterStart(const std::string& base) {
    if (base.size() < 3 || base.back() != ']') return std::string::npos;
    std::size_t i = base.size() - 1;
    while (i > 0 && std::isdigit(static_cast<unsigned char>(base[i - 1]))) --i;
    if (i == base.size() - 1 || i == 0 || base[i - 1] != '[') return std::string::npos;
    return i - 1;
}

// Splits off ".ext" (at most six characters after the dot).
void SplitExtension(const std::string& name, std::string& base, std::string& extension) {
    base = name;
    extension.clear();
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos) {
        extension = base.substr(dot, 7);
        base.erase(dot);
    }
}

// Splits off ".ext" and a trailing "[n]" counter.
void SplitName(const std::string& name, std::string& base, std::string& extension) {
    SplitExtension(name, base, extension);
    const std::size_t counter = CounterStart(base);
    if (counter != std::string::npos) base.erase(counter);
}

// The counter of a folder entry ("clip[4].mpg" gives 4); -1 when it has none.
long EntryCounter(const std::string& entry) {
    std::string base;
    std::string extension;
    SplitExtension(entry, base, extension);
    const std::size_t counter = CounterStart(base);
    if (counter == std::string::npos) return -1;
    const std::string digits = base.substr(counter + 1, base.size() - counter - 2);
    if (digits.size() > 9) return -1;
    return std::strtol(digits.c_str(), nullptr, 10);
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
        largest = std::max(largest, EntryCounter(lower));
    }
    if (taken) base += "[" + std::to_string(largest >= 0 ? largest + 1 : 2) + "]";
    return base + extension;
}

OutputTarget MakeOutputTarget(const std::string& folder, const std::string& prefix, int format,
                              const FolderLister& list) {
    const std::string named = OutputFileName(folder, prefix, format);
    const std::size_t slash = named.find_last_of('\\');
    const std::string display = slash == std::string::npos ? named : named.substr(slash + 1);
    OutputTarget target;
    std::vector<FolderEntry> entries;
    std::string unique;
    if (!list(folder, entries)) {
        target.failure = "Cannot find directory " + folder;
        unique = "_FAIL_";
    } else {
        unique = UniqueFileName(display, entries);
    }
    target.path = folder + "\\" + unique;
    target.display = unique;
    return target;
}

}  // namespace recorder
