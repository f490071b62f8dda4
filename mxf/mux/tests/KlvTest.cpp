// The KLV object model: golden bytes and sizes of the packs, BER lengths,
// KAG alignment and fill, labels, delta entries and content package rates.
#include "mxf/mux/Klv.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace mexora::mxf;
using mexora::BitIo;

FormatProfile Profile(int32_t number, bool opAtom = false) {
    FormatProfile p;
    EXPECT_EQ(MakeFormatProfile(number, opAtom, &p), 0);
    return p;
}

std::vector<uint8_t> Bytes(KlvObject& o) {
    BitIo io;
    io.CreateBuffer(0, 0);
    EXPECT_EQ(o.Serialize(io), 0);
    return io.Bytes();
}

std::vector<uint8_t> Hex(std::initializer_list<int> v) {
    return std::vector<uint8_t>(v.begin(), v.end());
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& b, size_t at, size_t n) {
    return std::vector<uint8_t>(b.begin() + at, b.begin() + at + n);
}

TEST(Klv, BerLengthsHaveTheProfilesSize) {
    struct Case {
        uint64_t value;
        uint32_t size;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {300, 4, Hex({0x83, 0x00, 0x01, 0x2C})},
        {0, 4, Hex({0x83, 0, 0, 0})},
        {0x1122334455667788ull, 9, Hex({0x88, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88})},
    };
    for (const Case& c : cases) {
        BitIo io;
        io.CreateBuffer(0, 0);
        EXPECT_EQ(WriteBer(io, c.value, c.size), 0);
        EXPECT_EQ(io.Bytes(), c.bytes) << c.value;
    }
}

TEST(Klv, KagRoundingLeavesRoomForAFillItem) {
    struct Case {
        uint64_t total;
        uint32_t kag;
        uint64_t rounded;
    };
    const Case cases[] = {
        {124, 512, 512},  {512, 512, 512}, {491, 512, 512}, {492, 512, 1024},  // a 20-byte gap: a fill item needs 21
        {511, 512, 1024},                                                      // a 1-byte gap
        {700, 1, 700},
    };
    for (const Case& c : cases) EXPECT_EQ(RoundToKag(c.total, c.kag, 20), c.rounded) << c.total;
}

TEST(Klv, ProfilesAndTheirTexts) {
    FormatProfile p;
    EXPECT_EQ(MakeFormatProfile(1, false, &p), kKlvBadProfile);
    const FormatProfile x = Profile(kXdcamProfile);
    EXPECT_EQ(x.kagSize, 512u);
    EXPECT_EQ(x.companyName.declared, 8u);
    EXPECT_EQ(Slice(std::vector<uint8_t>(x.companyName.bytes.begin(), x.companyName.bytes.end()), 0, 10),
              Hex({0, 'S', 0, 'O', 0, 'N', 0, 'Y', 0, 0}));
    const FormatProfile atom = Profile(kP2Profile, true), other = Profile(kP2Profile, false);
    EXPECT_EQ(atom.kagSize, 1u);
    EXPECT_EQ(atom.operationalPattern[13], 0x03);
    EXPECT_EQ(other.operationalPattern[13], 0x02);
    EXPECT_EQ(atom.productName.declared, 32u);
}

TEST(Klv, DictionaryLooksUpByNameAndFifteenBytes) {
    EXPECT_EQ(DictionarySize(), 62u);
    Label l = DictionaryLabel("AES3ClipWrap_Sound1ChannelsElement");
    EXPECT_EQ(l[13], 1);
    EXPECT_EQ(l[14], 4);
    EXPECT_EQ(l[15], 1);
    l[15] = 0x7F;  // byte 15 is not compared
    EXPECT_STREQ(DictionaryName(l), "AES3ClipWrap_Sound1ChannelsElement");
    EXPECT_STREQ(DictionaryName(DictionaryLabel("AES3FrameWrap_Sound5ChannelsElement")),
                 "AES3FrameWrap_Sound5ChannelsElement");
    // Byte 7 (the version) is: the old MPEG-ES label is its own row.
    EXPECT_STREQ(DictionaryName(DictionaryLabel("MPEGESFrameWrap_old")), "MPEGESFrameWrap_old");
    EXPECT_EQ(DictionaryName(Label{}), nullptr);
    EXPECT_EQ(DictionaryLabel("NoSuchName"), Label{});
}

