// The MXF file writer end to end: files written from ffmpeg fixtures through
// the exported interface's core, walked KLV by KLV as SMPTE 377M lays them
// out, and read back by ffprobe, ffmpeg and mediainfo.
#include "TestSupport.h"
#include "mxf/mux/MuxInterface.h"
#include "mxf/mux/MxfFileWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using namespace mexora;
using mexora::mxf::Label;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kKag = 512;
constexpr int32_t kPresetXdcamHd = 32;
constexpr int32_t kPresetP2 = 0x11000;
constexpr uint32_t kFlagDropFrame = 1;
constexpr uint32_t kFlagB = 1u << 12;

uint64_t Be(const Bytes& b, size_t at, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++) v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}

// ---- a KLV walker written from SMPTE 377M ----

struct Klv {
    size_t key, value;
    uint64_t length;
    int berBytes;
    std::string name;  // the writer dictionary's name of the key; "?" when unknown
    bool Is(const char* n) const { return name == n; }
};

bool Prefix(const Bytes& f, size_t at, std::initializer_list<uint8_t> bytes) {
    size_t i = 0;
    for (uint8_t b : bytes) {
        if (f[at + i++] != b) return false;
    }
    return true;
}

std::string NameOf(const Bytes& f, size_t at) {
    Label key;
    std::memcpy(key.data(), f.data() + at, 16);
    // Partition packs differ from the dictionary's only in their status byte.
    if (Prefix(f, at, {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01})) {
        switch (f[at + 13]) {
            case 2:
                return "HeaderPartitionPack";
            case 3:
                return "BodyPartitionPack";
            case 4:
                return "FooterPartitionPack";
            default:
                break;
        }
    }
    if (Prefix(f, at, {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01, 0x0D, 0x01, 0x03, 0x01, 0x16}))
        return "SoundElement";
    if (Prefix(f, at, {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01}) && f[at + 8] == 0x03 && f[at + 11] == 0x10)
        return "Filler";  // either version of the fill key
    const char* n = mxf::DictionaryName(key);
    return n ? n : "?";
}

// Every KLV from the first byte; `whole` tells whether they ran back to
// back to the end.
std::vector<Klv> Walk(const Bytes& f, bool* whole) {
    std::vector<Klv> out;
    size_t at = 0;
    *whole = false;
    while (at + 17 <= f.size()) {
        Klv k;
        k.key = at;
        const uint8_t first = f[at + 16];
        k.berBytes = first < 0x80 ? 1 : 1 + (first & 0x7F);
        if (at + 16 + static_cast<size_t>(k.berBytes) > f.size()) return out;
        k.length = first < 0x80 ? first : Be(f, at + 17, k.berBytes - 1);
        k.value = at + 16 + static_cast<size_t>(k.berBytes);
        if (k.length > f.size() - k.value) return out;
        k.name = NameOf(f, at);
        out.push_back(k);
        at = k.value + static_cast<size_t>(k.length);
    }
    *whole = at == f.size();
    return out;
}

// The value of a local item of a set, empty when absent.
Bytes Item(const Bytes& f, const Klv& k, uint16_t tag) {
    for (size_t at = k.value; at + 4 <= k.value + k.length;) {
        const uint16_t t = static_cast<uint16_t>(Be(f, at, 2));
        const size_t n = static_cast<size_t>(Be(f, at + 2, 2));
        if (t == tag) return Bytes(f.begin() + static_cast<long>(at + 4), f.begin() + static_cast<long>(at + 4 + n));
        at += 4 + n;
    }
    return {};
}

struct Partition {
    size_t at;
    uint64_t thisPartition, previous, footer, headerBytes, indexBytes, bodyOffset;
    uint32_t indexSid, bodySid;
    std::vector<Label> containers;
};

Partition ReadPartition(const Bytes& f, const Klv& k) {
    const size_t v = k.value;
    Partition p{k.key,
                Be(f, v + 8, 8),
                Be(f, v + 16, 8),
                Be(f, v + 24, 8),
                Be(f, v + 32, 8),
                Be(f, v + 40, 8),
                Be(f, v + 52, 8),
                static_cast<uint32_t>(Be(f, v + 48, 4)),
                static_cast<uint32_t>(Be(f, v + 60, 4)),
                {}};
    const uint32_t n = static_cast<uint32_t>(Be(f, v + 80, 4));
    for (uint32_t i = 0; i < n; i++) {
        Label l;
        std::memcpy(l.data(), f.data() + v + 88 + 16 * i, 16);
        p.containers.push_back(l);
    }
    return p;
}

// ---- running the writer ----

