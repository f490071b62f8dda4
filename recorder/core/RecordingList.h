// The rows of the recordings browser: what each column shows of a file in
// the recording folder, which folder entries are listed, the four sorts, and
// which new names a rename may give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace recorder {

// A file's last-write time in local time.
struct LocalTime {
    int year = 0;
    int month = 1;  // 1..12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

struct RecordingRow {
    std::string name;
    std::uint64_t size = 0;  // bytes, all 64 bits: recordings pass 4 GB
    LocalTime modified;
};

enum class RecordingColumn { Name = 0, Type = 1, Size = 2, Modified = 3 };
constexpr RecordingColumn kInitialSortColumn = RecordingColumn::Modified;

// The text after the last '.' of the name ("" without one).
std::string TypeText(const std::string& name);
// Megabytes with three decimals: 5 GB is "5120.000".
std::string SizeText(std::uint64_t bytes);
// "Mar/07 09:05": month, day, hour and minute, without the year.
std::string ModifiedText(const LocalTime& time);

// Whether a folder entry gets a row: no sub-folders, not "." or "..".
bool IsListedEntry(const std::string& name, bool directory);

// Names and types case-insensitively ascending, sizes ascending, times
// newest first; the same column again sorts the same way again.
void SortRows(std::vector<RecordingRow>& rows, RecordingColumn column);

// A new name stays a plain file name in the recording folder: not empty, no
// path separator, none of the characters a recording's name never holds,
// and not "." or "..".
bool IsAcceptableNewName(const std::string& name);

}  // namespace recorder
