#include "recorder/core/RecordingList.h"

#include "recorder/core/OutputName.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <tuple>

namespace recorder {

namespace {

const double kBytesPerMegabyte = 1048576.0;
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

auto TimeKey(const LocalTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}

}  // namespace

std::string TypeText(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string SizeText(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(bytes) / kBytesPerMegabyte);
    return text;
}

std::string ModifiedText(const LocalTime& time) {
    const int month = std::clamp(time.month, 1, 12);
    char text[32];
    std::snprintf(text, sizeof text, "%s/%02d %02d:%02d", kMonths[month - 1], time.day, time.hour, time.minute);
    return text;
}

bool IsListedEntry(const std::string& name, bool directory) {
    return !directory && name != "." && name != "..";
}

void SortRows(std::vector<RecordingRow>& rows, RecordingColumn column) {
    auto order = [column](const RecordingRow& a, const RecordingRow& b) {
        switch (column) {
            case RecordingColumn::Name:
                return LessIgnoringCase(a.name, b.name);
            case RecordingColumn::Type:
                return LessIgnoringCase(TypeText(a.name), TypeText(b.name));
            case RecordingColumn::Size:
                return a.size < b.size;
            case RecordingColumn::Modified:
                return TimeKey(a.modified) > TimeKey(b.modified);
        }
        return false;
    };
    std::stable_sort(rows.begin(), rows.end(), order);
}

bool IsAcceptableNewName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return IsReservedFileNameChar(c) || static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace recorder
