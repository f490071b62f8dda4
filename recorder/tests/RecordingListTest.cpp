#include "recorder/core/RecordingList.h"

#include <gtest/gtest.h>

namespace recorder {
namespace {

TEST(RecordingList, ColumnTexts) {
    EXPECT_EQ("0.000", SizeText(0));
    EXPECT_EQ("1.000", SizeText(1048576));
    EXPECT_EQ("5120.000", SizeText(5ull << 30));  // past the 32 bits of a size's low part
    LocalTime t;
    t.month = 3;
    t.day = 7;
    t.hour = 9;
    t.minute = 5;
    EXPECT_EQ("Mar/07 09:05", ModifiedText(t));
    t = {2008, 12, 31, 23, 59, 0, 0};
    EXPECT_EQ("Dec/31 23:59", ModifiedText(t));
    EXPECT_EQ("mpg", TypeText("a.mpg"));
    EXPECT_EQ("x", TypeText(".x"));
    EXPECT_EQ("", TypeText("noext"));
    EXPECT_EQ("mpg", TypeText("clip.v2.mpg"));
}

TEST(RecordingList, ListsFilesOnly) {
    EXPECT_TRUE(IsListedEntry("a.mpg", false));
    EXPECT_FALSE(IsListedEntry("sub", true));
    EXPECT_FALSE(IsListedEntry(".", true));
    EXPECT_FALSE(IsListedEntry("..", false));
}

std::vector<std::string> Names(const std::vector<RecordingRow>& rows) {
    std::vector<std::string> names;
    for (const RecordingRow& r : rows) names.push_back(r.name);
    return names;
}

TEST(RecordingList, FourSorts) {
    std::vector<RecordingRow> rows = {
        {"b.wmv", 5ull << 30, {2008, 3, 7, 9, 5, 0, 0}},
        {"A.mpg", 2048, {2008, 3, 7, 9, 6, 0, 0}},
        {"c.avi", 4096, {2007, 12, 1, 0, 0, 0, 0}},
    };
    SortRows(rows, RecordingColumn::Name);
    EXPECT_EQ((std::vector<std::string>{"A.mpg", "b.wmv", "c.avi"}), Names(rows));
    SortRows(rows, RecordingColumn::Type);
    EXPECT_EQ((std::vector<std::string>{"c.avi", "A.mpg", "b.wmv"}), Names(rows));
    // Twice on the size: ascending both times; 5 GB sorts above 4 KB.
    for (int click = 0; click < 2; ++click) {
        SortRows(rows, RecordingColumn::Size);
        EXPECT_EQ((std::vector<std::string>{"A.mpg", "c.avi", "b.wmv"}), Names(rows));
    }
    SortRows(rows, kInitialSortColumn);
    EXPECT_EQ((std::vector<std::string>{"A.mpg", "b.wmv", "c.avi"}), Names(rows));  // newest first
}

TEST(RecordingList, NewNamesStayInTheFolder) {
    struct Case {
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"clip.mpg", true},      {"My [draft] clip.mpg", true}, {"", false},        {"..\\up.mpg", false},
        {"sub/clip.mpg", false}, {"C:clip.mpg", false},         {"a?.mpg", false},  {"a\"b.mpg", false},
        {"..", false},           {"tab\tname.mpg", false},      {"a|b.mpg", false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.accepted, IsAcceptableNewName(c.name)) << c.name;
}

}  // namespace
}  // namespace recorder
