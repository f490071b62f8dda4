// Header metadata and its local sets: written order, links by InstanceUID,
// tracks of both packages, timecode bases, and the descriptors' choices.
#include "mxf/mux/Descriptors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace mexora::mxf;
using mexora::BitIo;

// UIDs counting up from 1; a fixed clock.
struct Fixed {
    uint8_t next = 0;
    SetServices services{[this] {
                             Label l{};
                             l[15] = ++next;
                             return l;
                         },
                         [] { return std::array<uint8_t, 8>{0x07, 0xEA, 12, 11, 3, 4, 5, 0}; }};
};

FormatProfile Profile(int32_t number) {
    FormatProfile p;
    MakeFormatProfile(number, true, &p);
    return p;
}

struct Klv {
    std::string name;
    std::vector<uint8_t> value;
};

// Walks KLVs back to back: 16-byte key, 4-byte BER length, value.
std::vector<Klv> Walk(const std::vector<uint8_t>& b) {
    std::vector<Klv> out;
    size_t at = 0;
    while (at + 20 <= b.size()) {
        Label key;
        std::copy(b.begin() + at, b.begin() + at + 16, key.begin());
        EXPECT_EQ(b[at + 16], 0x83);
        const size_t len = (size_t{b[at + 17]} << 16) | (size_t{b[at + 18]} << 8) | b[at + 19];
        const char* name = DictionaryName(key);
        out.push_back({name ? name : "?", std::vector<uint8_t>(b.begin() + at + 20, b.begin() + at + 20 + len)});
        at += 20 + len;
    }
    EXPECT_EQ(at, b.size());
    return out;
}

std::vector<uint8_t> Serialize(KlvObject& o) {
    BitIo io;
    io.CreateBuffer(0, 0);
    EXPECT_EQ(o.Serialize(io), 0);
    return io.Bytes();
}

// The value of a local item in a set's value, empty when absent.
std::vector<uint8_t> Item(const std::vector<uint8_t>& value, uint16_t tag) {
    for (size_t at = 0; at + 4 <= value.size();) {
        const uint16_t t = static_cast<uint16_t>((value[at] << 8) | value[at + 1]);
        const size_t n = static_cast<size_t>((value[at + 2] << 8) | value[at + 3]);
        if (t == tag) return std::vector<uint8_t>(value.begin() + at + 4, value.begin() + at + 4 + n);
        at += 4 + n;
    }
    return {};
}

TEST(HeaderMetadata, WritesItsSetsInOrderOnTheKagGrid) {
    Fixed f;
    Umid material{}, file{};
    material[31] = 1;
    file[31] = 2;
    HeaderMetadata h(material, file, Profile(kXdcamProfile), f.services);
    const Label mpeg = DictionaryLabel("MPEGESFrameWrap");
    TrackDescription video;
    video.trackId = 2;
    video.trackNumber = 0x15010500;
    video.editRate = {30000, 1001};
    video.essence = mpeg;
    video.duration = 90;
    ASSERT_EQ(h.material->AddTrack(video), 0);
    ASSERT_EQ(h.file->AddTrack(video), 0);
    ASSERT_EQ(h.AddDescriptor(2, mpeg, {30000, 1001}, true), 0);
    ASSERT_EQ(h.AddDescriptor(3, DictionaryLabel("Filler"), {1, 1}, true), 0);  // no descriptor, no error
    AddUnique(h.preface->essenceContainers, mpeg);
    AddUnique(h.preface->essenceContainers, mpeg);

    const std::vector<uint8_t> bytes = Serialize(h);
    EXPECT_EQ(bytes.size() % 512, 0u);
    std::vector<std::string> names;
    for (const Klv& k : Walk(bytes)) names.push_back(k.name);
    const std::vector<std::string> expected = {
        "PrimerPack",          "PrefaceSet", "IdentificationSet", "ContentStorageSet", "EssenceContainerDataSet",
        "MaterialPackageSet",  "TrackSet",   "SequenceSet",       "Filler Component",  "SourceClipSet",
        "FilePackageSet",      "TrackSet",   "SequenceSet",       "SourceClipSet",     "MultipleDescriptorSet",
        "MPEGVideoDescriptor", "Filler"};
    EXPECT_EQ(names, expected);

    const std::vector<Klv> klvs = Walk(bytes);
    // Links: the preface names the identification and the storage; the
    // storage both packages; the container data the file package's UMID.
    EXPECT_EQ(Item(klvs[1].value, 0x3B03), Item(klvs[3].value, 0x3C0A));
    EXPECT_EQ(Item(klvs[1].value, 0x3B0A).size(), 8u + 16);  // one entry per label
    EXPECT_TRUE(Item(klvs[1].value, 0x3B08).empty());        // no primary package in XDCAM
    EXPECT_EQ(Item(klvs[4].value, 0x2701), std::vector<uint8_t>(file.begin(), file.end()));
    // The material track refers to its own track id, the file track to zeros.
    EXPECT_EQ(Item(klvs[9].value, 0x1102), (std::vector<uint8_t>{0, 0, 0, 2}));
    EXPECT_EQ(Item(klvs[13].value, 0x1102), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Item(klvs[13].value, 0x1101), std::vector<uint8_t>(32, 0));
    // The identification's texts come from the profile.
    EXPECT_EQ(Item(klvs[2].value, 0x3C01), (std::vector<uint8_t>{0, 'S', 0, 'O', 0, 'N', 0, 'Y'}));
}