int32_t RunMux(int32_t preset, uint32_t flags, int32_t startTc, const std::vector<std::string>& outputs,
               const std::vector<std::string>& inputs) {
    Settings s;
    Defaults(&s, preset);
    s.flags = flags;
    s.startTimecode = startTc;
    auto counter = std::make_shared<uint32_t>(0);
    MuxServices services;
    services.makeWriter = mxf::FileWriterFactory();
    services.writer.newGuid = [counter](uint8_t g[16]) {
        std::memset(g, 0xA5, 16);
        std::memcpy(g, counter.get(), 4);
        ++*counter;
    };
    services.writer.localTime = [] { return int64_t{134774 + 20000} * 864000000000; };
    Instance* inst = New(mexora_test::GetCallback, &s, services);
    if (!inst) return -1;
    int32_t r = 0;
    for (const std::string& o : outputs) r |= AddOutputFile(inst, 0, o.c_str());
    for (const std::string& i : inputs) r |= AddInputFile(inst, 0, i.c_str());
    if (r == 0) r = Mux(inst);
    const int32_t done = Done(inst, r);
    Free(inst);
    return r != 0 ? r : done;
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

bool HaveTool(const char* tool) {
    return Shell(std::string("command -v ") + tool + " 2>/dev/null").size() > 0;
}

// Channel k of a WAV as raw little-endian samples.
Bytes Channel(const std::string& wav, int k, int bits) {
    const std::string raw = wav + ".c" + std::to_string(k) + ".raw";
    if (!mexora_test::Ffmpeg("-i '" + wav + "' -af 'pan=mono|c0=c" + std::to_string(k) + "' -c:a pcm_s" +
                             std::to_string(bits) + "le -f s" + std::to_string(bits) + "le '" + raw + "'"))
        return {};
    return mexora_test::ReadFile(raw);
}

// The writer pads the last sound unit with silence to a whole frame.
void ExpectSoundEquals(const Bytes& got, const Bytes& want, const std::string& what) {
    ASSERT_GE(got.size(), want.size()) << what;
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << what;
    for (size_t i = want.size(); i < got.size(); i++) ASSERT_EQ(got[i], 0) << what << " padding at " << i;
}

// What the walk of an OP1a file finds.
struct Op1a {
    std::vector<Klv> klvs;
    std::vector<Partition> partitions;
    std::vector<size_t> systemItems;
    std::vector<size_t> systemIndex;       // of each system item in klvs
    std::vector<uint64_t> essenceOffsets;  // of each system item in the essence container
    std::vector<int64_t> unitsPerBody;     // edit units in each body partition
    std::vector<uint64_t> ripOffsets;
    std::vector<Bytes> entries;  // index entries, in segment order
    std::vector<uint32_t> editUnitByteCounts;
};

void WalkOp1a(const Bytes& f, Op1a* o) {
    bool whole = false;
    o->klvs = Walk(f, &whole);
    ASSERT_TRUE(whole) << "KLVs must run back to back to the end";
    uint64_t essence = 0;
    bool inEssence = false;
    for (size_t i = 0; i < o->klvs.size(); i++) {
        const Klv& k = o->klvs[i];
        if (k.name.find("PartitionPack") != std::string::npos) {
            EXPECT_EQ(k.key % kKag, 0u) << k.name;
            o->partitions.push_back(ReadPartition(f, k));
            if (k.Is("BodyPartitionPack")) o->unitsPerBody.push_back(0);
            EXPECT_EQ(o->partitions.back().bodyOffset, k.Is("BodyPartitionPack") ? essence : 0u);
        } else if (k.Is("PrimerPack") || k.Is("IndexTableSegment")) {
            EXPECT_EQ(k.key % kKag, 0u) << k.name;
        }
        if (k.Is("IndexTableSegment")) {
            o->editUnitByteCounts.push_back(static_cast<uint32_t>(Be(Item(f, k, 0x3F05), 0, 4)));
            const Bytes array = Item(f, k, 0x3F0A);
            const uint32_t n = static_cast<uint32_t>(Be(array, 0, 4)), len = static_cast<uint32_t>(Be(array, 4, 4));
            // Entries of 11 bytes and four per slice.
            EXPECT_EQ(len, 11u + 4u * Item(f, k, 0x3F08).at(0));
            for (uint32_t e = 0; e < n; e++)
                o->entries.emplace_back(array.begin() + 8 + e * len, array.begin() + 8 + (e + 1) * len);
        }
        if (k.Is("SystemMetadataPack")) {
            EXPECT_EQ(k.key % kKag, 0u) << "system item " << o->systemItems.size();
            o->systemItems.push_back(k.key);
            o->systemIndex.push_back(i);
            o->essenceOffsets.push_back(essence);
            ASSERT_FALSE(o->unitsPerBody.empty());
            o->unitsPerBody.back()++;
        }
        // The essence container: content packages, from a partition's first
        // system item to the next partition pack.
        if (k.name.find("PartitionPack") != std::string::npos || k.Is("RandomIndexPack")) inEssence = false;
        if (k.Is("SystemMetadataPack")) inEssence = true;
        if (inEssence) essence += 16 + static_cast<uint64_t>(k.berBytes) + k.length;
    }
    const Klv& rip = o->klvs.back();
    ASSERT_TRUE(rip.Is("RandomIndexPack"));
    for (size_t at = rip.value; at + 12 <= rip.value + rip.length; at += 12) o->ripOffsets.push_back(Be(f, at + 4, 8));
}

// The common checks of every partition pack against the walk.
void CheckPartitions(const Op1a& o) {
    ASSERT_GE(o.partitions.size(), 2u);
    const uint64_t footer = o.partitions.back().at;
    for (size_t i = 0; i < o.partitions.size(); i++) {
        const Partition& p = o.partitions[i];
        EXPECT_EQ(p.thisPartition, p.at);
        EXPECT_EQ(p.previous, i == 0 ? 0 : o.partitions[i - 1].at);
        EXPECT_EQ(p.footer, footer) << "partition " << i;
        // The header and index byte counts cover the KLVs after the pack
        // (with their fill) up to the essence or the next pack.
        size_t k = 0;
        while (o.klvs[k].key != p.at) k++;
        if (k + 1 < o.klvs.size() && o.klvs[k + 1].Is("Filler")) k++;  // the pack's own fill
        uint64_t header = 0, index = 0;
        for (size_t j = k + 1; j < o.klvs.size(); j++) {
            const Klv& x = o.klvs[j];
            if (x.name.find("PartitionPack") != std::string::npos || x.Is("SystemMetadataPack") ||
                x.Is("RandomIndexPack"))
                break;
            uint64_t& into = (x.Is("IndexTableSegment") || (index > 0 && x.Is("Filler"))) ? index : header;
            into += 16 + static_cast<uint64_t>(x.berBytes) + x.length;
        }
        EXPECT_EQ(p.headerBytes, header) << "partition " << i;
        EXPECT_EQ(p.indexBytes, index) << "partition " << i;
    }
}

struct Fixtures {
    std::string dir = mexora_test::TempDir();
    // `source` starts a lavfi source's options; a flat colour encodes quickly.
    std::string Video(const std::string& name, const std::string& args, double seconds,
                      const std::string& source = "testsrc=") {
        const std::string path = dir + "/" + name + ".m2v";
        if (!mexora_test::Ffmpeg("-f lavfi -i " + source + args + " -t " + std::to_string(seconds) +
                                 " -c:v mpeg2video -f mpeg2video '" + path + "'"))
            return "";
        return path;
    }
};

// ---- XDCAM HD ----

TEST(MxfFile, XdcamHdFileWalksAndReadsBack) {
    Fixtures fx;
    const std::string m2v = fx.dir + "/hd.m2v";
    ASSERT_TRUE(mexora_test::Ffmpeg(
        "-f lavfi -i testsrc=size=1920x1080:rate=30000/1001 -t 3 -c:v mpeg2video -pix_fmt yuv422p -b:v 50M "
        "-minrate 50M -maxrate 50M -bufsize 17825792 -g 15 -bf 2 -flags +ilme+ildct -f mpeg2video '" +
        m2v + "'"));
    const std::string wav = mexora_test::MakeWav(fx.dir, "a8.wav", 8, 24, 3.0);
    const std::string out = fx.dir + "/hd.mxf";
    ASSERT_EQ(RunMux(kPresetXdcamHd, kFlagDropFrame, 1800, {out}, {m2v, wav}), 0);
    const Bytes f = mexora_test::ReadFile(out);
    const Bytes video = mexora_test::ReadFile(m2v);

    Op1a o;
    WalkOp1a(f, &o);
    CheckPartitions(o);
    ASSERT_EQ(o.systemItems.size(), 90u);
    // Header, one body partition, footer; all in the RIP.
    ASSERT_EQ(o.partitions.size(), 3u);
    EXPECT_EQ(o.ripOffsets, (std::vector<uint64_t>{o.partitions[0].at, o.partitions[1].at, o.partitions[2].at}));
    // Index: VBR (byte count 0), one entry per edit unit at its system item.
    ASSERT_EQ(o.entries.size(), 90u);
    for (uint32_t c : o.editUnitByteCounts) EXPECT_EQ(c, 0u);
    int keys = 0;
    for (size_t i = 0; i < o.entries.size(); i++) {
        EXPECT_EQ(Be(o.entries[i], 3, 8), o.essenceOffsets[i]) << "entry " << i;
        // I pictures (flag 0x40) begin with a sequence header, and only they.
        const Klv& pic = o.klvs[o.systemIndex[i] + 2];
        ASSERT_TRUE(pic.Is("PictureElement"));
        const bool sequence = Prefix(f, pic.value, {0, 0, 1, 0xB3});
        EXPECT_TRUE(Prefix(f, pic.value, {0, 0, 1}) &&
                    (f[pic.value + 3] == 0xB3 || f[pic.value + 3] == 0xB8 || f[pic.value + 3] == 0x00))
            << "picture " << i << " does not start at a picture's start code";
        EXPECT_EQ((o.entries[i][2] & 0x40) != 0, sequence) << "entry " << i;
        keys += sequence ? 1 : 0;
    }
    // Continuity counts grow by one per content package.
    for (size_t i = 1; i < o.systemIndex.size(); i++) {
        const size_t a = o.klvs[o.systemIndex[i - 1]].value, b = o.klvs[o.systemIndex[i]].value;
        EXPECT_EQ(static_cast<uint16_t>(Be(f, b + 5, 2) - Be(f, a + 5, 2)), 1u) << "system item " << i;
    }
    // Delta entries: the system item, the picture, then one per sound element in slice 1.
    for (const Klv& k : o.klvs) {
        if (!k.Is("IndexTableSegment")) continue;
        const Bytes deltas = Item(f, k, 0x3F09);
        ASSERT_EQ(Be(deltas, 0, 4), 10u);
        const Klv& system = o.klvs[o.systemIndex[0]];
        const Klv& picture = o.klvs[o.systemIndex[0] + 2];
        const Klv& sound = o.klvs[o.systemIndex[0] + 3];
        EXPECT_EQ(Be(deltas, 8 + 6 * 1 + 2, 4), picture.key - system.key);
        EXPECT_EQ(deltas[8 + 6 * 1], 0xFF);  // the picture is reordered
        for (uint32_t e = 0; e < 8; e++) {
            EXPECT_EQ(deltas[8 + 6 * (2 + e) + 1], 1);  // slice 1
            EXPECT_EQ(Be(deltas, 8 + 6 * (2 + e) + 2, 4), e * (16 + 4 + sound.length));
        }
        break;
    }
    // The system item's rate (29.97 Hz) and its drop-frame time code from 1800.
    const Klv& system = o.klvs[o.systemIndex[0]];
    EXPECT_EQ(f[system.value + 1], 7);
    EXPECT_EQ(Bytes(f.begin() + static_cast<long>(system.value + 23), f.begin() + static_cast<long>(system.value + 28)),
              (Bytes{0x81, 0x42, 0x00, 0x01, 0x00}));
    EXPECT_GE(keys, 6);  // 90 pictures in GOPs of at most 15
    // The picture descriptor: 1080 lines (4), interlaced fields of 544 stored lines.
    for (const Klv& k : o.klvs) {
        if (!k.Is("MPEGVideoDescriptor")) continue;
        EXPECT_EQ(Item(f, k, 0x3215), Bytes{4});
        EXPECT_EQ(Be(Item(f, k, 0x3202), 0, 4), 544u);
        const Label coding = mxf::DictionaryLabel("MPEG2_422P_HL_LongGOP");
        EXPECT_EQ(Item(f, k, 0x3201), Bytes(coding.begin(), coding.end()));
    }

    // Independent readers.
    EXPECT_EQ(Shell("ffprobe -v warning '" + out + "' 2>&1"), "");
    EXPECT_NE(Shell("ffprobe -v error -show_format '" + out + "'").find("TAG:timecode=00:01:00;02"), std::string::npos);
    ASSERT_TRUE(mexora_test::Ffmpeg("-i '" + out + "' -map 0:v -c copy -f mpeg2video '" + out + ".m2v'"));
    EXPECT_TRUE(mexora_test::ReadFile(out + ".m2v") == video);
    for (int k = 0; k < 8; k += 7) {
        const std::string raw = out + ".a" + std::to_string(k);
        ASSERT_TRUE(
            mexora_test::Ffmpeg("-i '" + out + "' -map 0:a:" + std::to_string(k) + " -c copy -f s24le '" + raw + "'"));
        ExpectSoundEquals(mexora_test::ReadFile(raw), Channel(wav, k, 24), "channel " + std::to_string(k));
    }
    // Packets in display order, K on I pictures only, as many in every track.
    const std::string packets =
        Shell("ffprobe -v error -show_entries packet=stream_index,pts,flags -of csv=p=0 '" + out + "'");
    std::vector<int64_t> pts;
    std::vector<int> counts(9, 0);
    int keyPackets = 0;
    for (size_t at = 0; at < packets.size();) {
        const size_t eol = packets.find('\n', at);
        const std::string line = packets.substr(at, eol - at);
        at = eol == std::string::npos ? packets.size() : eol + 1;
        const int stream = std::atoi(line.c_str());
        ASSERT_LT(stream, 9);
        counts[static_cast<size_t>(stream)]++;
        if (stream == 0) pts.push_back(std::atoll(line.c_str() + line.find(',') + 1));
        if (stream == 0 && line.find(",K") != std::string::npos) keyPackets++;
    }
    for (int c : counts) EXPECT_EQ(c, 90);
    // Pictures come in coded order with their display times: 0 to 89 once each, not in order.
    std::vector<int64_t> sorted = pts;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); i++) ASSERT_EQ(sorted[i], static_cast<int64_t>(i));
    EXPECT_NE(pts, sorted);
    EXPECT_EQ(keyPackets, keys);
    if (HaveTool("mediainfo")) {
        const std::string mi = Shell("mediainfo '" + out + "'");
        EXPECT_NE(mi.find("OP-1a"), std::string::npos) << mi;
        EXPECT_NE(mi.find("Closed / Complete"), std::string::npos) << mi;
        EXPECT_NE(mi.find("XDCAM HD422"), std::string::npos) << mi;
    }
}