TEST(Klv, XdcamPartitionPackTakesOneKag) {
    PartitionPack pack("HeaderPartitionPack", Profile(kXdcamProfile));
    EXPECT_EQ(pack.Name(), "HeaderPartitionPack");
    const Label ec = DictionaryLabel("MPEGESFrameWrap");
    pack.AddEssenceContainer(ec);
    pack.AddEssenceContainer(ec);  // already there
    pack.SetPosition(0x12345);
    pack.bodySid = 1;
    const std::vector<uint8_t> b = Bytes(pack);
    EXPECT_EQ(pack.ValueLength(), 104u);
    ASSERT_EQ(b.size(), 512u);
    EXPECT_EQ(Slice(b, 16, 4), Hex({0x83, 0, 0, 104}));
    EXPECT_EQ(Slice(b, 20, 8), Hex({0, 1, 0, 2, 0, 0, 2, 0}));  // versions 1.2, KAG 512; no InstanceUID item
    EXPECT_EQ(Slice(b, 28, 8), Hex({0, 0, 0, 0, 0, 1, 0x23, 0x45}));
    EXPECT_EQ(Slice(b, 84, 16),
              Hex({0x06, 0x0E, 0x2B, 0x34, 0x04, 0x01, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x01, 0x09, 0x00}));
    EXPECT_EQ(Slice(b, 100, 8), Hex({0, 0, 0, 1, 0, 0, 0, 16}));
    // The fill item: 512 - 124 - 20 = 368 bytes of value.
    const Label filler = DictionaryLabel("Filler");
    EXPECT_EQ(Slice(b, 124, 16), std::vector<uint8_t>(filler.begin(), filler.end()));
    EXPECT_EQ(Slice(b, 140, 4), Hex({0x83, 0, 0x01, 0x70}));

    const Label other = DictionaryLabel("MPEGESFrameWrap_old");
    pack.ReplaceEssenceContainer(ec, other);
    pack.ReplaceEssenceContainer(DictionaryLabel("Filler"), ec);  // not there: nothing changes
    EXPECT_EQ(pack.EssenceContainers(), std::vector<Label>{other});
}

// A leaf of a given number of value bytes.
class Blob : public KlvObject {
public:
    Blob(uint64_t n, const FormatProfile& p) : KlvObject(DictionaryLabel("XMLText"), p), n_(n) {}

protected:
    uint64_t ItemsLength() const override { return n_; }
    int32_t WriteItems(BitIo& io) const override { return io.Write(nullptr, static_cast<uint32_t>(n_)); }

private:
    uint64_t n_;
};

TEST(Klv, AReservedSizeIsFilled) {
    Blob blob(900, Profile(kP2Profile));
    blob.SetTotalSize(1000);
    const std::vector<uint8_t> b = Bytes(blob);
    ASSERT_EQ(b.size(), 1000u);
    EXPECT_EQ(Slice(b, 920 + 16, 4), Hex({0x83, 0, 0, 60}));
    Blob tight(900, Profile(kP2Profile));
    tight.SetTotalSize(930);  // a 10-byte gap: no fill item fits
    BitIo io;
    io.CreateBuffer(0, 0);
    EXPECT_EQ(tight.Serialize(io), kKlvNoRoomForFill);
}

TEST(Klv, PrimerPackIsFixed) {
    PrimerPack primer(Profile(kP2Profile));
    const std::vector<uint8_t> b = Bytes(primer);
    EXPECT_EQ(primer.ValueLength(), 1844u);
    ASSERT_EQ(b.size(), 1864u);
    EXPECT_EQ(Slice(b, 20, 8), Hex({0, 0, 0, 102, 0, 0, 0, 18}));
    EXPECT_EQ(Slice(b, 28, 18),
              Hex({0x3C, 0x0A, 0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x15, 0x02, 0, 0, 0, 0}));
    EXPECT_EQ(Slice(b, 1864 - 18, 2), Hex({0x3F, 0x0A}));
}

