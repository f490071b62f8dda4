// The multiplexer pages' texts and editor rules, by tables.
#include <gtest/gtest.h>

#include "codec/multiplexer/pages/EditorRules.h"
#include "codec/multiplexer/pages/PageText.h"
#include "codec/multiplexer/pages/ResourceData.h"

#include <algorithm>
#include <vector>

#include <limits>

using namespace muxpages;

namespace {

TEST(PageText, MillisecondsAsClock) {
    struct Case {
        int64_t ms;
        const char* text;
    } cases[] = {
        {3723004, " 01:02:03,004"},
        {0, " 00:00:00,000"},
        {999, " 00:00:00,999"},
        {360000000, " 100:00:00,000"},  // 100 hours keep all digits
        {359999999, " 99:59:59,999"},
        {-3723004, "-01:02:03,004"},  // the magnitude's fields, not truncated negatives
        {-1, "-00:00:00,001"},
        {-59999, "-00:00:59,999"},
        {std::numeric_limits<int64_t>::min(), "-2562047788015:12:55,808"},
        {std::numeric_limits<int64_t>::max(), " 2562047788015:12:55,807"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatMilliseconds(c.ms), c.text) << c.ms;
}

TEST(PageText, VersionLine) {
    EXPECT_EQ(VersionText(7, 4, 0, 27713), "Version: 7.4.0.27713");
    EXPECT_EQ(VersionText(0, 0, 0, 0), "Version: 0.0.0.0");
}

TEST(PageText, GroupedDigits) {
    struct Case {
        int64_t v;
        const char* text;
    } cases[] = {
        {1234567, " 1 234 567"},
        {0, " 0"},
        {999, " 999"},
        {1000, " 1 000"},
        {1000001, " 1 000 001"},
        {999999999999, " 999 999 999 999"},
        {1000000000000, "1000 000 000 000"},
        {1234567890123, "1234 567 890 123"},
        {-1234567, " -1 234 567"},
    };
    for (const Case& c : cases) EXPECT_EQ(GroupDigits(c.v), c.text) << c.v;
}

TEST(PageText, TypedNumbers) {
    struct Case {
        const char* typed;
        std::optional<int64_t> value;
    } cases[] = {
        {"2M", 2097152},
        {"2m", 2097152},
        {"0x1F", 31},
        {"0X1f", 31},
        {"10h", 16},
        {"1FH", 31},
        {"4K", 4096},
        {"0x10K", 16384},
        {"  42 ", 42},
        {"-1", -1},
        {"+7", 7},
        {"0", 0},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        // Refused: garbage, fractions, hex digits without a hex mark, empty
        // forms, overflow.
        {"abc", std::nullopt},
        {"1.5", std::nullopt},
        {"1F", std::nullopt},
        {"12 34", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"0x", std::nullopt},
        {"H", std::nullopt},
        {"M", std::nullopt},
        {"2G", std::nullopt},
        {"9223372036854775808", std::nullopt},
        {"99999999999999M", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseEditNumber(c.typed), c.value) << '"' << c.typed << '"';
}

ParamView Param(const char* name, int64_t v, ValueKind kind = ValueKind::Int) {
    ParamView p;
    p.name = name;
    p.number = v;
    p.kind = kind;
    return p;
}

TEST(EditorRows, ValueTexts) {
    struct Case {
        ParamView p;
        const char* name;
        const char* value;
    } cases[] = {
        {Param("Overhead %", 12), "Overhead %", "12%"},
        {Param("Real Output Bitrate", 1234567), "Real Output Bitrate", " 1 234 567"},
        {Param("Required Bitrate, bit/s", 6000000), "Required Bitrate, bit/s", " 6 000 000"},
        {Param("Initial time shift(ms)", -500), "Initial time shift(ms)", " -500"},
        // 100 ns times in milliseconds, with their clock form.
        {Param("Muxer time", 37230040000, ValueKind::Int64), "Muxer time", " 3 723 004  ( 01:02:03,004)"},
        {Param("Current Pin PTS", 10000, ValueKind::Int64), "Current Pin PTS", " 1  ( 00:00:00,001)"},
        // A 64-bit count stays a count.
        {Param("Padding, packets", 12345, ValueKind::Int64), "Padding, packets", "12345"},
        {Param("Program ID", 256), "Program ID", "256 (0x100)"},
        {Param("Transport Stream ID", -1), "Transport Stream ID", "-1 (0xffffffff)"},
        {Param("PCR PID", 481), "PCR PID", "481 (0x1e1)"},
        {Param("Number of TS Packets to Deliver", 5), "Number of TS Packets to Deliver", "5"},
        {Param("Flag", -1, ValueKind::Bool), "Flag", "True"},
        {Param("Flag", 0, ValueKind::Bool), "Flag", "False"},
    };
    for (const Case& c : cases) {
        RowText row = FormatRow(c.p, RowContext{});
        EXPECT_TRUE(row.shown) << c.name;
        EXPECT_EQ(row.name, c.name);
        EXPECT_EQ(row.value, c.value) << c.name;
    }

    ParamView text;
    text.name = "Stream Name";
    text.kind = ValueKind::Text;
    text.text = "Input0";
    EXPECT_EQ(FormatRow(text, {}).value, "Input0");

    ParamView listed = Param("Output", 2);
    listed.hasValueList = true;
    listed.valueName = "Transport Stream";
    EXPECT_EQ(FormatRow(listed, {}).value, "Transport Stream");
}

TEST(EditorRows, ContextAndHiddenRows) {
    RowContext sub;
    sub.subId = 0x80;
    RowText row = FormatRow(Param("Stream PES ID", 0xBD), sub);
    EXPECT_EQ(row.name, "Stream PES ID, sub_id");
    EXPECT_EQ(row.value, "189 (0xbd),0x80");
    row = FormatRow(Param("Stream ID", 0x44), sub);
    EXPECT_EQ(row.name, "Stream ID, sub_id");
    EXPECT_EQ(row.value, "68 (0x44),0x80");
    EXPECT_EQ(FormatRow(Param("Program ID", 5), sub).name, "Program ID") << "only stream ids carry the sub id";

    RowContext user;
    user.userPcrPid = 1;
    EXPECT_EQ(FormatRow(Param("PCR PID", 481), user).value, "User-defined value");

    EXPECT_FALSE(FormatRow(Param("", 1), {}).shown) << "the end-of-stream flag makes no row";
    ParamView hidden = Param("Filter State", 0);
    hidden.visible = false;
    EXPECT_FALSE(FormatRow(hidden, {}).shown);

    EXPECT_TRUE(TypeCarriesSubId(3));
    EXPECT_TRUE(TypeCarriesSubId(13));
    EXPECT_TRUE(TypeCarriesSubId(15));
    EXPECT_FALSE(TypeCarriesSubId(1));
    EXPECT_FALSE(TypeCarriesSubId(2));
}

TEST(EditorRows, OnlyLiveStatisticsRefresh) {
    EXPECT_TRUE(IsLiveRow(true, true));
    EXPECT_FALSE(IsLiveRow(true, false));
    EXPECT_FALSE(IsLiveRow(false, true));
}

TEST(EditorTree, TextsKindsAndImages) {
    EXPECT_EQ(ProgramText(0x100, 1), "Program 0x100 (#1)");
    EXPECT_EQ(ProgramText(0x100, std::nullopt), "Program");
    EXPECT_EQ(StreamText(0x1E1, "MPEG-2 Video"), "PES (481) MPEG-2 Video");
    EXPECT_EQ(StreamText(0x1E1, ""), "PES (0) ");

    EXPECT_EQ(KindLetter(NodeKind::Program), 'p');
    EXPECT_EQ(KindLetter(NodeKind::Stream), 's');
    EXPECT_EQ(KindLetter(NodeKind::LooseStream), 'r');
    EXPECT_EQ(StreamKind(true), NodeKind::Stream);
    EXPECT_EQ(StreamKind(false), NodeKind::LooseStream);

    EXPECT_EQ(ImagesForOutput(1).muxer, 4);
    EXPECT_EQ(ImagesForOutput(1).program, 11);
    EXPECT_EQ(ImagesForOutput(2).muxer, 12);
    EXPECT_EQ(ImagesForOutput(2).program, 19);
    EXPECT_EQ(StreamImage(false), 2);
    EXPECT_EQ(StreamImage(true), 3);
}

TEST(EditorEditing, EditorKinds) {
    EXPECT_EQ(ChooseEditor("Output", true, false), EditorKind::ValueList);
    EXPECT_EQ(ChooseEditor("Stream Type", true, true), EditorKind::None);
    EXPECT_EQ(ChooseEditor("PCR PID", false, false), EditorKind::PcrPidList);
    EXPECT_EQ(ChooseEditor("PES packet size in Bytes", false, false), EditorKind::Text);
    EXPECT_EQ(ChooseEditor("Real Bitrate", false, true), EditorKind::None);
}

TEST(EditorEditing, TypedTexts) {
    TypedValue v = ReadTypedText("Input Buffer Size(Byte)", ValueKind::Int, "2M");
    EXPECT_TRUE(v.ok);
    EXPECT_EQ(v.number, 2097152);
    v = ReadTypedText("Input Buffer Size(Byte)", ValueKind::Int, "lots");
    EXPECT_FALSE(v.ok);
    EXPECT_EQ(v.error, "Input Buffer Size(Byte): \"lots\" is not a number");
    v = ReadTypedText("Flag", ValueKind::Bool, "2");
    EXPECT_FALSE(v.ok);
    v = ReadTypedText("Name", ValueKind::Text, "Input7");
    EXPECT_TRUE(v.ok && v.isText);
    EXPECT_EQ(v.text, "Input7");
    // At most 100 characters are taken.
    v = ReadTypedText("Name", ValueKind::Text, std::string(150, 'x'));
    EXPECT_EQ(v.text.size(), kMaxEditText);
    EXPECT_EQ(RefusedText("Stream PES ID", "300"), "Stream PES ID: the value \"300\" was refused");
    EXPECT_TRUE(ChangesStructure("Output"));
    EXPECT_FALSE(ChangesStructure("Use Padding"));
}

TEST(EditorTree, MenusAndDragging) {
    EXPECT_EQ(MenuFor(NodeKind::Program), SubMenu::Program);
    EXPECT_EQ(MenuFor(NodeKind::Stream), SubMenu::Stream);
    EXPECT_EQ(MenuFor(NodeKind::Muxer), SubMenu::None);
    EXPECT_EQ(MenuFor(NodeKind::LooseStream), SubMenu::None);

    EXPECT_TRUE(CommandFits(NodeKind::Program, kCmdCreateStream));
    EXPECT_TRUE(CommandFits(NodeKind::Program, kCmdCreateProgram));
    EXPECT_TRUE(CommandFits(NodeKind::Program, kCmdDeleteProgram));
    EXPECT_FALSE(CommandFits(NodeKind::Program, kCmdDeleteStream));
    EXPECT_TRUE(CommandFits(NodeKind::Stream, kCmdDeleteStream));
    EXPECT_FALSE(CommandFits(NodeKind::Stream, kCmdCreateStream));
    EXPECT_FALSE(CommandFits(NodeKind::Muxer, kCmdCreateProgram));
    EXPECT_FALSE(CommandFits(NodeKind::LooseStream, kCmdDeleteStream));
    EXPECT_FALSE(CommandFits(NodeKind::Program, 1));
    EXPECT_EQ(CommandRefusedText(kCmdCreateStream).rfind("Create Stream was refused", 0), 0u);

    EXPECT_TRUE(CanDrag(NodeKind::Stream));
    EXPECT_FALSE(CanDrag(NodeKind::Program));
    EXPECT_FALSE(CanDrag(NodeKind::LooseStream));
    int a = 0, b = 0;
    EXPECT_TRUE(DropMoves(NodeKind::Program, &b, &a));
    EXPECT_FALSE(DropMoves(NodeKind::Program, &a, &a)) << "its own program: no move";
    EXPECT_FALSE(DropMoves(NodeKind::Stream, &b, &a));
    EXPECT_FALSE(DropMoves(NodeKind::Muxer, &b, &a));
    EXPECT_FALSE(DropMoves(NodeKind::Program, nullptr, &a));
}

}  // namespace

namespace {

TEST(ResourceData, FileVersionOfAVersionResource) {
    // The head of a version resource: lengths, type, the key in UTF-16 and
    // padding, then the fixed block.
    std::vector<uint8_t> res = {0x34, 0x03, 0x34, 0x00, 0x00, 0x00};
    for (char c : std::string("VS_VERSION_INFO")) {
        res.push_back(static_cast<uint8_t>(c));
        res.push_back(0);
    }
    res.insert(res.end(), {0, 0, 0, 0});  // terminator and padding to 4 bytes
    ASSERT_EQ(res.size() % 4, 0u);
    const uint8_t fixed[] = {0xBD, 0x04, 0xEF, 0xFE, 0x00, 0x00, 0x01, 0x00,   // signature, structure version
                             0x04, 0x00, 0x07, 0x00, 0x41, 0x6C, 0x00, 0x00};  // 7.4 and 0.27713
    res.insert(res.end(), std::begin(fixed), std::end(fixed));
    auto v = FindFileVersion(res.data(), res.size());
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(VersionText((*v)[0], (*v)[1], (*v)[2], (*v)[3]), "Version: 7.4.0.27713");

    EXPECT_FALSE(FindFileVersion(res.data(), res.size() - 1).has_value()) << "a cut fixed block";
    EXPECT_FALSE(FindFileVersion(res.data(), 40).has_value());
    EXPECT_FALSE(FindFileVersion(nullptr, 0).has_value());
}

TEST(ResourceData, PremultipliedPixels) {
    uint8_t px[] = {200, 100, 50, 255, 200, 100, 50, 0, 255, 255, 255, 128};
    PremultiplyAlpha(px, 3);
    const uint8_t want[] = {200, 100, 50, 255, 0, 0, 0, 0, 128, 128, 128, 128};
    EXPECT_TRUE(std::equal(std::begin(px), std::end(px), std::begin(want)));
}

}  // namespace