TEST(MxfFile, XdcamBodyPartitionsByRateAndFlagB) {
    struct Case {
        const char* source;
        double seconds;
        uint32_t flags;
        int64_t limit;  // edit units of a full body partition
        uint8_t packageRate, signalStandard;
    };
    const Case cases[] = {
        {"size=320x240:rate=25 -bf 0", 20.5, 0, 240, 4, 4},
        {"size=1280x720:rate=50 -bf 0", 10.5, 0, 480, 10, 5},
        {"size=320x240:rate=25 -bf 2", 2, kFlagB, 240, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + (c.flags ? " flag B" : ""));
        Fixtures fx;
        const std::string m2v = fx.Video("v", std::string(c.source) + " -g 12 -b:v 2M", c.seconds, "color=c=gray:");
        ASSERT_FALSE(m2v.empty());
        const std::string out = fx.dir + "/p.mxf";
        ASSERT_EQ(RunMux(kPresetXdcamHd, c.flags, 0, {out}, {m2v}), 0);
        const Bytes f = mexora_test::ReadFile(out);
        Op1a o;
        WalkOp1a(f, &o);
        CheckPartitions(o);
        const int64_t frames = static_cast<int64_t>(o.systemItems.size());
        // A GOP starts a new partition unless 12 more units still fit.
        std::vector<int64_t> expected = {0};
        for (int64_t i = 0; i < frames; i++) {
            const bool gop = Prefix(f, o.klvs[o.systemIndex[static_cast<size_t>(i)] + 2].value, {0, 0, 1, 0xB3});
            if (gop && expected.back() > 0 && expected.back() + 12 > c.limit) expected.push_back(0);
            expected.back()++;
        }
        EXPECT_EQ(o.unitsPerBody, expected);
        if (c.flags == 0) {
            EXPECT_EQ(o.unitsPerBody[0], c.limit);
        }
        // The content package rate of the edit rate and the signal standard of the lines.
        for (const Klv& k : o.klvs) {
            if (k.Is("SystemMetadataPack")) {
                EXPECT_EQ(f[k.value + 1], c.packageRate);
                break;
            }
        }
        for (const Klv& k : o.klvs) {
            if (k.Is("MPEGVideoDescriptor")) {
                EXPECT_EQ(Item(f, k, 0x3215), Bytes{c.signalStandard});
            }
        }
        // Flag B: the old MPEG label (version byte 01) and no body partitions in the RIP.
        const Label& label = o.partitions[0].containers.at(0);
        EXPECT_EQ(label[7], c.flags ? 1 : 2);
        const size_t bodies = o.partitions.size() - 2;
        EXPECT_EQ(o.ripOffsets.size(), c.flags ? 2u : bodies + 2);
        EXPECT_EQ(Shell("ffprobe -v warning '" + out + "' 2>&1"), "");
    }
}

}  // namespace

