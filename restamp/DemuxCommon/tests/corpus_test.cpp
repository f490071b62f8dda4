// Checks against streams written at test time by Debian's ffmpeg, with
// ffprobe as the independent oracle. Skipped when ffmpeg is not installed.
#include "restamp/DemuxCommon/MainParser.h"
#include "restamp/DemuxCommon/TimeMarkerCore.h"
#include "restamp/parsers/EsStreams.h"
#include "restamp/parsers/M2TS.h"
#include "restamp/parsers/MH264.h"
#include "restamp/parsers/PVA.h"

#include "codec/common/TimeStamps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Shell(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& d) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(d.data()), std::streamsize(d.size()));
}

const uint8_t kSeqStart[] = {0, 0, 1, 0xB3};
constexpr uint32_t kStrayPts = 0x7654321;
const uint8_t kGopStart[] = {0, 0, 1, 0xB8};

size_t Find(const std::vector<uint8_t>& d, const uint8_t* what, size_t n, size_t from) {
    auto it = std::search(d.begin() + long(std::min(from, d.size())), d.end(), what, what + n);
    return size_t(it - d.begin());
}

// The first sequence header run (up to the GOP header behind it).
std::vector<uint8_t> FirstSequenceHeader(const std::vector<uint8_t>& es) {
    const size_t a = Find(es, kSeqStart, 4, 0), b = Find(es, kGopStart, 4, a);
    return b < es.size() ? std::vector<uint8_t>(es.begin() + long(a), es.begin() + long(b)) : std::vector<uint8_t>();
}

// Drops every copy of `header` that stands right before a GOP header, but the first.
std::vector<uint8_t> DropHeaders(const std::vector<uint8_t>& es, const std::vector<uint8_t>& header, size_t* dropped) {
    std::vector<uint8_t> pattern = header;
    pattern.insert(pattern.end(), kGopStart, kGopStart + 4);
    std::vector<uint8_t> out;
    size_t at = 0, n = 0;
    bool first = true;
    for (;;) {
        const size_t h = Find(es, pattern.data(), pattern.size(), at);
        if (h >= es.size()) break;
        out.insert(out.end(), es.begin() + long(at), es.begin() + long(h));
        if (first) out.insert(out.end(), header.begin(), header.end());
        n += !first;
        first = false;
        at = h + header.size();
    }
    out.insert(out.end(), es.begin() + long(at), es.end());
    if (dropped) *dropped = n;
    return out;
}

std::vector<uint8_t> StripRepeatedSequenceHeaders(const std::vector<uint8_t>& es) {
    return DropHeaders(es, FirstSequenceHeader(es), nullptr);
}