TEST(Klv, RandomIndexPackEndsWithItsLength) {
    RandomIndexPack rip(Profile(kXdcamProfile));
    rip.Add(0, 0);
    rip.Add(1, 0x10000);
    const std::vector<uint8_t> b = Bytes(rip);
    ASSERT_EQ(b.size(), 48u);
    EXPECT_EQ(Slice(b, 32, 12), Hex({0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(Slice(b, 44, 4), Hex({0, 0, 0, 48}));
}

TEST(Klv, DeltaEntriesHaveOneEntryPerSoundElement) {
    for (uint32_t n = 0; n <= 8; n++) {
        IndexTableSegment s(Profile(kXdcamProfile));
        s.SetDeltas(512, 4000, n);
        const std::vector<DeltaEntry>& d = s.Deltas();
        ASSERT_EQ(d.size(), 2 + n) << n;
        EXPECT_EQ(d[1].posTableIndex, -1);
        EXPECT_EQ(d[1].elementDelta, 512u);
        for (uint32_t k = 0; k < n; k++) {
            EXPECT_EQ(d[2 + k].slice, 1);
            EXPECT_EQ(d[2 + k].elementDelta, k * 4000) << n;
        }
    }
}

TEST(Klv, IndexSegmentItemsAndAlignment) {
    IndexTableSegment s(Profile(kXdcamProfile));
    s.SetInstanceUid(Label{1, 2, 3});
    s.editRate = {30000, 1001};
    s.SetDeltas(512, 0, 0);
    s.entries.resize(2);
    s.entries[1].streamOffset = 0x1234;
    const std::vector<uint8_t> b = Bytes(s);
    // UID item, six numbers, slice count, two delta entries, two index entries.
    EXPECT_EQ(s.ValueLength(), 20u + 3 * 12 + 3 * 8 + 5 + 4 + 8 + 12 + 4 + 8 + 30);
    EXPECT_EQ(Slice(b, 20, 4), Hex({0x3C, 0x0A, 0, 16}));
    EXPECT_EQ(b.size(), 512u);
    // Whatever the entry count, the segment fills whole KAGs: where rounding
    // would leave a gap too small for a fill item it takes one KAG more.
    for (int entries = 0; entries < 40; entries++) {
        IndexTableSegment t(Profile(kXdcamProfile));
        t.entries.resize(static_cast<size_t>(entries));
        BitIo io;
        io.CreateBuffer(0, 0);
        ASSERT_EQ(t.Serialize(io), 0) << entries;
        EXPECT_EQ(io.Bytes().size() % 512, 0u);
    }
}

TEST(Klv, ContentPackageRateFollowsTheRational) {
    struct Case {
        Rational rate;
        uint8_t expected;
    };
    const Case cases[] = {{{24000, 1001}, 3}, {{24, 1}, 2},        {{25, 1}, 4},  {{30000, 1001}, 7},  {{30, 1}, 6},
                          {{50, 1}, 10},      {{60000, 1001}, 13}, {{60, 1}, 12}, {{50000, 1000}, 10}, {{48000, 1}, 0}};
    for (const Case& c : cases) EXPECT_EQ(ContentPackageRate(c.rate), c.expected) << c.rate.numerator;
}

TEST(Klv, SystemItemIsTwoKlvs) {
    std::array<uint8_t, 64> umid{};
    umid[0] = 0xAA;
    SystemMetadataPack pack({50, 1}, 7, umid, Profile(kXdcamProfile));
    EXPECT_EQ(pack.Rate(), 10);
    const std::vector<uint8_t> plain = Bytes(pack);
    ASSERT_EQ(plain.size(), 20u + 57 + 20 + 67);  // no mark: only the UMID item
    EXPECT_EQ(Slice(plain, 16, 4), Hex({0x83, 0, 0, 57}));
    EXPECT_EQ(Slice(plain, 20, 7), Hex({0x5C, 10, 0, 0, 0, 0, 7}));
    const Label pm = DictionaryLabel("PackageMetadataSet");
    EXPECT_EQ(Slice(plain, 77, 16), std::vector<uint8_t>(pm.begin(), pm.end()));
    EXPECT_EQ(Slice(plain, 97, 4), Hex({0x83, 0, 64, 0xAA}));
    pack.Package().mark = "_RecStart";
    EXPECT_EQ(pack.SystemItemSize(), 20u + 57 + 20 + 67 + 3 + 16 + 1 + 9);
}

}  // namespace