namespace {

// ---- P2 ----

// An "AES3" stream: the 8-byte header (mono, 24 bits, 25 Hz frames) and PCM.
Bytes Aes3Stream(const Bytes& pcm) {
    Bytes b = {'A', 'E', 'S', '3', 12, static_cast<uint8_t>((2 << 5) | (2 << 3)), 0, 0};
    b.insert(b.end(), pcm.begin(), pcm.end());
    return b;
}

struct OpAtom {
    std::vector<Klv> klvs;
    const Klv* element = nullptr;
    const Klv* segment = nullptr;
    Partition header{};
};

void WalkOpAtom(const Bytes& f, OpAtom* o) {
    bool whole = false;
    o->klvs = Walk(f, &whole);
    ASSERT_TRUE(whole);
    for (const Klv& k : o->klvs) {
        if (k.Is("HeaderPartitionPack")) o->header = ReadPartition(f, k);
        if (k.Is("DVElement") || k.Is("SoundElement")) o->element = &k;
        if (k.Is("IndexTableSegment")) o->segment = &k;
    }
    ASSERT_NE(o->element, nullptr);
    ASSERT_NE(o->segment, nullptr);
    // OP-Atom, and the clip's one element with an 8-byte length.
    EXPECT_EQ(f[o->header.at + 16 + 4 + 64 + 12], 0x10);
    EXPECT_EQ(f[o->header.at + 16 + 4 + 64 + 13], 0x03);
    EXPECT_EQ(o->element->berBytes, 9);
}

TEST(MxfFile, P2DvClipsAndSoundReadBack) {
    struct Case {
        const char* source;
        const char* pixels;
        double seconds;
        int rate;
        uint8_t container;  // byte 14 of the DV essence container label
    };
    // DV25 runs 10 s: its element passes the 16,777,215 bytes a 4-byte length holds.
    const Case cases[] = {
        {"size=720x576:rate=25", "yuv420p", 10, 25, 0x02}, {"size=720x576:rate=25", "yuv411p", 1, 25, 0x41},
        {"size=720x576:rate=25", "yuv422p", 1, 25, 0x51},  {"size=1440x1080:rate=25", "yuv422p", 1, 25, 0x61},
        {"size=960x720:rate=50", "yuv422p", 1, 50, 0x63},
    };
    const bool mediainfo = HaveTool("mediainfo");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.pixels);
        Fixtures fx;
        const std::string dv = fx.dir + "/in.dv";
        ASSERT_TRUE(mexora_test::Ffmpeg("-f lavfi -i testsrc=" + std::string(c.source) + " -t " +
                                        std::to_string(c.seconds) + " -c:v dvvideo -pix_fmt " + c.pixels + " -f dv '" +
                                        dv + "'"));
        const Bytes input = mexora_test::ReadFile(dv);
        const std::string out = fx.dir + "/v.mxf";
        ASSERT_EQ(RunMux(kPresetP2, 0, 0, {out}, {dv}), 0);
        const Bytes f = mexora_test::ReadFile(out);
        OpAtom o;
        WalkOpAtom(f, &o);
        EXPECT_EQ(o.element->length, input.size());
        ASSERT_FALSE(o.header.containers.empty());
        EXPECT_EQ(o.header.containers[0][14], c.container);
        EXPECT_EQ(o.header.containers[0][15], 0x02);  // clip-wrapped
        // The index: every frame the same size, from edit unit 0.
        const int64_t frames = static_cast<int64_t>(c.seconds * c.rate + 0.5);
        EXPECT_EQ(Be(Item(f, *o.segment, 0x3F05), 0, 4), input.size() / static_cast<uint64_t>(frames));
        EXPECT_EQ(Be(Item(f, *o.segment, 0x3F0C), 0, 8), 0u);
        EXPECT_EQ(static_cast<int64_t>(Be(Item(f, *o.segment, 0x3F0D), 0, 8)), frames);
        EXPECT_EQ(Shell("ffprobe -v warning '" + out + "' 2>&1"), "");
        ASSERT_TRUE(mexora_test::Ffmpeg("-i '" + out + "' -c copy -f dv '" + out + ".dv'"));
        EXPECT_TRUE(mexora_test::ReadFile(out + ".dv") == input);
        if (mediainfo) {
            EXPECT_NE(Shell("mediainfo '" + out + "'").find("OP-Atom"), std::string::npos);
        }
    }

    // A mono "AES3" stream: its own file, edit units of one sample.
    Fixtures fx;
    Bytes pcm(48000 * 3);
    for (size_t i = 0; i < pcm.size(); i++) pcm[i] = static_cast<uint8_t>(i * 7 + i / 3);
    ASSERT_TRUE(mexora_test::WriteFile(fx.dir + "/s.aes", Aes3Stream(pcm)));
    const std::string out = fx.dir + "/a.mxf";
    ASSERT_EQ(RunMux(kPresetP2, 0, 0, {out}, {fx.dir + "/s.aes"}), 0);
    const Bytes f = mexora_test::ReadFile(out);
    OpAtom o;
    WalkOpAtom(f, &o);
    EXPECT_EQ(o.element->length, pcm.size());
    EXPECT_EQ(Be(Item(f, *o.segment, 0x3F05), 0, 4), 3u);
    EXPECT_EQ(Be(Item(f, *o.segment, 0x3F0D), 0, 8), 48000u);
    EXPECT_EQ(Shell("ffprobe -v warning '" + out + "' 2>&1"), "");
    ASSERT_TRUE(mexora_test::Ffmpeg("-i '" + out + "' -c copy -f s24le '" + out + ".raw'"));
    EXPECT_TRUE(mexora_test::ReadFile(out + ".raw") == pcm);
}