// A PVA file from an MPEG video stream without B pictures (one packet per
// picture, PTS in the video header) and an MPEG audio stream (one PES packet
// per frame); `stray` adds a stream-id-3 packet whose payload holds a
// plausible video header with the PTS `strayPts`.
std::vector<uint8_t> BuildPva(const std::vector<uint8_t>& video, const std::vector<uint8_t>& audio, bool stray,
                              uint32_t strayPts) {
    constexpr uint32_t kBase = 36000;  // first PTS (90 kHz)
    constexpr uint32_t kPictureTicks = 3600;
    constexpr uint32_t kFrameTicks = 2160;  // 1,152 samples at 48 kHz
    std::vector<uint8_t> out;
    uint8_t counter = 0;
    auto packet = [&](uint8_t id, bool ptsFlag, const std::vector<uint8_t>& body) {
        const size_t len = body.size();
        const uint8_t h[8] = {'A',         'V', id, counter++, 0x55, uint8_t(ptsFlag ? 0x10 : 0), uint8_t(len >> 8),
                              uint8_t(len)};
        out.insert(out.end(), h, h + 8);
        out.insert(out.end(), body.begin(), body.end());
    };
    constexpr size_t kMaxPayload = 6000;  // readers refuse longer PVA packets
    auto videoPacket = [&](uint32_t pts, const uint8_t* d, size_t n) {
        for (bool first = true; n; first = false) {
            const size_t k = std::min(n, kMaxPayload);
            std::vector<uint8_t> body;
            if (first) body = {uint8_t(pts >> 24), uint8_t(pts >> 16), uint8_t(pts >> 8), uint8_t(pts)};
            body.insert(body.end(), d, d + k);
            packet(1, first, body);
            d += k;
            n -= k;
        }
    };
    // Picture starts split the video.
    std::vector<size_t> cuts;
    const uint8_t pic[] = {0, 0, 1, 0};
    for (size_t i = Find(video, pic, 4, 0); i < video.size(); i = Find(video, pic, 4, i + 4)) cuts.push_back(i);
    if (!cuts.empty()) cuts[0] = 0;
    cuts.push_back(video.size());
    // MPEG audio frames by their headers.
    std::vector<std::pair<size_t, size_t>> frames;
    for (size_t i = 0; i + 4 <= audio.size();) {
        static const uint16_t kRates[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
        const uint32_t rate = kRates[audio[i + 2] >> 4];
        const size_t len = rate ? 144 * rate * 1000 / 48000 + ((audio[i + 2] >> 1) & 1) : 0;
        if (audio[i] != 0xFF || !len) break;
        frames.push_back({i, std::min(len, audio.size() - i)});
        i += len;
    }
    size_t a = 0;
    for (size_t v = 0; v + 1 < cuts.size(); ++v) {
        const uint32_t vpts = kBase + kPictureTicks * uint32_t(v);
        while (a < frames.size() && kBase + kFrameTicks * a <= vpts) {
            std::vector<uint8_t> pes = {0, 0, 1, 0xC0, 0, 0, 0x80, 0x80, 5};
            uint8_t t[5];
            MpegCommon::EncodeTimeStamp(t, 2, kBase + kFrameTicks * a);
            pes.insert(pes.end(), t, t + 5);
            pes.insert(pes.end(), audio.begin() + long(frames[a].first),
                       audio.begin() + long(frames[a].first + frames[a].second));
            const size_t l = pes.size() - 6;
            pes[4] = uint8_t(l >> 8);
            pes[5] = uint8_t(l);
            packet(2, true, pes);
            ++a;
        }
        videoPacket(vpts, video.data() + cuts[v], cuts[v + 1] - cuts[v]);
        if (stray && v == cuts.size() / 2) {
            std::vector<uint8_t> body(64, 0x11);
            const uint8_t forged[12] = {'A',
                                        'V',
                                        1,
                                        0,
                                        0x55,
                                        0x10,
                                        0,
                                        40,
                                        uint8_t(strayPts >> 24),
                                        uint8_t(strayPts >> 16),
                                        uint8_t(strayPts >> 8),
                                        uint8_t(strayPts)};
            std::copy(forged, forged + 12, body.begin() + 10);
            packet(3, false, body);
        }
    }
    return out;
}

struct CorpusFile {
    const char* size;  // picture size
    const char* name;
    const char* ffmpegArgs;  // output options
    uint32_t type;           // MainParserStreamType we expect
    const char* ffprobeFormat;
};

const char* kAudioIn = "-f lavfi -i sine=frequency=440:sample_rate=48000";

// 576-line MPEG-2 (dvd.vob, video.m2v) has slice start codes 0x20-0x24,
// which MPEG-4 Part 2 would take for video object layers: still MPEG video.
const CorpusFile kCorpus[] = {
    {"352x288", "vob_mp2.vob", "-c:v mpeg2video -b:v 2M -c:a mp2 -f vob", kTypeProgramStream, "mpeg"},
    {"352x288", "vob_ac3.vob", "-c:v mpeg2video -b:v 2M -c:a ac3 -f vob", kTypeProgramStream, "mpeg"},
    {"720x576", "dvd.vob", "-c:v mpeg2video -b:v 2M -c:a mp2 -f dvd", kTypeProgramStream, "mpeg"},
    {"352x288", "system.mpg", "-c:v mpeg1video -b:v 1M -c:a mp2 -f mpeg", kTypeSystemStream, "mpeg"},
    {"352x288", "vcd.mpg", "-c:v mpeg1video -b:v 1M -c:a mp2 -f vcd", kTypeSystemStream, "mpeg"},
    {"352x288", "transport.ts", "-c:v mpeg2video -c:a mp2 -f mpegts", kTypeTransportStream, "mpegts"},
    {"352x288", "ts_ac3.ts", "-c:v mpeg2video -c:a ac3 -f mpegts", kTypeTransportStream, "mpegts"},
    {"352x288", "ts_h264.ts", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -f mpegts",
     kTypeTransportStream, "mpegts"},
    {"352x288", "video.m1v", "-an -c:v mpeg1video -f mpeg1video", kTypeVideoOnly, "mpegvideo"},
    {"720x576", "video.m2v", "-an -c:v mpeg2video -f mpeg2video", kTypeVideoOnly, "mpegvideo"},
    {"352x288", "audio.mp2", "-vn -c:a mp2 -f mp2", kTypeAudioOnly, "mp3"},
    {"352x288", "audio.mp3", "-vn -c:a libmp3lame -f mp3", kTypeAudioOnly, "mp3"},
    {"352x288", "audio.ac3", "-vn -c:a ac3 -f ac3", kTypeAC3Only, "ac3"},
    {"352x288", "video.h264", "-an -c:v libx264 -preset ultrafast -f h264", kTypeH264Only, "h264"},
};

// Program and transport streams whose streams get the library's PES
// elements, with ffprobe's codec names of their two streams.
struct ContainerFile {
    const char* name;
    const char* ffmpegArgs;
    const char* codecs[2];
};
const ContainerFile kContainers[] = {
    {"lib_h264.vob",
     "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a pcm_s16be -ar 44100 -f vob",
     {"h264", "pcm_dvd"}},
    {"lib_m4v.vob", "-c:v mpeg4 -c:a ac3 -f vob", {"mpeg4", "ac3"}},
    {"lib_h264.ts", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -f mpegts", {"h264", "aac"}},
    {"lib_s302m.ts", "-c:v mpeg4 -c:a s302m -ac 2 -strict -2 -f mpegts", {"mpeg4", "s302m"}},
    // AC-3 as stream type 0x06 passes for AES3 (its payload's fourth byte
    // has a low nibble of 0); its packets and their times still count.
    {"lib_sysb.ts", "-c:v mpeg2video -c:a ac3 -mpegts_flags system_b -f mpegts", {"mpeg2video", "ac3"}},
};

// Receives the raw times that the parser reports.
class Recorder : public AMainParserOwner {
public:
    void AttachAudioRoot(BS::AStreamElement*) override {}
    void AttachAC3Root(BS::AStreamElement*) override {}
    void AttachSystemStream(BS::AStreamElement*, BS::CBaseState*) override {}
    uint32_t OnTime(const CStreamKey& k, int64_t t) override {
        if (t != kNoTime) times[{k.streamId, k.subStreamId}].push_back(t);
        return 0;
    }
    uint32_t OnPayload(const uint8_t*, uint32_t, int64_t t, const CStreamKey& k) override { return OnTime(k, t); }
    std::map<std::pair<uint8_t, uint8_t>, std::vector<int64_t>> times;
};

class Corpus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Shell("command -v ffmpeg ffprobe").empty()) return;
        char tmpl[] = "/tmp/restamp_corpus_XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        for (const auto& f : kCorpus) {
            std::string cmd = std::string("ffmpeg -v error -y -f lavfi -i testsrc2=rate=25:size=") + f.size + " " +
                              kAudioIn + " -t 3 " + f.ffmpegArgs + " " + dir_ + "/" + f.name + " 2>&1";
            Shell(cmd);
        }
        // 15 Mbit/s, so that the first stamped chunk comes within 2.5 s.
        Shell(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 ") + kAudioIn +
              " -t 4 -vf noise=alls=60:allf=t -c:v mpeg2video -b:v 15M -maxrate 15M -minrate 15M"
              " -bufsize 1835k -c:a mp2 -f vob " +
              dir_ + "/hi.vob 2>&1");
        Shell("cat " + dir_ + "/hi.vob " + dir_ + "/hi.vob > " + dir_ + "/joined.vob");
        // Two transport streams, the second with its clock 100 s on; a 192-byte
        // (M2TS) stream; the first file with 16 bytes after every packet.
        const std::string tsIn = std::string("ffmpeg -v error -y -f lavfi -i testsrc2=rate=25:size=352x288 ") +
                                 kAudioIn + " -t 3 -c:v mpeg2video -c:a mp2 -f mpegts ";
        Shell(tsIn + "-output_ts_offset 100 " + dir_ + "/later.ts 2>&1");
        Shell("cat " + dir_ + "/transport.ts " + dir_ + "/later.ts > " + dir_ + "/joined.ts");
        Shell(tsIn + "-mpegts_m2ts_mode 1 " + dir_ + "/m2ts.m2ts 2>&1");
        // MPEG-1 video with its sequence header only once (ffmpeg repeats it at
        // every GOP), in a system stream.
        Shell(
            "ffmpeg -v error -y -f lavfi -i testsrc2=rate=25:size=352x288 -t 8 -c:v mpeg1video -b:v 1M -f mpeg1video " +
            dir_ + "/repeats.m1v 2>&1");
        auto es = ReadFile(dir_ + "/repeats.m1v");
        WriteFile(dir_ + "/once.m1v", StripRepeatedSequenceHeaders(es));
        Shell("ffmpeg -v error -y -f mpegvideo -i " + dir_ + "/once.m1v -c copy -f mpeg " + dir_ + "/once.mpg 2>&1");
        // PVA, with and without a stray packet of stream id 3.
        Shell("ffmpeg -v error -y -f lavfi -i testsrc2=rate=25:size=352x288 -t 3 -c:v mpeg2video -bf 0 -f mpeg2video " +
              dir_ + "/pva.m2v 2>&1");
        Shell(std::string("ffmpeg -v error -y ") + kAudioIn + " -t 3 -c:a mp2 -f mp2 " + dir_ + "/pva.mp2 2>&1");
        const auto pv = ReadFile(dir_ + "/pva.m2v"), pa = ReadFile(dir_ + "/pva.mp2");
        WriteFile(dir_ + "/plain.pva", BuildPva(pv, pa, false, 0));
        WriteFile(dir_ + "/stray.pva", BuildPva(pv, pa, true, kStrayPts));
        // Time stamps 4 s ahead of the PCR.
        Shell(tsIn + "-muxdelay 4 " + dir_ + "/lead.ts 2>&1");
        const auto ts = ReadFile(dir_ + "/transport.ts");
        std::vector<uint8_t> ts204;
        for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
            ts204.insert(ts204.end(), ts.begin() + long(i), ts.begin() + long(i + 188));
            ts204.insert(ts204.end(), 16, uint8_t(i));
        }
        WriteFile(dir_ + "/ts204.ts", ts204);
        // Bare H.264: baseline at 25 (order count type 2), the default with
        // B pyramids at 30 (type 0), and RGB input (profile 244, 4:4:4); bare
        // MPEG-2 with I B B P.
        const std::string bare = "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=";
        Shell(bare + "25 -t 8 -c:v libx264 -profile:v baseline -pix_fmt yuv420p -f h264 " + dir_ + "/base25.h264 2>&1");
        Shell(bare + "30 -t 8 -c:v libx264 -pix_fmt yuv420p -f h264 " + dir_ + "/pyramid30.h264 2>&1");
        Shell("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -t 2 -c:v libx264 -f h264 " + dir_ +
              "/rgb25.h264 2>&1");
        Shell(bare + "25 -t 8 -c:v mpeg2video -bf 2 -r 25 -f mpeg2video " + dir_ + "/ibbp.m2v 2>&1");
        // E-AC-3, and AC-3 with its bytes swapped in pairs.
        Shell(std::string("ffmpeg -v error -y ") + kAudioIn + " -t 3 -c:a eac3 -f eac3 " + dir_ + "/audio.eac3 2>&1");
        Shell("dd if=" + dir_ + "/audio.ac3 of=" + dir_ + "/swapped.ac3 conv=swab status=none");
        // Containers with the streams the library's own PES elements read.
        for (const auto& c : kContainers)
            Shell(std::string("ffmpeg -v error -y -f lavfi -i testsrc2=rate=25:size=352x288 ") + kAudioIn + " -t 3 " +
                  c.ffmpegArgs + " " + dir_ + "/" + c.name + " 2>&1");
    }
    static void TearDownTestSuite() {
        if (!dir_.empty()) Shell("rm -rf " + dir_);
    }
    void SetUp() override {
        if (dir_.empty()) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    }
    static std::string Path(const std::string& name) { return dir_ + "/" + name; }

    static std::vector<std::string> DriverLines(const std::string& in, const std::string& out) {
        std::string text = Shell(std::string(RESTAMP_DRIVER) + " " + in + " " + out);
        std::vector<std::string> lines;
        std::istringstream is(text);
        for (std::string l; std::getline(is, l);) lines.push_back(l);
        return lines;
    }

    static std::string dir_;
};
std::string Corpus::dir_;

