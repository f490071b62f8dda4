// The about page's version line.
#include <gtest/gtest.h>

#include "restamp/FilterStuff/VersionText.h"

namespace {

TEST(ChronelVersionText, FieldsOfTheFileVersion) {
    struct Case {
        uint32_t ms, ls;
        const char* text;
    } cases[] = {
        {0x00010000, 0x0002C7AC, "1.0.2 (build 51116)"},
        {0x00000000, 0x00000000, "0.0.0 (build 0)"},
        {0xFFFFFFFF, 0xFFFFFFFF, "65535.65535.65535 (build 65535)"},  // words read unsigned
        {0x00070004, 0x00006C61, "7.4.0 (build 27745)"},
    };
    for (const Case& c : cases) EXPECT_EQ(chronel::VersionText(c.ms, c.ls), c.text);
}

}  // namespace