// ---- the writer behind a host double: what it writes before the end ----

class Host : public WriterHost {
public:
    explicit Host(int32_t profile, int32_t streams, int16_t fileNumber = 0) : streams_(streams) {
        settings_.profile = profile;
        settings_.fileNumber = fileNumber;
    }
    void QueueOutput(OutputPiece piece) override {
        if (piece.position < 0) appended[piece.output] += static_cast<int64_t>(piece.data.size());
    }
    void SetOverLimit() override { overLimit = true; }
    void ClearOverLimit() override { overLimit = false; }
    const EngineSettings& Settings() const override { return settings_; }
    int32_t StreamCount() const override { return streams_; }
    const WriterServices& Services() const override { return services_; }
    std::map<int32_t, int64_t> appended;
    bool overLimit = false;

private:
    EngineSettings settings_;
    int32_t streams_;
    WriterServices services_;
};

// Feeds the streams' bytes in 64 KiB pieces, taking turns.
void Feed(mxf::MxfFileWriter& w, const std::vector<std::pair<int32_t, Bytes>>& streams) {
    constexpr size_t kPiece = 64 * 1024;
    for (size_t at = 0;; at += kPiece) {
        bool any = false;
        for (const auto& s : streams) {
            if (at >= s.second.size()) continue;
            any = true;
            const size_t n = std::min(kPiece, s.second.size() - at);
            ASSERT_EQ(w.add_sample(s.first, s.second.data() + at, static_cast<uint32_t>(n)), 0);
        }
        if (!any) return;
    }
}