TEST_F(Corpus, DetectionAgreesWithFfprobe) {
    for (const auto& f : kCorpus) {
        SCOPED_TRACE(f.name);
        auto data = ReadFile(Path(f.name));
        ASSERT_GT(data.size(), 10000u);
        std::string fmt = Shell("ffprobe -v error -show_entries format=format_name -of csv=p=0 " + Path(f.name));
        fmt = fmt.substr(0, fmt.find_first_of(",\n"));
        EXPECT_EQ(fmt, f.ffprobeFormat);
        const uint32_t n = uint32_t(std::min<size_t>(data.size(), CDataDispatcher::kCollectSize));
        EXPECT_EQ(CMainParser::DetectFormat(data.data(), n), f.type);
    }
}

// Every PES time stamp of the program streams, per stream, against ffprobe's
// packet pts (the frames without a PES time stamp have none there either).
TEST_F(Corpus, ProgramStreamTimesMatchFfprobe) {
    struct Case {
        const char* file;
        uint8_t audioId, audioSub;
    };
    for (const Case c : {Case{"vob_mp2.vob", 0xC0, 0}, Case{"vob_ac3.vob", 0xBD, 0x80}, Case{"dvd.vob", 0xC0, 0}}) {
        SCOPED_TRACE(c.file);
        auto data = ReadFile(Path(c.file));
        Recorder rec;
        CMainParser mp(&rec);
        BS::CSequentialBuffer all(uint32_t(data.size()));
        all.Append(data.data(), uint32_t(data.size()));
        ASSERT_EQ(mp.InitWithData(kNoTime, &all, 1), 0);
        ASSERT_EQ(mp.StreamType(), uint32_t(kTypeProgramStream));
        rec.times.clear();
        uint32_t n = uint32_t(data.size());
        mp.ParseData(0, data.data(), &n);

        auto probe = [&](const char* sel) {
            std::vector<int64_t> v;
            std::istringstream is(Shell(std::string("ffprobe -v error -select_streams ") + sel +
                                        " -show_entries packet=pts -of csv=p=0 " + Path(c.file)));
            for (std::string l; std::getline(is, l);)
                if (!l.empty() && l != "N/A") v.push_back(std::stoll(l) * 1000 / 9);
            std::sort(v.begin(), v.end());
            return v;
        };
        auto ours = [&](uint8_t id, uint8_t sub) {
            auto v = rec.times[{id, sub}];
            std::sort(v.begin(), v.end());
            return v;
        };
        // Pack SCRs and PES time stamps from a walk of the pack and packet structure.
        std::vector<int64_t> scrs;
        std::map<std::pair<uint8_t, uint8_t>, std::vector<int64_t>> walked;
        size_t i = 0;
        while (i + 14 <= data.size()) {
            const uint8_t* p = &data[i];
            if (p[0] || p[1] || p[2] != 1) break;
            if (p[3] == 0xBA) {
                uint64_t v = (uint64_t(p[4] >> 3) & 7) << 30 | uint64_t(p[4] & 3) << 28 | uint64_t(p[5]) << 20 |
                             uint64_t(p[6] >> 3) << 15 | uint64_t(p[6] & 3) << 13 | uint64_t(p[7]) << 5 | (p[8] >> 3);
                scrs.push_back(int64_t(v * 1000 / 9));
                i += 14 + (p[13] & 7);
                continue;
            }
            if (p[3] != 0xBE && p[3] != 0xBF && (p[6] & 0xC0) == 0x80 && (p[7] & 0x80)) {
                const uint8_t* t = p + 9;
                uint64_t v = (uint64_t(t[0] >> 1) & 7) << 30 | uint64_t(t[1]) << 22 | uint64_t(t[2] >> 1) << 15 |
                             uint64_t(t[3]) << 7 | (t[4] >> 1);
                const uint8_t sub = p[3] == 0xBD ? p[9 + p[8]] : 0;
                walked[{p[3], sub}].push_back(int64_t(v * 1000 / 9));
            }
            i += 6 + ((size_t(p[4]) << 8) | p[5]);
        }
        EXPECT_GT(scrs.size(), 10u);
        for (auto& kv : walked) std::sort(kv.second.begin(), kv.second.end());

        const auto video = ours(0xE0, 0), audio = ours(c.audioId, c.audioSub);
        EXPECT_FALSE(video.empty());
        EXPECT_FALSE(audio.empty());
        EXPECT_EQ(video, (walked[{0xE0, 0}]));
        EXPECT_EQ(audio, (walked[{c.audioId, c.audioSub}]));
        // Every time we report is one ffprobe reports; ffprobe also computes
        // times for frames that start inside a packet, so it may have more.
        const auto pv = probe("v");
        for (int64_t t : video) EXPECT_TRUE(std::binary_search(pv.begin(), pv.end(), t)) << t;
        EXPECT_GE(video.size() * 10, pv.size() * 9);  // most frames start a packet
        const auto pa = probe("a");
        for (int64_t t : audio) EXPECT_TRUE(std::binary_search(pa.begin(), pa.end(), t)) << t;
        EXPECT_EQ((rec.times[{0, 0}]), scrs);
    }
}

