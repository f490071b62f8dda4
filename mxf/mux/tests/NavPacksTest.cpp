// DVD navigation packs: the VOBU search information computed from the
// producer's entries, and the file writer patching its packs at the end
// (across splits, and not at all when suppressed).
#include "TestSupport.h"
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/NavPacks.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace mexora;

uint32_t Pointer(const std::array<uint8_t, kSearchInfoBytes>& sri, int slot) {
    const uint8_t* p = sri.data() + 4 * slot;
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Slots of the 42 pointers.
constexpr int kFwdVideo = 0, kFwd240 = 1, kFwd1 = 19, kNext = 20, kPrev = 21, kBwd1 = 22, kBwd240 = 40, kBwdVideo = 41;
constexpr int kFwd20 = 4, kFwd2 = 18;
constexpr uint32_t kEnded = 0x3FFFFFFF, kVideo = 1u << 31, kBetween = 1u << 30;

TEST(NavPacks, SearchInformationPointsAtTheVobuTheStepReaches) {
    // VOBUs of half a second, 10 sectors apart; every third without video.
    NavTables t;
    t.Start("unused");
    for (int i = 0; i < 60; i++) ASSERT_TRUE(t.AddEntry({i * 10, 45000, i % 3 == 2 ? 0 : 1}));
    const auto at10 = t.SearchInfo(10);
    EXPECT_EQ(Pointer(at10, kNext), 10u);                        // entry 11, without video
    EXPECT_EQ(Pointer(at10, kFwd1), 10u);                        // half a second on: entry 11
    EXPECT_EQ(Pointer(at10, kFwd2), 20u | kVideo);               // entry 12
    EXPECT_EQ(Pointer(at10, kFwd20), 200u | kVideo | kBetween);  // entry 30, 10 s on
    EXPECT_EQ(Pointer(at10, kFwd240), kEnded);                   // 120 s is past the last VOBU
    EXPECT_EQ(Pointer(at10, kFwdVideo), 20u | kVideo);           // entry 12, past entry 11
    EXPECT_EQ(Pointer(at10, kPrev), 10u | kVideo);               // entry 9
    EXPECT_EQ(Pointer(at10, kBwd1), 10u | kVideo);
    EXPECT_EQ(Pointer(at10, kBwd240), kEnded);
    EXPECT_EQ(Pointer(t.SearchInfo(12), kBwdVideo), 20u | kVideo);  // entry 10, past entry 11
    // A segment start bounds both searches.
    NavTables s;
    s.Start("unused");
    for (int i = 0; i < 4; i++) ASSERT_TRUE(s.AddEntry({i, 45000, 1}));
    s.AddSegmentStart();
    for (int i = 4; i < 8; i++) ASSERT_TRUE(s.AddEntry({i, 45000, 1}));
    EXPECT_EQ(Pointer(s.SearchInfo(3), kNext), kEnded);
    EXPECT_EQ(Pointer(s.SearchInfo(4), kPrev), kEnded);
    EXPECT_EQ(Pointer(s.SearchInfo(4), kBwd1), kEnded);
    EXPECT_EQ(Pointer(s.SearchInfo(5), kBwd1), 1u | kVideo);
}

TEST(NavPacks, StreamTablesHaveTheirLimits) {
    NavTables t;
    t.Start("unused");
    for (int i = 0; i < kNavMaxAudio; i++) EXPECT_EQ(t.AddStreamTable(true), i);
    EXPECT_EQ(t.AddStreamTable(true), -1);
    for (int i = 0; i < kNavMaxSubpicture; i++) EXPECT_EQ(t.AddStreamTable(false), i);
    EXPECT_EQ(t.AddStreamTable(false), -1);
    EXPECT_TRUE(t.AppendStreamValue(true, 7, 5));
    EXPECT_FALSE(t.AppendStreamValue(true, 8, 5));
    for (size_t i = 0; i < kNavMaxEntries; i++) ASSERT_TRUE(t.AddEntry({0, 1, 0}));
    EXPECT_FALSE(t.AddEntry({0, 1, 0}));
}

// Writes `packs` navigation packs of 2048 bytes, each announced as an entry.
void WritePacks(bufstream* w, int packs, int firstSector) {
    std::vector<uint8_t> pack(kNavSector, 0xEE);
    for (int i = 0; i < packs; i++) {
        ASSERT_EQ(w->copy_bytes(w, pack.data(), kNavSector), kNavSector);
        int32_t entry[3] = {firstSector + i, 45000, 1};
        ASSERT_EQ(w->info(w, 0, kNavEntry, entry, sizeof entry), 0);
    }
}

TEST(NavPacks, TheFileWriterPatchesItsPacksAtTheEnd) {
    const std::string dir = mexora_test::TempDir();
    for (bool suppress : {false, true}) {
        const std::string name = dir + (suppress ? "/s.vob" : "/n.vob");
        bufstream* w = bs_file_writer_open(name.c_str(), 65536, nullptr);
        ASSERT_NE(w, nullptr);
        ASSERT_EQ(w->info(w, 0, kNavStart, nullptr, 0), 0);
        WritePacks(w, 3, 0);
        ASSERT_EQ(w->info(w, 0, 0xF0040, nullptr, 0), 0);  // split: the next file counts from sector 0
        WritePacks(w, 2, 0);
        if (suppress) {
            ASSERT_EQ(w->info(w, 0, kNavSuppress, nullptr, 0), 0);
        }
        ASSERT_EQ(w->done(w, 0), 0);
        w->free(w);
        const std::vector<uint8_t> first = mexora_test::ReadFile(name);
        const std::vector<uint8_t> second = mexora_test::ReadFile(dir + (suppress ? "/s001.vob" : "/n001.vob"));
        ASSERT_EQ(first.size(), 3u * kNavSector);
        ASSERT_EQ(second.size(), 2u * kNavSector);
        // Pack 1 of the first file: its next VOBU is one sector on; the
        // second file's first pack has no previous one (files bound searches).
        std::array<uint8_t, kSearchInfoBytes> sri;
        std::memcpy(sri.data(), first.data() + kNavSector + kSearchInfoOffset, kSearchInfoBytes);
        std::array<uint8_t, kSearchInfoBytes> sri2;
        std::memcpy(sri2.data(), second.data() + kSearchInfoOffset, kSearchInfoBytes);
        if (suppress) {
            EXPECT_EQ(Pointer(sri, kNext), 0xEEEEEEEEu);
        } else {
            EXPECT_EQ(Pointer(sri, kNext), 1u | kVideo);
            EXPECT_EQ(Pointer(sri, kPrev), 1u | kVideo);
            EXPECT_EQ(Pointer(sri2, kPrev), kEnded);
            EXPECT_EQ(Pointer(sri2, kNext), 1u | kVideo);
            EXPECT_EQ(first[kSearchInfoOffset - 1], 0xEE);  // bytes around the search information stay
            EXPECT_EQ(first[kSearchInfoOffset + kSearchInfoBytes], 0xEE);
        }
    }
}

}  // namespace