TEST(HeaderMetadata, P2NamesTheFilePackageAsPrimary) {
    Fixed f;
    HeaderMetadata h(Umid{}, Umid{}, Profile(kP2Profile), f.services);
    ASSERT_TRUE(h.preface->primaryPackage.has_value());
    EXPECT_EQ(*h.preface->primaryPackage, *h.file->InstanceUid());
    h.SetFormat(Profile(kXdcamProfile));
    EXPECT_FALSE(h.preface->primaryPackage.has_value());
}

TEST(HeaderMetadata, TimecodeTracksTakeTheirBase) {
    struct Case {
        Rational rate;
        bool given, drop;
        uint16_t base;
        uint8_t dropFrame;
    };
    const Case cases[] = {{{30000, 1001}, false, false, 30, 1},
                          {{30000, 1001}, true, false, 30, 0},
                          {{25, 1}, false, false, 25, 0},
                          {{60000, 1001}, true, true, 60, 1},
                          {{24000, 1001}, false, false, 24, 0}};
    for (const Case& c : cases) {
        Fixed f;
        HeaderMetadata h(Umid{}, Umid{}, Profile(kXdcamProfile), f.services);
        TrackDescription tc;
        tc.trackId = 1;
        tc.editRate = c.rate;
        tc.essence = DictionaryLabel("TimeCode12MData");
        tc.duration = 10;
        tc.start = 1800;
        tc.dropFrameGiven = c.given;
        tc.dropFrame = c.drop;
        h.material->AddTrack(tc);
        ComponentSet* comp = h.material->Track(1)->component;
        ASSERT_TRUE(comp->IsTimecode());
        EXPECT_EQ(comp->roundedTimecodeBase, c.base) << c.rate.numerator;
        EXPECT_EQ(comp->dropFrame, c.dropFrame) << c.rate.numerator;
        EXPECT_EQ(comp->startTimecode, 1800);
        EXPECT_EQ(h.material->Track(1)->Children().size(), 3u);  // no filler on a timecode track
    }
}