TEST_F(Corpus, DriverPassesEveryByteAndStartsAtZero) {
    std::vector<std::string> files;
    for (const auto& f : kCorpus) files.push_back(f.name);
    files.push_back("joined.vob");
    for (const auto& name : files) {
        SCOPED_TRACE(name);
        const std::string out = Path(name) + ".out";
        auto lines = DriverLines(Path(name), out);
        auto in = ReadFile(Path(name)), got = ReadFile(out);
        ASSERT_EQ(in.size(), got.size());
        EXPECT_TRUE(in == got);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], "0 1000 0");
        // Offsets and sizes cover the file in 1,000-byte chunks.
        size_t expectOff = 0;
        for (const auto& l : lines) {
            unsigned long long off = 0, size = 0;
            ASSERT_EQ(std::sscanf(l.c_str(), "%llu %llu", &off, &size), 2) << l;
            ASSERT_EQ(off, expectOff);
            expectOff += size;
        }
        EXPECT_EQ(expectOff, in.size());
        std::remove(out.c_str());
    }
}

TEST_F(Corpus, JoinedProgramStreamsStayContinuous) {
    auto lines = DriverLines(Path("joined.vob"), "/dev/null");
    std::vector<int64_t> stamps;
    for (const auto& l : lines) {
        char t[32] = {0};
        unsigned long long off, size;
        ASSERT_EQ(std::sscanf(l.c_str(), "%llu %llu %31s", &off, &size, t), 3);
        if (t[0] != '-') stamps.push_back(std::stoll(t));
    }
    ASSERT_GT(stamps.size(), 1000u);
    EXPECT_EQ(stamps.front(), 0);
    for (size_t i = 1; i < stamps.size(); ++i)
        ASSERT_LE(std::llabs(stamps[i] - stamps[i - 1]), 25000000) << "at stamp " << i;
    // The second half continues the timeline: about 8 s in all, not 4.
    EXPECT_GT(stamps.back(), 70000000);
    EXPECT_LT(stamps.back(), 100000000);
}

// The times the driver stamps, in order; the first line must be at 0.
std::vector<int64_t> DriverStamps(const std::vector<std::string>& lines) {
    std::vector<int64_t> stamps;
    for (const auto& l : lines) {
        char t[32] = {0};
        unsigned long long off, size;
        if (std::sscanf(l.c_str(), "%llu %llu %31s", &off, &size, t) == 3 && t[0] != '-')
            stamps.push_back(std::stoll(t));
    }
    return stamps;
}

// PCR bases (x 1000 / 9) of one PID from a plain walk of the packets.
std::vector<int64_t> ScanPcrs(const std::vector<uint8_t>& d, size_t packetSize) {
    std::vector<int64_t> v;
    for (size_t i = 0; i + 188 <= d.size(); i += packetSize) {
        const uint8_t* p = &d[i];
        if (p[0] != 0x47 || !(p[3] & 0x20) || p[4] < 7 || !(p[5] & 0x10)) continue;
        const uint64_t base =
            uint64_t(p[6]) << 25 | uint64_t(p[7]) << 17 | uint64_t(p[8]) << 9 | uint64_t(p[9]) << 1 | (p[10] >> 7);
        v.push_back(int64_t(base * 1000 / 9));
    }
    return v;
}

