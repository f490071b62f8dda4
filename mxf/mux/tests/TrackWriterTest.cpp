// The track writer alone, with its identifiers, clock and continuity count
// fixed: the layout of a small P2 sound clip and of a small XDCAM HD file as
// golden tables, and what the end rewrites.
#include "mxf/mux/TrackWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace mexora;
using namespace mexora::mxf;
using Bytes = std::vector<uint8_t>;

struct Layout {
    size_t at;
    std::string name;
    uint64_t length;
    bool operator==(const Layout& o) const { return at == o.at && name == o.name && length == o.length; }
};

std::ostream& operator<<(std::ostream& os, const Layout& l) {
    return os << "{" << l.at << ", \"" << l.name << "\", " << l.length << "}";
}

// The file the pieces make: appended in order, then the rewrites.
Bytes Assemble(const std::vector<OutputPiece>& pieces) {
    Bytes f;
    for (const OutputPiece& p : pieces) {
        if (p.position < 0) f.insert(f.end(), p.data.begin(), p.data.end());
    }
    for (const OutputPiece& p : pieces) {
        if (p.position >= 0) std::copy(p.data.begin(), p.data.end(), f.begin() + p.position);
    }
    return f;
}

std::vector<Layout> Walk(const Bytes& f) {
    std::vector<Layout> out;
    for (size_t at = 0; at + 17 <= f.size();) {
        Label key;
        std::memcpy(key.data(), f.data() + at, 16);
        const int ber = 1 + (f[at + 16] & 0x7F);
        uint64_t len = 0;
        for (int i = 1; i < ber; i++) len = len << 8 | f[at + 16 + static_cast<size_t>(i)];
        const char* name = DictionaryName(key);
        out.push_back({at, name ? name : "?", len});
        at += 16 + static_cast<size_t>(ber) + len;
    }
    return out;
}

struct Fixed {
    uint8_t next = 0;
    SetServices services{[this] {
                             Label l{};
                             l[15] = ++next;
                             return l;
                         },
                         [] { return Timestamp{0x07, 0xEA, 12, 11, 8, 30, 0, 0}; }};
};

TEST(TrackWriter, P2SoundClipLayout) {
    Fixed fx;
    std::vector<OutputPiece> pieces;
    FileSettings s;
    s.profile = kP2Profile;
    TrackWriter w(s, fx.services, [&](OutputPiece p) { pieces.push_back(std::move(p)); });
    TrackFormat t;
    t.kind = EssenceKind::kAes3;
    const uint8_t header[8] = {'A', 'E', 'S', '3', 12, (2 << 5) | (2 << 3), 0, 0};
    ASSERT_TRUE(t.aes3.Parse(header, sizeof header));
    t.aes3RateCode = 3;
    w.AddTrack(t);
    ASSERT_EQ(w.Start(), 0);
    AccessUnit u;
    u.data.assign(1920 * 3, 0x5A);
    ASSERT_EQ(w.WriteClipUnit(u), 0);
    ASSERT_EQ(w.WriteClipUnit(u), 0);
    ASSERT_EQ(w.Finish(), 0);
    const Bytes f = Assemble(pieces);
    // The header metadata and its fill take 32,620 bytes after the header
    // partition pack; the element's length has eight bytes.
    const std::vector<Layout> expected = {
        {0, "HeaderPartitionPack", 104},     {124, "PrimerPack", 1844},
        {1988, "PrefaceSet", 166},           {2174, "IdentificationSet", 156},
        {2350, "ContentStorageSet", 92},     {2462, "EssenceContainerDataSet", 72},
        {2554, "MaterialPackageSet", 108},   {2682, "TrackSet", 80},
        {2782, "SequenceSet", 80},           {2882, "SourceClipSet", 108},
        {3010, "FilePackageSet", 128},       {3158, "TrackSet", 80},
        {3258, "SequenceSet", 80},           {3358, "SourceClipSet", 108},
        {3486, "AES3AudioDescriptor", 111},  {3617, "Filler", 29107},
        {32744, "BodyPartitionPack", 104},   {32868, "AES3ClipWrap_Sound1ChannelsElement", 11520},
        {44413, "FooterPartitionPack", 104}, {44537, "IndexTableSegment", 80},
        {44637, "RandomIndexPack", 40},
    };
    EXPECT_EQ(Walk(f), expected);
    EXPECT_EQ(f[32868 + 16], 0x88);
    // The rewrites: both partitions before the footer name it; the header
    // counts its metadata; the index runs from 0 over 3840 samples of 3 bytes.
    auto be = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; i++) v = v << 8 | f[at + static_cast<size_t>(i)];
        return v;
    };
    for (size_t pack : {size_t{0}, size_t{32744}}) EXPECT_EQ(be(pack + 20 + 24, 8), 44413u) << pack;
    EXPECT_EQ(be(20 + 32, 8), 32620u);
    const size_t segment = 44537 + 20;
    EXPECT_EQ(be(segment + 20 + 12 + 4, 8), 0u);     // IndexStartPosition
    EXPECT_EQ(be(segment + 20 + 24 + 4, 8), 3840u);  // IndexDuration
    EXPECT_EQ(be(segment + 20 + 36 + 4, 4), 3u);     // EditUnitByteCount
    EXPECT_EQ(pieces.back().position, 32744);        // the body partition pack is rewritten last
}

}  // namespace
