#include "recorder/core/OutputName.h"

#include <gtest/gtest.h>

namespace recorder {
namespace {

TEST(OutputName, PrefixFormatAndDefault) {
    EXPECT_EQ("C:\\r\\clip.wmv", OutputFileName("C:\\r", "clip", 1));
    EXPECT_EQ("C:\\r\\clip.mpg", OutputFileName("C:\\r", "clip", 2));
    EXPECT_EQ("C:\\r\\Zelbo.mpg", OutputFileName("C:\\r", "", 0));
    EXPECT_EQ("C:\\r\\Zelbo.avi", OutputFileName("C:\\r", "my Zelbo.x", 3));
    EXPECT_EQ("http://h/a.mpg", OutputFileName("C:\\r", "http://h/a", 0));
}

TEST(OutputName, UniqueAgainstTheFolder) {
    struct Case {
        const char* requested;
        std::vector<FolderEntry> entries;
        const char* expected;
    };
    const Case cases[] = {
        {"Zelbo.mpg", {}, "Zelbo.mpg"},
        {"Zelbo.mpg", {{"zelbo.mpg"}}, "Zelbo[2].mpg"},
        {"Zelbo.mpg", {{"zelbo.mpg"}, {"Zelbo[2].mpg"}}, "Zelbo[3].mpg"},
        {"Zelbo[7].mpg", {{"Zelbo[2].mpg"}}, "Zelbo[3].mpg"},
        {"a.mpg", {{"banana.txt"}}, "a[2].mpg"},                       // containment decides
        {"Zelbo.mpg", {{"Zelbo.mpg", true}, {"x.ind"}}, "Zelbo.mpg"},  // folders and index files do not count
        {"a:b?.mpg", {}, "a_b_.mpg"},
        {"say \"hi\".mpg", {}, "say _hi_.mpg"},  // a quote would end the engine's quoted value
        // Only a trailing "[digits]" is a counter; other bracket groups stay.
        {"My [draft] clip.mpg", {}, "My [draft] clip.mpg"},
        {"My [draft] clip.mpg", {{"my [draft] clip.mpg"}}, "My [draft] clip[2].mpg"},
        {"My [draft] clip.mpg", {{"my [draft] clip[4].mpg"}}, "My [draft] clip[5].mpg"},
        {"take[x].mpg", {}, "take[x].mpg"},
        {"take[].mpg", {}, "take[].mpg"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, UniqueFileName(c.requested, c.entries)) << c.requested;
}

TEST(OutputName, TargetInTheRecordingFolder) {
    const FolderLister listing = [](const std::string& folder, std::vector<FolderEntry>& entries) {
        EXPECT_EQ("C:\\r", folder);
        entries = {{"."}, {".."}, {"clip.wmv"}};
        return true;
    };
    const OutputTarget target = MakeOutputTarget("C:\\r", "clip", 1, listing);
    EXPECT_EQ("C:\\r\\clip[2].wmv", target.path);
    EXPECT_EQ("clip[2].wmv", target.display);
    EXPECT_EQ("", target.failure);

    const OutputTarget failed =
        MakeOutputTarget("C:\\gone", "", 0, [](const std::string&, std::vector<FolderEntry>&) { return false; });
    EXPECT_EQ("C:\\gone\\_FAIL_", failed.path);
    EXPECT_EQ("Cannot find directory C:\\gone", failed.failure);
}

}  // namespace
}  // namespace recorder