std::vector<int64_t> ProbePts(const std::string& path, const char* sel) {
    std::vector<int64_t> v;
    std::istringstream is(Shell(std::string("ffprobe -v error -select_streams ") + sel +
                                " -show_entries packet=pts -of csv=p=0 " + path));
    for (std::string l; std::getline(is, l);)
        if (!l.empty() && l != "N/A") v.push_back(std::stoll(l) * 1000 / 9);
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(Corpus, TransportStreamTimesMatchFfprobe) {
    struct Case {
        const char* file;
        uint8_t audioId;
        size_t packetSize;
    };
    for (const Case c : {Case{"transport.ts", 0xC0, 188}, Case{"ts_ac3.ts", 0xBD, 188}, Case{"ts_h264.ts", 0xC0, 188},
                         Case{"ts204.ts", 0xC0, 204}}) {
        SCOPED_TRACE(c.file);
        auto data = ReadFile(Path(c.file));
        Recorder rec;
        CMainParser mp(&rec);
        BS::CSequentialBuffer all(uint32_t(data.size()));
        all.Append(data.data(), uint32_t(data.size()));
        ASSERT_EQ(mp.InitWithData(kNoTime, &all, 1), 0);
        ASSERT_EQ(mp.StreamType(), uint32_t(kTypeTransportStream));
        EXPECT_EQ(mp.PacketSize(), c.packetSize);
        rec.times.clear();
        uint32_t n = uint32_t(data.size());
        mp.ParseData(0, data.data(), &n);
        auto sorted = [&](uint8_t id) {
            auto v = rec.times[{id, 0}];
            std::sort(v.begin(), v.end());
            return v;
        };
        const auto video = sorted(0xE0), audio = sorted(c.audioId);
        EXPECT_FALSE(video.empty());
        EXPECT_FALSE(audio.empty());
        EXPECT_EQ(video, ProbePts(Path(c.file), "v"));
        // ffmpeg puts several audio frames in one PES packet; ffprobe times each frame.
        const auto pa = ProbePts(Path(c.file), "a");
        for (int64_t t : audio) EXPECT_TRUE(std::binary_search(pa.begin(), pa.end(), t)) << t;
        EXPECT_GE(audio.size() * 16, pa.size());
        const auto pcrs = ScanPcrs(data, c.packetSize);
        EXPECT_GT(pcrs.size(), 10u);
        EXPECT_EQ((rec.times[{0, 0}]), pcrs);
    }
}

// A packet forged inside a real packet's payload, just behind the place where
// a parse starts mid-packet: its wild PTS must never be reported.
TEST_F(Corpus, StrayTransportSyncForgesNoPacket) {
    auto data = ReadFile(Path("transport.ts"));
    size_t p = 150000 / 188 * 188;
    auto pidOf = [&](size_t i) { return ((data[i + 1] & 0x1F) << 8) | data[i + 2]; };
    while (p + 3 * 188 < data.size() && (pidOf(p) != 0x100 || (data[p + 1] & 0x40) || (data[p + 3] & 0x20))) p += 188;
    ASSERT_LT(p + 3 * 188, data.size());
    const size_t start = p + 10, forged = p + 20;
    std::fill(data.begin() + long(start), data.begin() + long(forged), 0);
    const uint8_t fake[] = {0x47, 0x41, 0x00, 0x10, 0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 5};
    std::copy(std::begin(fake), std::end(fake), data.begin() + long(forged));
    const uint64_t wild = 0x1ABCDEF0;
    MpegCommon::EncodeTimeStamp(&data[forged + sizeof fake], 2, wild);
    if (data[forged + 188] == 0x47) data[forged + 188] = 0;

    Recorder rec;
    CMainParser mp(&rec);
    BS::CSequentialBuffer head{uint32_t(start)};
    head.Append(data.data(), uint32_t(start));
    ASSERT_EQ(mp.InitWithData(int64_t(start), &head, 1), 0);
    rec.times.clear();
    std::vector<uint8_t> span;
    for (size_t pos = start; pos < data.size();) {
        const size_t n = std::min<size_t>(1000, data.size() - pos);
        const uint64_t spanPos = pos - span.size();
        span.insert(span.end(), data.begin() + long(pos), data.begin() + long(pos + n));
        pos += n;
        uint32_t len = uint32_t(span.size());
        mp.ParseData(spanPos, span.data(), &len);
        span.erase(span.begin(), span.begin() + long(std::min<size_t>(len, span.size())));
    }
    const auto& video = rec.times[{0xE0, 0}];
    EXPECT_GT(video.size(), 10u);
    for (int64_t t : video) ASSERT_NE(t, int64_t(wild * 1000 / 9));
}

TEST_F(Corpus, TransportStreamsStayContinuous) {
    struct Case {
        const char* file;
        int64_t lastMin, lastMax;  // the last stamp, 100 ns
    };
    for (const Case c : {Case{"transport.ts", 15000000, 40000000}, Case{"ts_h264.ts", 15000000, 40000000},
                         Case{"ts204.ts", 15000000, 40000000}, Case{"joined.ts", 45000000, 75000000},
                         Case{"lead.ts", 15000000, 40000000}}) {
        SCOPED_TRACE(c.file);
        const std::string out = Path(c.file) + ".out";
        const auto stamps = DriverStamps(DriverLines(Path(c.file), out));
        EXPECT_TRUE(ReadFile(Path(c.file)) == ReadFile(out));
        std::remove(out.c_str());
        ASSERT_GT(stamps.size(), 20u);
        EXPECT_EQ(stamps.front(), 0);
        for (size_t i = 1; i < stamps.size(); ++i)
            ASSERT_LE(std::llabs(stamps[i] - stamps[i - 1]), 25000000) << "at stamp " << i;
        EXPECT_GE(stamps.back(), c.lastMin);
        EXPECT_LE(stamps.back(), c.lastMax);
    }
}

// 192-byte packets (a 4-byte time code before each) are not a transport
// stream here; the bytes still go through unchanged.
TEST_F(Corpus, M2tsIsNoTransportStream) {
    const auto d = ReadFile(Path("m2ts.m2ts"));
    ASSERT_GT(d.size(), 100000u);
    EXPECT_NE(CMainParser::DetectFormat(d.data(), uint32_t(d.size())), uint32_t(kTypeTransportStream));
    const std::string out = Path("m2ts.out");
    DriverLines(Path("m2ts.m2ts"), out);
    EXPECT_TRUE(d == ReadFile(out));
    std::remove(out.c_str());
}

// A system stream whose GOPs lack sequence headers gets the header in front
// of GOPs, each enclosing packet's length grown by it; ffmpeg reads the result
// without complaint and finds the same video with the same insertions.
TEST_F(Corpus, SystemStreamGetsSequenceHeaders) {
    const std::string in = Path("once.mpg"), out = Path("once.out.mpg");
    const auto lines = DriverLines(in, out);
    const auto src = ReadFile(in), got = ReadFile(out);
    const auto header = FirstSequenceHeader(ReadFile(Path("once.m1v")));
    ASSERT_FALSE(header.empty());
    // Rebuild the output from the input and the lines.
    std::vector<uint8_t> expect;
    size_t inserted = 0, covered = 0;
    std::vector<size_t> places;
    for (const auto& l : lines) {
        unsigned long long off = 0, size = 0;
        char t[32] = {0}, mark[32] = {0};
        const int f = std::sscanf(l.c_str(), "%llu %llu %31s %31s", &off, &size, t, mark);
        ASSERT_GE(f, 3) << l;
        if (f == 4) {
            ASSERT_STREQ(mark, "inserted");
            ASSERT_EQ(size, header.size());
            expect.insert(expect.end(), header.begin(), header.end());
            places.push_back(size_t(off));
            ++inserted;
            continue;
        }
        ASSERT_EQ(off, covered);
        expect.insert(expect.end(), src.begin() + long(off), src.begin() + long(off + size));
        covered += size;
    }
    EXPECT_EQ(covered, src.size());
    EXPECT_GT(inserted, 0u);
    ASSERT_EQ(got.size(), expect.size());
    // Each place follows a GOP start code; the packet around it grew by the header.
    size_t patched = 0;
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != expect[i]) ++patched;
    EXPECT_LE(patched, 2 * inserted);
    for (size_t p : places) EXPECT_TRUE(std::equal(kGopStart, kGopStart + 4, src.begin() + long(p)));
    // Walk the output's packets: their lengths chain from pack to pack.
    size_t i = 0, packets = 0;
    while (i + 12 <= got.size()) {
        const uint8_t* p = &got[i];
        ASSERT_TRUE(!p[0] && !p[1] && p[2] == 1) << "at " << i;
        if (p[3] == 0xBA) {
            i += 12;
        } else if (p[3] == 0xB9) {
            i += 4;
        } else {
            i += 6 + ((size_t(p[4]) << 8) | p[5]);
            ++packets;
        }
    }
    EXPECT_EQ(i, got.size());
    EXPECT_GT(packets, 100u);
    EXPECT_EQ(Shell("ffmpeg -v error -i " + out + " -f null - 2>&1"), "");
    // The video demuxed from the output: the input's, with the same insertions.
    const std::string es = Path("once.out.m1v");
    Shell("ffmpeg -v error -y -i " + out + " -c copy -f mpeg1video " + es + " 2>&1");
    const auto outEs = ReadFile(es);
    size_t dropped = 0;
    EXPECT_TRUE(DropHeaders(outEs, header, &dropped) == ReadFile(Path("once.m1v")));
    EXPECT_EQ(dropped, inserted);
}

TEST_F(Corpus, PvaTimesMatchFfprobe) {
    for (const char* name : {"plain.pva", "stray.pva"}) {
        SCOPED_TRACE(name);
        const std::string path = Path(name);
        auto data = ReadFile(path);
        ASSERT_GT(data.size(), 10000u);
        std::string fmt = Shell("ffprobe -v error -show_entries format=format_name -of csv=p=0 " + path);
        EXPECT_EQ(fmt.substr(0, fmt.find_first_of(",\n")), "pva");
        EXPECT_EQ(CMainParser::DetectFormat(data.data(), uint32_t(data.size())), uint32_t(kTypePVA));
        Recorder rec;
        CMainParser mp(&rec);
        BS::CSequentialBuffer all(uint32_t(data.size()));
        all.Append(data.data(), uint32_t(data.size()));
        ASSERT_EQ(mp.InitWithData(kNoTime, &all, 1), 0);
        ASSERT_EQ(mp.StreamType(), uint32_t(kTypePVA));
        rec.times.clear();
        uint32_t n = uint32_t(data.size());
        mp.ParseData(0, data.data(), &n);
        auto video = rec.times[{0, 0}], audio = rec.times[{1, 0}];
        std::sort(video.begin(), video.end());
        std::sort(audio.begin(), audio.end());
        // One time per picture and per audio frame, as the file was built;
        // ffprobe's times are among them (its reader leaves some out).
        auto evenlySpaced = [](const std::vector<int64_t>& v, int64_t step) {
            for (size_t i = 0; i < v.size(); ++i)
                if (v[i] != 4000000 + step * int64_t(i)) return false;
            return !v.empty();
        };
        EXPECT_TRUE(evenlySpaced(video, 400000));
        EXPECT_EQ(video.size(), 75u);
        EXPECT_TRUE(evenlySpaced(audio, 240000));
        EXPECT_GE(audio.size(), 120u);
        for (const char* sel : {"v", "a"}) {
            const auto& ours = sel[0] == 'v' ? video : audio;
            const auto probed = ProbePts(path, sel);
            EXPECT_GT(probed.size(), 10u);
            for (int64_t t : probed) EXPECT_TRUE(std::binary_search(ours.begin(), ours.end(), t)) << t;
        }
        EXPECT_EQ(std::count(video.begin(), video.end(), int64_t(uint64_t(kStrayPts) * 1000 / 9)), 0);
        // Every byte goes out unchanged.
        const std::string out = path + ".out";
        DriverLines(path, out);
        EXPECT_TRUE(ReadFile(out) == data);
        std::remove(out.c_str());
    }
}