TEST(MxfFile, WritesWhileUnitsAreComplete) {
    Fixtures fx;
    // Low-rate video alone: several pictures per piece, all written but the open GOP.
    {
        const std::string m2v = fx.Video("sd", "size=720x576:rate=25 -g 12 -b:v 2M", 3);
        Host host(0, 1);
        mxf::MxfFileWriter w(host);
        ASSERT_EQ(w.start(), 0);
        ASSERT_EQ(w.add_stream(10000, 0), 0);
        Feed(w, {{10000, mexora_test::ReadFile(m2v)}});
        EXPECT_GE(w.EditUnitsWritten(), 75 - 12 - 2);
        ASSERT_EQ(w.end_of_stream(10000), 0);
        EXPECT_EQ(w.EditUnitsWritten(), 75);
    }
    // 23.976 Hz pictures with their sound: edit units go out before the end.
    {
        const std::string m2v = fx.Video("film", "size=320x240:rate=24000/1001 -g 12 -b:v 1M", 3);
        Bytes sound = {'A', 'E', 'S', '3', 12, static_cast<uint8_t>(2 << 3), 0, 0};  // rate code 1 (23.976 Hz)
        sound.resize(8 + 72 * 2002 * 3, 0x11);
        Host host(0, 2);
        mxf::MxfFileWriter w(host);
        ASSERT_EQ(w.start(), 0);
        ASSERT_EQ(w.add_stream(10000, 0), 0);
        ASSERT_EQ(w.add_stream(10001, 0), 0);
        Feed(w, {{10000, mexora_test::ReadFile(m2v)}, {10001, sound}});
        EXPECT_GE(w.EditUnitsWritten(), 72 - 12 - 2);
    }
    // P2 DV with its sound: both files grow before the end.
    {
        const std::string dv = fx.dir + "/p2.dv";
        ASSERT_TRUE(
            mexora_test::Ffmpeg("-f lavfi -i testsrc=size=720x576:rate=25 -t 1 -c:v dvvideo -pix_fmt yuv420p "
                                "-f dv '" +
                                dv + "'"));
        Host host(3, 2);
        mxf::MxfFileWriter w(host);
        ASSERT_EQ(w.start(), 0);
        ASSERT_EQ(w.add_stream(10000, 0), 0);
        ASSERT_EQ(w.add_stream(10001, 1), 0);
        Feed(w, {{10000, mexora_test::ReadFile(dv)}, {10001, Aes3Stream(Bytes(25 * 1920 * 3, 0x22))}});
        const int64_t header = 32620;
        EXPECT_GE(host.appended[0], header + 24 * 144000);
        EXPECT_GE(host.appended[1], header + 24 * 1920 * 3);
        ASSERT_EQ(w.end_of_stream(10000), 0);
        ASSERT_EQ(w.end_of_stream(10001), 0);
        EXPECT_TRUE(w.finished());
    }
}

