// DVD navigation packs: the VOBU search information, synchronisation offsets
// and cell elapsed times computed from the producer's entries, and the file
// writer patching its packs at the end (across splits, and not at all when
// suppressed).
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

uint32_t Big(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++) v = v << 8 | p[i];
    return v;
}

TEST(NavPacks, SyncOffsetsPointAtEachStreamsSyncPack) {
    // Entry 0 at sector 100, entry 1 at sector 40000 (one VOBU each).
    NavTables t;
    t.Start("unused");
    ASSERT_TRUE(t.AddEntry({100, 45000, 1}));
    ASSERT_TRUE(t.AddEntry({40000, 45000, 1}));
    struct Case {
        bool audio;
        int32_t atEntry0, atEntry1;  // sync pack sectors (-1: none)
        uint32_t want0, want1;
    };
    const Case cases[] = {
        {true, 103, 39998, 3, 0x8000 | 2},               // after, before
        {true, 100, 1, 0, 0x7FFF | 0x8000},              // the pack itself; far before: held at 0x7FFF
        {true, -1, 80000, 0, 0x7FFF},                    // none; far after
        {false, 99, 40000 + 70000, 0x80000001u, 70000},  // 32-bit distances are not held at 16 bits
        {false, -5, 0, 0, 0x80000000u | 40000},
    };
    for (const Case& c : cases) {
        const int32_t table = t.AddStreamTable(c.audio);
        ASSERT_GE(table, 0);
        ASSERT_TRUE(t.AppendStreamValue(c.audio, table, c.atEntry0));
        ASSERT_TRUE(t.AppendStreamValue(c.audio, table, c.atEntry1));
    }
    // A registered table with no value for an entry says none too.
    const int32_t shortTable = t.AddStreamTable(false);
    ASSERT_TRUE(t.AppendStreamValue(false, shortTable, 150));
    for (size_t entry : {size_t{0}, size_t{1}}) {
        std::vector<uint8_t> pack(kNavSector, 0xEE);
        t.PatchPack(entry, pack.data());
        int audio = 0, sub = 0;
        for (const Case& c : cases) {
            const uint32_t got = c.audio ? Big(pack.data() + kAudioSyncOffset + 2 * audio++, 2)
                                         : Big(pack.data() + kSubSyncOffset + 4 * sub++, 4);
            EXPECT_EQ(got, entry == 0 ? c.want0 : c.want1) << "entry " << entry << " audio " << c.audio;
        }
        EXPECT_EQ(Big(pack.data() + kSubSyncOffset + 4 * sub, 4), entry == 0 ? 50u : 0u);
        // Streams never registered keep their bytes.
        EXPECT_EQ(pack[kAudioSyncOffset + 2 * audio], 0xEE);
        EXPECT_EQ(pack[kSubSyncOffset + 4 * (sub + 1)], 0xEE);
        // Without the time-code patch the elapsed times stay.
        EXPECT_EQ(Big(pack.data() + kPciElapsedOffset, 4), 0xEEEEEEEEu);
        EXPECT_EQ(Big(pack.data() + kDsiElapsedOffset, 4), 0xEEEEEEEEu);
    }
    // The audio adjustment moves every audio sync pack, not the subpicture ones.
    t.SetAudioAdjust(-3);
    std::vector<uint8_t> pack(kNavSector, 0xEE);
    t.PatchPack(0, pack.data());
    EXPECT_EQ(Big(pack.data() + kAudioSyncOffset, 2), 0u);
    EXPECT_EQ(Big(pack.data() + kSubSyncOffset, 4), 0x80000001u);
}