// The format test follows a chain of packets to the data's end; an "AV" in
// the last packet's payload does not undo it.
TEST_F(Corpus, PvaDetectionKeepsAGoodChain) {
    auto data = ReadFile(Path("plain.pva"));
    data.resize(50000);
    EXPECT_EQ(CMainParser::DetectFormat(data.data(), uint32_t(data.size())), uint32_t(kTypePVA));
    data.insert(data.end(), {'A', 'V', 1, 0, 0, 0, 0x7F, 0x00});  // a packet running past the end
    data.insert(data.end(), 100, 0);
    data.insert(data.end(), {'A', 'V', 2, 0, 0, 0, 0x10, 0x00});  // a stray "AV" inside it
    data.insert(data.end(), 100, 0);
    EXPECT_EQ(DetectPVAStream(data.data(), uint32_t(data.size())), 1);
}

TEST_F(Corpus, DamagedInputNeverCrashes) {
    std::mt19937 rng(12345);
    std::vector<std::string> files;
    for (const auto& f : kCorpus) files.push_back(f.name);
    files.push_back("hi.vob");
    files.push_back("ts204.ts");
    files.push_back("plain.pva");
    for (const char* f : {"base25.h264", "rgb25.h264", "ibbp.m2v"}) files.push_back(f);
    for (const auto& name : files) {
        SCOPED_TRACE(name);
        const auto orig = ReadFile(Path(name));
        for (int variant = 0; variant < 4; ++variant) {
            std::vector<uint8_t> d = orig;
            std::uniform_int_distribution<size_t> pos(0, d.size() - 1);
            switch (variant) {
                case 0:
                    d.erase(d.begin(), d.begin() + long(pos(rng)));
                    break;  // cut at a random place
                case 1:
                    d.resize(pos(rng));
                    break;  // truncated
                case 2:
                    for (int k = 0; k < 2000; ++k) d[pos(rng)] ^= uint8_t(1u << (rng() % 8));
                    break;
                case 3:  // pieces shuffled
                    for (int k = 0; k < 50; ++k) {
                        size_t a = pos(rng), b = pos(rng),
                               len = std::min<size_t>(rng() % 5000, d.size() - std::max(a, b));
                        std::swap_ranges(d.begin() + long(a), d.begin() + long(a + len), d.begin() + long(b));
                    }
                    break;
            }
            CMainParser::DetectFormat(d.data(), uint32_t(std::min<size_t>(d.size(), 2000000)));
            CTimeMarkerCore core;
            size_t off = 0;
            while (off < d.size()) {
                uint32_t n = uint32_t(std::min<size_t>(CTimeMarkerCore::kChunkSize, d.size() - off));
                core.ProcessChunk(d.data() + off, n);
                off += n;
            }
            core.EndOfStream();
        }
    }
}

// Bare video has no time stamps: every picture gets one, in decoding order,
// a frame duration (from the H.264 VUI or the MPEG frame rate) apart.
TEST_F(Corpus, BareVideoGetsOneTimePerPicture) {
    struct Case {
        const char* file;
        uint32_t type;
        int64_t frameDuration;
    };
    for (const Case c : {Case{"base25.h264", kTypeH264Only, 400000}, Case{"pyramid30.h264", kTypeH264Only, 333333},
                         Case{"rgb25.h264", kTypeH264Only, 400000}, Case{"ibbp.m2v", kTypeVideoOnly, 400000}}) {
        SCOPED_TRACE(c.file);
        auto data = ReadFile(Path(c.file));
        ASSERT_GT(data.size(), 1000u);
        Recorder rec;
        CMainParser mp(&rec);
        BS::CSequentialBuffer all(uint32_t(data.size()));
        all.Append(data.data(), uint32_t(data.size()));
        ASSERT_EQ(mp.InitWithData(kNoTime, &all, 1), 0);
        ASSERT_EQ(mp.StreamType(), c.type);
        rec.times.clear();
        uint32_t n = uint32_t(data.size());
        mp.ParseData(0, data.data(), &n);
        // Each picture's time comes with its payload and on its own: the
        // recorder takes both.
        auto times = rec.times[{0, 0}];
        times.erase(std::unique(times.begin(), times.end()), times.end());
        const std::string frames =
            Shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 " + Path(c.file));
        const size_t pictures = size_t(std::stoul(frames));
        ASSERT_GT(pictures, 40u);
        // The run before the first picture takes 0. A last picture whose
        // start code has fewer bytes behind it than a header needs (21 for
        // H.264) is never parsed.
        const uint8_t startCode[] = {0, 0, 1};
        size_t last = 0;
        for (size_t i = Find(data, startCode, 3, 0); i < data.size(); i = Find(data, startCode, 3, i + 3)) last = i;
        const bool lastCut = c.type == kTypeH264Only && data.size() - last < MH264::kMinNalBytes;
        ASSERT_EQ(times.size(), pictures + 1 - (lastCut ? 1 : 0));
        if (c.type == kTypeH264Only) {
            for (size_t i = 0; i < times.size(); ++i) ASSERT_EQ(times[i], int64_t(i) * c.frameDuration) << i;
        } else {
            // Every GOP after the first opens with an I picture of temporal
            // reference 2: the base jumps two frames ahead of the B pictures.
            EXPECT_EQ(times[1], c.frameDuration);
            size_t jumps = 0;
            for (size_t i = 2; i < times.size(); ++i) {
                const int64_t step = times[i] - times[i - 1];
                ASSERT_TRUE(step == c.frameDuration || step == 3 * c.frameDuration || step == -c.frameDuration)
                    << i << " " << step;
                jumps += step == 3 * c.frameDuration;
            }
            EXPECT_GT(jumps, 3u);
        }
    }
}