TEST(MxfFile, RefusedAndBrokenInputs) {
    Fixtures fx;
    const std::string m2v = fx.Video("v", "size=320x240:rate=25 -g 12", 1);
    const Bytes video = mexora_test::ReadFile(m2v);
    const std::string dv = fx.dir + "/in.dv";
    ASSERT_TRUE(mexora_test::Ffmpeg("-f lavfi -i testsrc=size=720x576:rate=25 -t 0.2 -c:v dvvideo -f dv '" + dv + "'"));
    const std::string h264 = fx.dir + "/in.h264";
    const bool haveH264 =
        mexora_test::Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -t 0.4 -c:v libx264 -f h264 '" + h264 + "'");
    Bytes aspect0 = video;
    aspect0[7] &= 0x0F;  // aspect_ratio_information 0 is forbidden
    ASSERT_TRUE(mexora_test::WriteFile(fx.dir + "/aspect0.m2v", aspect0));
    ASSERT_TRUE(mexora_test::WriteFile(fx.dir + "/short.m2v", Bytes(video.begin(), video.begin() + 3000)));
    const Bytes dvBytes = mexora_test::ReadFile(dv);
    ASSERT_TRUE(mexora_test::WriteFile(fx.dir + "/short.dv", Bytes(dvBytes.begin(), dvBytes.begin() + 50000)));

    struct Case {
        int32_t preset;
        std::string input;
        bool refused;  // -119 in the add_sample or end_of_stream message
    };
    std::vector<Case> cases = {
        {kPresetXdcamHd, dv, true},                       // DV has no XDCAM HD track number
        {kPresetP2, m2v, true},                           // nor MPEG-2 a P2 one
        {kPresetXdcamHd, fx.dir + "/aspect0.m2v", true},  // not a sequence header
        {kPresetP2, fx.dir + "/short.dv", true},          // never a whole frame
        {kPresetXdcamHd, fx.dir + "/short.m2v", false},   // a partial picture is written as it is
    };
    if (haveH264) cases.push_back({kPresetXdcamHd, h264, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        mexora_test::Messages().clear();
        const std::string out = fx.dir + "/bad.mxf";
        const int32_t r = RunMux(c.preset, 0, 0, {out}, {c.input});
        if (c.refused) {
            EXPECT_EQ(r, 1);
            bool saw = false;
            for (const std::string& m : mexora_test::Messages()) saw = saw || m.find("code -119") != std::string::npos;
            EXPECT_TRUE(saw);
        } else if (r == 0) {
            EXPECT_EQ(Shell("ffprobe -v error '" + out + "' 2>&1"), "");
        } else {
            EXPECT_FALSE(mexora_test::Messages().empty());
        }
    }
}

}  // namespace