TEST(NavPacks, ElapsedTimeCountsFromTheSegmentStartInFrames) {
    struct Case {
        int32_t vobuTicks;
        int vobus;  // before the segment start
        size_t entry;
        uint32_t want;  // hh mm ss ff, rate in bits 7-6 of ff
    };
    const Case cases[] = {
        {43200, 100, 75, 0x00003640},       // 12 PAL frames a VOBU: 75 x 0.48 s = 36 s at 25 fps
        {43200, 100, 76, 0x00003652},       // + 12 frames
        {45045, 200, 120, 0x000100C0},      // 15 NTSC frames a VOBU: 1800 frames = 1 min at 30 fps
        {45045, 200, 121, 0x000100D5},      // + 15 frames
        {45045, 200, 200, 0x000000C0},      // the segment start begins again at 0
        {45045, 200, 203, 0x000001D5},      // 45 frames
        {36000, 11000, 10000, 0x01064040},  // 10 PAL frames a VOBU: 4000 s
        {45000, 9000, 8000, 0x010636C0},    // half a second is no whole number of 25 Hz frames: 30 fps
    };
    for (const Case& c : cases) {
        NavTables t;
        t.Start("unused");
        t.EnableTimecode();
        for (int i = 0; i < c.vobus + 10; i++) {
            if (i == c.vobus) t.AddSegmentStart();
            ASSERT_TRUE(t.AddEntry({i, c.vobuTicks, 1}));
        }
        std::vector<uint8_t> pack(kNavSector, 0xEE);
        t.PatchPack(c.entry, pack.data());
        EXPECT_EQ(Big(pack.data() + kPciElapsedOffset, 4), c.want) << c.vobuTicks << " entry " << c.entry;
        EXPECT_EQ(Big(pack.data() + kDsiElapsedOffset, 4), c.want);
        EXPECT_EQ(pack[kPciElapsedOffset - 1], 0xEE);
        EXPECT_EQ(pack[kDsiElapsedOffset + 4], 0xEE);
    }
    // The patch is asked for once collection is on; before, it is not taken.
    NavTables early;
    early.EnableTimecode();
    early.Start("unused");
    ASSERT_TRUE(early.AddEntry({0, 45000, 1}));
    std::vector<uint8_t> pack(kNavSector, 0xEE);
    early.PatchPack(0, pack.data());
    EXPECT_EQ(Big(pack.data() + kPciElapsedOffset, 4), 0xEEEEEEEEu);
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

TEST(NavPacks, TheFileWriterTakesStreamTablesAndTheTimeCodePatch) {
    const std::string name = mexora_test::TempDir() + "/sync.vob";
    bufstream* w = bs_file_writer_open(name.c_str(), 65536, nullptr);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->info(w, 0, kNavStart, nullptr, 0), 0);
    ASSERT_EQ(w->info(w, 0, kNavTimecode, nullptr, 0), 0);
    EXPECT_EQ(w->info(w, 0, kNavAudioTable, nullptr, 0), 0);
    EXPECT_EQ(w->info(w, 0, kNavAudioTable, nullptr, 0), 1);
    EXPECT_EQ(w->info(w, 0, kNavSubTable, nullptr, 0), 0);
    // The adjustment comes in the call's offset argument.
    ASSERT_EQ(w->info(w, static_cast<uint32_t>(-1), kNavAudioAdjust, nullptr, 0), 0);
    int32_t bad[2] = {2, 5};
    EXPECT_EQ(w->info(w, 0, kNavAudioValue, bad, sizeof bad), -1);  // no third audio table
    EXPECT_EQ(w->info(w, 0, kNavAudioValue, bad, 4), -1);
    std::vector<uint8_t> pack(kNavSector, 0xEE);
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(w->copy_bytes(w, pack.data(), kNavSector), kNavSector);
        int32_t entry[3] = {i, 43200, 1};
        ASSERT_EQ(w->info(w, 0, kNavEntry, entry, sizeof entry), 0);
        int32_t audio0[2] = {0, i + 3}, audio1[2] = {1, -1}, sub[2] = {0, i};
        ASSERT_EQ(w->info(w, 0, kNavAudioValue, audio0, sizeof audio0), 0);
        ASSERT_EQ(w->info(w, 0, kNavAudioValue, audio1, sizeof audio1), 0);
        ASSERT_EQ(w->info(w, 0, kNavSubValue, sub, sizeof sub), 0);
    }
    ASSERT_EQ(w->done(w, 0), 0);
    w->free(w);
    const std::vector<uint8_t> file = mexora_test::ReadFile(name);
    ASSERT_EQ(file.size(), 3u * kNavSector);
    const uint8_t* second = file.data() + kNavSector;
    EXPECT_EQ(Big(second + kAudioSyncOffset, 2), 2u);  // sector 4 - 1, seen from sector 1
    EXPECT_EQ(Big(second + kAudioSyncOffset + 2, 2), 0u);
    EXPECT_EQ(second[kAudioSyncOffset + 4], 0xEE);
    EXPECT_EQ(Big(second + kSubSyncOffset, 4), 0u);
    EXPECT_EQ(Big(second + kPciElapsedOffset, 4), 0x00000052u);                        // 12 frames at 25 fps
    EXPECT_EQ(Big(file.data() + 2 * kNavSector + kDsiElapsedOffset, 4), 0x00000064u);  // 24 frames
}

}  // namespace