// Picture numbers sorted give the display order: the picture types in that
// order are ffprobe's frame types.
TEST_F(Corpus, H264PictureNumbersFollowDisplayOrder) {
    using Tmpl = BS::CParserTemplateImpl<MH264::CH264ParserImpl, MH264::CH264ParserHandlerImpl, MH264::CH264Stream>;
    struct Pictures : BS::AStreamElementStateHandler {
        void OnStateChange(BS::AStreamElement* e) override {
            auto* s = dynamic_cast<MH264::CH264Stream*>(e);
            if (!s || s->GetState()->code != 4) return;
            const auto* ev = BS::EventAs<MH264::CH264SliceHdr>(*static_cast<const BS::CBaseEvent*>(s->GetData()));
            state.ComputePOC(ev->header->slice, ev->header->record->sps);
            const char kinds[] = "PBIPI";
            if (state.IsNewPicture()) order.push_back({state.pictureNumber, kinds[ev->header->slice.Kind()]});
        }
        void OnElementDestroyed(BS::AStreamElement*) override {}
        MH264::CH264SliceState state;
        std::vector<std::pair<int64_t, char>> order;
    };
    for (const char* file : {"base25.h264", "pyramid30.h264"}) {
        SCOPED_TRACE(file);
        const auto data = ReadFile(Path(file));
        Tmpl t;
        t.Reset();
        Pictures pics;
        t.stream.AddStateHandler(&pics);
        t.Parse(0, data.data(), uint32_t(data.size()), 0);
        std::stable_sort(pics.order.begin(), pics.order.end());
        std::string ours;
        for (const auto& p : pics.order) ours += p.second;
        std::string probe = Shell("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + Path(file));
        probe.erase(std::remove_if(probe.begin(), probe.end(), [](char ch) { return ch == '\n' || ch == ','; }),
                    probe.end());
        // The last picture's trailing bytes hold no further start code: it is not seen.
        ASSERT_GT(ours.size(), 40u);
        EXPECT_EQ(ours, probe.substr(0, ours.size()));
        EXPECT_GE(ours.size() + 1, probe.size());
        t.stream.RemoveStateHandler(&pics);
    }
}

// The sequence parameter set as ffmpeg's trace_headers reads it (profile 244
// carries the chroma format and scaling fields).
TEST_F(Corpus, H264SequenceParameterSetMatchesTraceHeaders) {
    for (const char* file : {"base25.h264", "pyramid30.h264", "rgb25.h264"}) {
        SCOPED_TRACE(file);
        const auto data = ReadFile(Path(file));
        const uint8_t sps[] = {0, 0, 1, 0x67};
        const size_t at = Find(data, sps, 4, 0);
        ASSERT_LT(at, data.size());
        MH264::CH264SeqHdr h;
        ASSERT_TRUE(h.Parse(&data[at], uint32_t(std::min<size_t>(data.size() - at, 1000))));
        std::map<std::string, int64_t> trace;
        std::istringstream is(
            Shell("ffmpeg -hide_banner -i " + Path(file) + " -frames:v 1 -c copy -bsf:v trace_headers -f null - 2>&1"));
        for (std::string l; std::getline(is, l);) {
            std::istringstream w(l.substr(std::min(l.size(), l.find(']') + 1)));
            std::string pos, name, bits, eq;
            int64_t v = 0;
            if (w >> pos >> name >> bits >> eq >> v && eq == "=" && !trace.count(name)) trace[name] = v;
        }
        const MpegCommon::h264::Sps& s = h.sps;
        const std::pair<const char*, int64_t> fields[] = {
            {"profile_idc", s.profile_idc},
            {"level_idc", s.level_idc},
            {"chroma_format_idc", s.chroma_format_idc},
            {"log2_max_frame_num_minus4", s.log2_max_frame_num_minus4},
            {"pic_order_cnt_type", s.pic_order_cnt_type},
            {"max_num_ref_frames", s.max_num_ref_frames},
            {"pic_width_in_mbs_minus1", s.pic_width_in_mbs_minus1},
            {"pic_height_in_map_units_minus1", s.pic_height_in_map_units_minus1},
            {"frame_mbs_only_flag", s.frame_mbs_only_flag},
            {"num_units_in_tick", s.num_units_in_tick},
            {"time_scale", s.time_scale},
            {"max_dec_frame_buffering", s.max_dec_frame_buffering},
        };
        for (const auto& f : fields) {
            if (!trace.count(f.first)) continue;  // not in this profile's syntax
            EXPECT_EQ(f.second, trace[f.first]) << f.first;
        }
        EXPECT_EQ(trace["profile_idc"], int64_t(s.profile_idc));
        ASSERT_GT(trace["time_scale"], 0);
        EXPECT_EQ(h.GetFrameDuration(), 20000000 * trace["num_units_in_tick"] / trace["time_scale"]);
    }
}

// Through the driver: bare video chunks carry rising times. The pictures of
// the detection collection (the first 100,000 bytes) are not parsed again,
// so the count starts over behind it.
TEST_F(Corpus, BareVideoThroughTheDriverIsStamped) {
    for (const char* file : {"base25.h264", "pyramid30.h264", "ibbp.m2v"}) {
        SCOPED_TRACE(file);
        const auto stamps = DriverStamps(DriverLines(Path(file), "/dev/null"));
        ASSERT_GT(stamps.size(), 20u);
        EXPECT_EQ(stamps.front(), 0);
        for (size_t i = 1; i < stamps.size(); ++i) ASSERT_GE(stamps[i], stamps[i - 1] - 400000) << i;
        EXPECT_GT(stamps.back(), 20000000);
        EXPECT_LT(stamps.back(), 85000000);
    }
}

// The library's own elements of program and transport streams: each stream
// gets the PES element of its format, which counts a frame (or, for the
// one-header-per-packet formats, a packet) wherever ffprobe has a packet and
// reads the PES time stamps that ffprobe reads.
TEST_F(Corpus, LibraryElementsOfContainers) {
    struct Counter : BS::AStreamElementStateHandler {
        void OnStateChange(BS::AStreamElement* e) override {
            const BS::CBaseState* st = e->GetState();
            if (auto* pe = dynamic_cast<M2PS::CPEStream*>(e)) {
                if (st->code != 1 || !st->data) return;
                const auto* ev = BS::EventAs<M2PS::CPESPacketHdr>(*static_cast<const BS::CBaseEvent*>(st->data));
                if (ev && ev->header->ptsValid) pts[pe].push_back(int64_t(ev->header->pts * 1000 / 9));
                return;
            }
            if (auto* h = dynamic_cast<MH264::CH264Stream*>(e)) {
                if (st->code != 4) return;
                const auto* ev = BS::EventAs<MH264::CH264SliceHdr>(*static_cast<const BS::CBaseEvent*>(st->data));
                auto& state = slices[h];
                state.ComputePOC(ev->header->slice, ev->header->record->sps);
                frames[e] += state.IsNewPicture();
            } else if (dynamic_cast<DIVX::CDIVXStream*>(e)) {
                frames[e] += st->code == 2;
            } else if (dynamic_cast<MVideo::CVEStream*>(e)) {
                frames[e] += st->code == 12;  // picture header
            } else {
                frames[e] += st->code == 1;
            }
        }
        void OnElementDestroyed(BS::AStreamElement*) override {}
        std::map<BS::AStreamElement*, size_t> frames;
        std::map<M2PS::CPEStream*, std::vector<int64_t>> pts;
        std::map<MH264::CH264Stream*, MH264::CH264SliceState> slices;
    };
    auto codecOf = [](M2PS::CPEStream* e) -> std::string {
        if (dynamic_cast<M2PS::CPESH264*>(e)) return "h264";
        if (dynamic_cast<M2PS::CPESDiv4*>(e)) return "mpeg4";
        if (dynamic_cast<M2PS::CPESAAC*>(e)) return "aac";
        if (dynamic_cast<M2PS::CPESAC3*>(e)) return "ac3";
        if (dynamic_cast<M2PS::CPESLpcm*>(e)) return "pcm_dvd";
        if (dynamic_cast<M2PS::CPESAes3*>(e)) return "s302m";
        if (dynamic_cast<M2PS::CPESVideo*>(e)) return "mpeg2video";
        return "other";
    };
    using PSTemplate = BS::CParserTemplateImpl<M2PS::CPSParserImpl, M2PS::CPSParserHandlerImpl, M2PS::CProgramStream>;
    using TSTemplate = BS::CParserTemplateImpl<M2TS::CTSParserImpl, M2TS::CTSParserHandlerImpl, M2TS::CTransportStream>;
    for (const auto& c : kContainers) {
        SCOPED_TRACE(c.name);
        auto data = ReadFile(Path(c.name));
        ASSERT_GT(data.size(), 10000u);
        const bool ts = std::string(c.name).find(".ts") != std::string::npos;
        const bool systemB = std::string(c.name) == "lib_sysb.ts";
        if (systemB) {
            // The first AC-3 packet's fourth payload byte (its CRC's low
            // byte) made 0: the stream now passes for AES3.
            bool done = false;
            for (size_t i = 0; i + 188 <= data.size() && !done; i += 188) {
                uint8_t* p = &data[i];
                const size_t pes = 4 + ((p[3] & 0x20) ? 1 + p[4] : 0);
                if (!(p[1] & 0x40) || pes + 16 > 188 || p[pes] || p[pes + 1] || p[pes + 2] != 1 || p[pes + 3] != 0xBD)
                    continue;
                const size_t payload = pes + 9 + p[pes + 8];
                ASSERT_EQ(p[payload], 0x0B);
                p[payload + 3] = 0;
                done = true;
            }
            ASSERT_TRUE(done);
            WriteFile(Path("lib_sysb.ts"), data);
        }
        Counter counter;  // outlives the elements it watches
        std::unique_ptr<BS::AParserTemplate> t;
        if (ts) {
            auto* tt = new TSTemplate();
            tt->parser.packetSize = 188;
            tt->handler.hdr.packetSize = 188;
            t.reset(tt);
        } else {
            t.reset(new PSTemplate());
        }
        t->Reset();
        // Detection over the whole file, then a parse from the start.
        {
            uint32_t n = uint32_t(data.size());
            t->Parse(0, data.data(), n, 0);
            if (ts) {
                auto* tt = static_cast<TSTemplate*>(t.get());
                ASSERT_TRUE(tt->stream.ProgramsComplete(true));
                tt->parser.ResetScanner();
                tt->Parse(0, data.data(), n, 0);
                ASSERT_TRUE(tt->stream.AllSubStreamsDetected(true));
                tt->stream.FinishDetection();
            } else {
                auto* pt = static_cast<PSTemplate*>(t.get());
                ASSERT_TRUE(pt->stream.DetectSubStreams(true));
                pt->stream.FinishDetection();
            }
            t->Reset();
        }
        std::vector<M2PS::CPEStream*> elements;
        std::function<void(BS::AStreamElement*)> walk = [&](BS::AStreamElement* e) {
            if (auto* pe = dynamic_cast<M2PS::CPEStream*>(e))
                if (!dynamic_cast<M2PS::CPEStreamDetector*>(e) && pe->GetSubElement()) elements.push_back(pe);
            for (auto* ch : e->GetChildren()) walk(ch);
        };
        walk(t->GetStream());
        std::sort(elements.begin(), elements.end(),
                  [&](M2PS::CPEStream* a, M2PS::CPEStream* b) { return codecOf(a) < codecOf(b); });
        std::vector<std::string> names;
        for (auto* e : elements) {
            names.push_back(codecOf(e));
            e->AddStateHandler(&counter);
            e->GetSubElement()->AddStateHandler(&counter);
        }
        std::vector<std::string> expected = {c.codecs[0], c.codecs[1]};
        std::sort(expected.begin(), expected.end());
        // system_b AC-3 (stream type 0x06) passes for AES3.
        if (systemB) expected = {"mpeg2video", "s302m"};
        ASSERT_EQ(names, expected);
        const uint32_t n = uint32_t(data.size());
        if (ts) static_cast<TSTemplate*>(t.get())->parser.ResetScanner();
        t->Parse(0, data.data(), n, 0);
        for (size_t i = 0; i < elements.size(); ++i) {
            M2PS::CPEStream* e = elements[i];
            SCOPED_TRACE(names[i]);
            // ffprobe's stream of that codec (the system_b audio is AC-3 to it).
            const bool video = names[i] == "h264" || names[i] == "mpeg4" || names[i] == "mpeg2video";
            const std::string sel = video ? "v" : "a";
            // One line per packet; the times in 100 ns.
            std::vector<int64_t> probe;
            size_t packets = 0;
            std::istringstream is(Shell("ffprobe -v error -select_streams " + sel +
                                        " -show_entries packet=pts -of csv=p=0 " + Path(c.name)));
            for (std::string l; std::getline(is, l);) {
                if (l.empty()) continue;
                ++packets;
                if (l != "N/A") probe.push_back(std::stoll(l) * 1000 / 9);
            }
            std::sort(probe.begin(), probe.end());
            const size_t ours = counter.frames[e->GetSubElement()];
            if (auto* lpcm = dynamic_cast<M2PS::CPESLpcm*>(e)) {
                // Sub-stream 0xA0; 44.1 kHz is sampling frequency code 2.
                EXPECT_EQ(lpcm->Key().subStreamId, 0xA0);
                EXPECT_EQ(lpcm->header.samplingFrequencyCode, 2);
                EXPECT_EQ(lpcm->header.sampleRate, 44100u);
            }
            if (names[i] == "s302m" && systemB) {
                EXPECT_GT(ours, 0u);  // one header per PES packet, several AC-3 frames in each
            } else {
                EXPECT_LE(ours, packets);
                EXPECT_GE(ours + 1, packets) << ours << " of " << packets;
            }
            auto mine = counter.pts[e];
            std::sort(mine.begin(), mine.end());
            ASSERT_FALSE(mine.empty());
            for (int64_t v : mine) EXPECT_TRUE(std::binary_search(probe.begin(), probe.end(), v)) << v;
        }
        for (auto* e : elements) {
            e->RemoveStateHandler(&counter);
            e->GetSubElement()->RemoveStateHandler(&counter);
        }
    }
}

// Neither E-AC-3 nor byte-swapped AC-3 is taken for AC-3 (the AC-3 elements
// read stream order only); their bytes still pass through unchanged.
TEST_F(Corpus, NoAc3ButStreamOrderAc3) {
    for (const char* name : {"audio.eac3", "swapped.ac3"}) {
        SCOPED_TRACE(name);
        const auto d = ReadFile(Path(name));
        ASSERT_GT(d.size(), 10000u);
        EXPECT_NE(CMainParser::DetectFormat(d.data(), uint32_t(d.size())), uint32_t(kTypeAC3Only));
        const std::string out = Path(name) + ".out";
        DriverLines(Path(name), out);
        EXPECT_TRUE(d == ReadFile(out));
        std::remove(out.c_str());
    }
}

// Damaged containers through the library's own elements: no read outside
// the data (the sanitizers watch).
TEST_F(Corpus, LibraryElementsSurviveDamage) {
    using PSTemplate = BS::CParserTemplateImpl<M2PS::CPSParserImpl, M2PS::CPSParserHandlerImpl, M2PS::CProgramStream>;
    using TSTemplate = BS::CParserTemplateImpl<M2TS::CTSParserImpl, M2TS::CTSParserHandlerImpl, M2TS::CTransportStream>;
    std::mt19937 rng(2323);
    for (const auto& c : kContainers) {
        SCOPED_TRACE(c.name);
        const auto orig = ReadFile(Path(c.name));
        ASSERT_FALSE(orig.empty());
        const bool ts = std::string(c.name).find(".ts") != std::string::npos;
        for (int variant = 0; variant < 3; ++variant) {
            auto d = orig;
            std::uniform_int_distribution<size_t> pos(0, d.size() - 1);
            if (variant == 0) d.resize(pos(rng));
            for (int k = 0; k < (variant ? 3000 : 0); ++k) d[pos(rng)] ^= uint8_t(1u << (rng() % 8));
            const uint32_t n = uint32_t(d.size());
            if (ts) {
                TSTemplate t;
                t.Reset();
                t.Parse(0, d.data(), n, 0);
                t.stream.AllSubStreamsDetected(true);
                t.stream.FinishDetection();
                t.Reset();
                t.Parse(0, d.data(), n, 0);
            } else {
                PSTemplate t;
                t.Reset();
                t.Parse(0, d.data(), n, 0);
                t.stream.DetectSubStreams(true);
                t.stream.FinishDetection();
                t.Reset();
                t.Parse(0, d.data(), n, 0);
            }
        }
    }
}

}  // namespace