namespace {

TEST(MxfFile, OverTheOutputLimitUntilTheHostTakesOutput) {
    Host host(3, 1);
    mxf::MxfFileWriter w(host);
    ASSERT_EQ(w.start(), 0);
    ASSERT_EQ(w.add_stream(10000, 0), 0);
    const Bytes header = Aes3Stream({});
    ASSERT_EQ(w.add_sample(10000, header.data(), static_cast<uint32_t>(header.size())), 0);
    const Bytes piece(1024 * 1024, 0x33);
    for (int i = 0; i < 49; i++) ASSERT_EQ(w.add_sample(10000, piece.data(), static_cast<uint32_t>(piece.size())), 0);
    EXPECT_FALSE(host.overLimit);  // 49 MiB and 8 bytes taken in
    ASSERT_EQ(w.add_sample(10000, piece.data(), static_cast<uint32_t>(piece.size())), 0);
    EXPECT_TRUE(host.overLimit);  // past 50 MiB
    w.output_taken(2 * 1024 * 1024);
    EXPECT_FALSE(host.overLimit);
}

}  // namespace

namespace {

TEST(MxfFile, P2FileNumbersMustFitTheClipName) {
    for (int16_t number : {int16_t{0}, int16_t{9999}}) {
        Host host(3, 1, number);
        EXPECT_EQ(mxf::MxfFileWriter(host).start(), 0) << number;
    }
    for (int16_t number : {int16_t{-1}, int16_t{10000}}) {
        Host host(3, 1, number);
        EXPECT_EQ(mxf::MxfFileWriter(host).start(), mxf::kFileWriterBadArgument) << number;
    }
}

}  // namespace