TEST(Descriptors, MpegPictureValues) {
    Fixed f;
    struct Case {
        uint32_t height;
        uint32_t display;
        uint8_t signal;
    };
    const Case cases[] = {{1088, 1080, 4}, {1080, 1080, 4}, {720, 720, 5}, {576, 576, 4}, {486, 486, 4}};
    for (const Case& c : cases) {
        MpegVideoDescriptor d(Profile(kXdcamProfile), f.services);
        d.SetHeight(c.height);
        EXPECT_EQ(d.displayHeight, c.display) << c.height;
        EXPECT_EQ(d.storedHeight, c.height);
        EXPECT_EQ(d.signalStandard, c.signal) << c.height;
    }
    struct Coding {
        uint8_t pl;
        uint32_t rate;
        const char* label;
    };
    // profile_and_level decides before the bit rate.
    const Coding codings[] = {{0x82, 30000000, "MPEG2_422P_HL_LongGOP"},
                              {0x82, 50000000, "MPEG2_422P_HL_LongGOP"},
                              {0x44, 50000000, "MPEG2_MP_HL_LongGOP"},
                              {0x46, 25000000, "MPEG2_MP_H14_LongGOP"}};
    for (const Coding& c : codings) {
        MpegVideoDescriptor d(Profile(kXdcamProfile), f.services);
        d.SetHeight(1080);
        d.SetCoding(c.pl, c.rate, false);
        EXPECT_STREQ(DictionaryName(d.pictureEssenceCoding), c.label) << int{c.pl};
        EXPECT_EQ(d.profileAndLevel, c.pl);
    }
    MpegVideoDescriptor d(Profile(kXdcamProfile), f.services);
    d.SetEditRate({30000, 1001});
    EXPECT_EQ(d.maxGop, 15);
    d.SetEditRate({25, 1});
    EXPECT_EQ(d.maxGop, 12);
}

TEST(Descriptors, DvTypesChooseCodingAndContainer) {
    Fixed f;
    struct Case {
        int type;
        bool fifty;
        uint8_t c14, b13, b14;
    };
    const Case cases[] = {{1, true, 0x02, 0x01, 0x02},
                          {1, false, 0x01, 0x01, 0x01},
                          {3, true, 0x51, 0x02, 0x04},
                          {5, false, 0x60, 0x02, 0x05},
                          {4, true, 0x63, 0x02, 0x08}};
    for (const Case& c : cases) {
        CdciDescriptor d(Profile(kP2Profile), f.services);
        d.SetDvType(c.type, c.fifty);
        EXPECT_EQ(d.essenceContainer[14], c.c14) << c.type;
        EXPECT_EQ(d.pictureEssenceCoding[13], c.b13) << c.type;
        EXPECT_EQ(d.pictureEssenceCoding[14], c.b14) << c.type;
    }
    CdciDescriptor d(Profile(kP2Profile), f.services);
    const Label before = d.pictureEssenceCoding;
    d.SetDvType(9, true);
    EXPECT_EQ(d.pictureEssenceCoding, before);
}

TEST(Descriptors, Aes3ItemsFollowTheProfile) {
    Fixed f;
    for (int32_t profile : {kXdcamProfile, kP2Profile}) {
        Aes3Descriptor d(Profile(profile), f.services);
        d.essenceContainer = DictionaryLabel("AES3_382_FrameWrap");
        const std::vector<Klv> k = Walk(Serialize(d));
        ASSERT_EQ(k.size(), 1u);
        const bool xdcam = profile == kXdcamProfile;
        EXPECT_EQ(Item(k[0].value, 0x3006).empty(), !xdcam);
        EXPECT_EQ(Item(k[0].value, 0x3002).empty(), xdcam);
        EXPECT_EQ(Item(k[0].value, 0x3D11).size(), xdcam ? 8u + 24 : 0u);
        EXPECT_EQ(Item(k[0].value, 0x3D09), (std::vector<uint8_t>{0, 1, 0x77, 0}));
    }
}

TEST(Descriptors, SingleDescriptorsForP2) {
    Fixed f;
    HeaderMetadata h(Umid{}, Umid{}, Profile(kP2Profile), f.services);
    ASSERT_EQ(h.AddDescriptor(2, DictionaryLabel("AES3_382_ClipWrap"), {25, 1}, false), 0);
    ASSERT_TRUE(h.file->descriptor.has_value());
    EXPECT_EQ(h.file->Children().back()->Name(), "AES3AudioDescriptor");
    EXPECT_EQ(h.SubDescriptor("AES3AudioDescriptor", 2), nullptr);  // not a multiple descriptor
}

}  // namespace
