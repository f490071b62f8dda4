// Whole streams: elementary streams made by Debian's ffmpeg are multiplexed,
// then read back by ffprobe/ffmpeg and by the independent readers and
// buffer checks of stream_check.h.
#include "codec/multiplexer/FileMux.h"
#include "codec/multiplexer/Multiplexer.h"
#include "stream_check.h"
#include "vc1_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include <unistd.h>

using namespace muxtest;

namespace {

bool HaveFfmpeg() {
    static const int rc = std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1");
    return rc == 0;
}

#define SKIP_WITHOUT_FFMPEG()                                                  \
    do {                                                                       \
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe are not installed"; \
    } while (0)

// A folder of this process: test programs of parallel builds share the build tree.
struct WorkDir {
    std::string path = std::string(MUX_TEST_WORK_DIR) + "/" + std::to_string(getpid());
    WorkDir() { (void)std::system(("mkdir -p '" + path + "'").c_str()); }
    ~WorkDir() {
        if (!std::getenv("MUX_TEST_KEEP")) (void)std::system(("rm -rf '" + path + "'").c_str());
    }
};

std::string Work(const std::string& name) {
    static WorkDir dir;
    return dir.path + "/" + name;
}

std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

bool Ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -hide_banner -loglevel error -nostdin -y " + args).c_str()) == 0;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Open groups from the first byte on: the stream begins at its second
// sequence header, whose I picture follows B pictures that refer back.
bool MakeOpenGopClip(const std::string& input, const std::string& path) {
    const std::string full = path + ".full";
    if (!Ffmpeg(input + "-c:v mpeg2video -b:v 3M -maxrate 3M -bufsize 1835k -g 12 -bf 2 -flags -cgop " +
                "-sc_threshold 1000000000 -f mpeg2video " + full))
        return false;
    const Bytes b = ReadFile(full);
    int found = 0;
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB3 && ++found == 2) {
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(b.data() + i), static_cast<std::streamsize>(b.size() - i));
            return true;
        }
    return false;
}

const std::string kX264 = "-c:v libx264 -pix_fmt yuv420p -f h264 ";

// The clips, made once per run: 3 s each.
const std::string& Clip(const std::string& name) {
    static std::map<std::string, std::string> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    const std::string path = Work(name);
    const std::string video = "-f lavfi -i testsrc=size=352x288:rate=25 -t 3 ";
    const std::string dvdVideo = "-f lavfi -i testsrc=size=720x576:rate=25 -t 3 ";
    const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=48000 -ac 2 -t 3 ";
    bool ok = false;
    if (name == "v.m2v")
        ok = Ffmpeg(video + "-c:v mpeg2video -b:v 3M -maxrate 3M -bufsize 1835k -g 12 -bf 2 -f mpeg2video " + path);
    else if (name == "dvd.m2v")
        ok = Ffmpeg(dvdVideo + "-c:v mpeg2video -b:v 5M -maxrate 7M -bufsize 1835k -g 12 -bf 2 -f mpeg2video " + path);
    else if (name == "v.m1v")
        ok = Ffmpeg(video + "-c:v mpeg1video -b:v 1.5M -g 12 -bf 2 -f mpeg1video " + path);
    else if (name == "a.mp2")
        ok = Ffmpeg(tone + "-c:a mp2 -b:a 192k -f mp2 " + path);
    else if (name == "a.ac3")
        ok = Ffmpeg(tone + "-c:a ac3 -b:a 192k -f ac3 " + path);
    else if (name == "a.aac")
        ok = Ffmpeg(tone + "-c:a aac -b:a 128k -f adts " + path);
    else if (name == "a.wav")
        ok = Ffmpeg(tone + "-c:a pcm_s16le -f wav " + path);
    else if (name == "v6.m2v")
        ok = Ffmpeg(video +
                    "-c:v mpeg2video -b:v 6M -minrate 6M -maxrate 6M -bufsize 1835k -g 12 -bf 2 -f mpeg2video " + path);
    else if (name == "v12.m2v")
        ok = Ffmpeg(dvdVideo + "-c:v mpeg2video -b:v 12M -minrate 12M -maxrate 12M -bufsize 1835k -g 12 -bf 2 " +
                    "-f mpeg2video " + path);
    else if (name == "v.h264")
        ok = Ffmpeg(video + kX264 + path);
    else if (name == "v30.h264")
        ok = Ffmpeg("-f lavfi -i testsrc=size=352x288:rate=30 -t 3 " + kX264 + path);
    else if (name == "vbase.h264")
        ok = Ffmpeg(video + "-profile:v baseline " + kX264 + path);
    else if (name == "vbf0.h264")
        ok = Ffmpeg(video + "-bf 0 " + kX264 + path);
    else if (name == "vhrd.h264")
        ok = Ffmpeg(video + "-b:v 1M -maxrate 1M -bufsize 1M -x264-params nal-hrd=vbr " + kX264 + path);
    else if (name == "v.m4v")
        ok = Ffmpeg(video + "-c:v mpeg4 -bf 2 -f m4v " + path);
    else if (name == "v.vc1") {
        const Bytes b = vc1test::Stream("IPBBPBBPBBPBBPB", 5);
        ok = static_cast<bool>(
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size())));
    } else if (name == "open.m2v")
        ok = MakeOpenGopClip(video, path);
    EXPECT_TRUE(ok) << "cannot make " << name;
    return made[name] = path;
}

std::map<std::string, std::string> Probe(const std::string& file, const std::string& entries) {
    std::map<std::string, std::string> m;
    std::istringstream in(Capture("ffprobe -v error -show_entries " + entries + " -of flat '" + file + "'"));
    std::string l;
    while (std::getline(in, l)) {
        const size_t eq = l.find('=');
        if (eq == std::string::npos) continue;
        std::string v = l.substr(eq + 1);
        if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
        m[l.substr(0, eq)] = v;
    }
    return m;
}

muxcore::FileMuxResult Mux(const std::string& out, const std::vector<std::string>& clips, int output, int compat = 0,
                           bool padding = false, bool ts192 = false, int timing = 0, int bitrate = 0) {
    muxcore::FileMuxJob job;
    job.settings.requiredBitrate = bitrate;
    job.settings.timingMode = timing;
    job.settings.output = output;
    job.settings.compatibility = compat;
    job.settings.usePadding = padding;
    job.settings.ts192 = ts192;
    job.output = out;
    for (const auto& c : clips) job.inputs.push_back({Clip(c), muxcore::kPinFree});
    return muxcore::MuxFiles(job);
}

struct Kind {
    const char* codec;
    const char* copyFormat;  // ffmpeg muxer for a stream copy, null: compare decoded PCM
    bool decodes = true;     // false: a header-only test stream with filler pictures
};

const std::map<std::string, Kind>& Kinds() {
    static const std::map<std::string, Kind> k = {
        {"v.m2v", {"mpeg2video", "mpeg2video"}},
        {"dvd.m2v", {"mpeg2video", "mpeg2video"}},
        {"v.m1v", {"mpeg1video", "mpeg1video"}},
        {"a.mp2", {"mp2", "mp2"}},
        {"a.ac3", {"ac3", "ac3"}},
        {"a.wav", {"pcm_dvd", nullptr}},
        {"a.aac", {"aac", "adts"}},
        {"open.m2v", {"mpeg2video", "mpeg2video"}},
        {"v.h264", {"h264", "h264"}},
        {"v30.h264", {"h264", "h264"}},
        {"vbase.h264", {"h264", "h264"}},
        {"vbf0.h264", {"h264", "h264"}},
        {"vhrd.h264", {"h264", "h264"}},
        {"v.m4v", {"mpeg4", "m4v"}},
        {"v.vc1", {"vc1", "vc1", false}},
    };
    return k;
}

// Duration of stream j from its packets: last PTS + last duration - first PTS.
double PacketDuration(const std::string& file, size_t j) {
    std::istringstream in(Capture("ffprobe -v error -select_streams " + std::to_string(j) +
                                  " -show_entries packet=pts_time,duration_time -of csv=p=0 '" + file + "'"));
    std::string l;
    double first = -1, lastEnd = 0;
    while (std::getline(in, l)) {
        const size_t c = l.find(',');
        if (c == std::string::npos || l.compare(0, 3, "N/A") == 0) continue;
        const double pts = std::atof(l.c_str());
        const double dur = std::atof(l.c_str() + c + 1);
        if (first < 0 || pts < first) first = pts;
        lastEnd = std::max(lastEnd, pts + dur);
    }
    return first < 0 ? 0 : lastEnd - first;
}

// Every stream is read with its codec and duration, decodes without a
// message, and comes back unchanged.
void ExpectReadsBack(const std::string& out, const std::vector<std::string>& clips) {
    bool decodes = true;
    for (const auto& c : clips) decodes = decodes && Kinds().at(c).decodes;
    if (decodes) {
        EXPECT_EQ(Capture("ffmpeg -hide_banner -nostdin -v error -i '" + out + "' -f null - 2>&1"), "");
    }
    const auto probe = Probe(out, "stream=codec_name");
    for (size_t i = 0; i < clips.size(); ++i) {
        SCOPED_TRACE(clips[i]);
        const Kind& kind = Kinds().at(clips[i]);
        // ffprobe orders streams by their first packet; find ours by codec.
        int index = -1;
        for (size_t j = 0; j < clips.size(); ++j) {
            const std::string key = "streams.stream." + std::to_string(j) + ".codec_name";
            if (probe.count(key) && probe.at(key) == kind.codec) index = static_cast<int>(j);
        }
        ASSERT_GE(index, 0) << "not found as " << kind.codec;
        EXPECT_NEAR(PacketDuration(out, static_cast<size_t>(index)), 3.0, 0.05);
        const std::string back = out + "." + std::to_string(i);
        const std::string map = " -map 0:" + std::to_string(index) + " ";
        if (kind.copyFormat) {
            ASSERT_TRUE(Ffmpeg("-i '" + out + "'" + map + "-c copy -f " + kind.copyFormat + " '" + back + "'"));
            EXPECT_TRUE(ReadFile(back) == ReadFile(Clip(clips[i]))) << "differs after the round trip";
        } else {
            // LPCM: the decoded samples equal the WAV file's.
            ASSERT_TRUE(Ffmpeg("-i '" + out + "'" + map + "-f s16le '" + back + "'"));
            ASSERT_TRUE(Ffmpeg("-i '" + Clip(clips[i]) + "' -f s16le '" + back + ".ref'"));
            EXPECT_TRUE(ReadFile(back) == ReadFile(back + ".ref")) << "LPCM samples differ";
        }
    }
}

int Pid(const std::vector<TsPacket>& pk, uint8_t streamId) {
    for (const auto& t : pk)
        if (t.pusi && t.payload && t.payloadSize > 4 && t.payload[0] == 0 && t.payload[1] == 0 && t.payload[2] == 1 &&
            t.payload[3] == streamId)
            return t.pid;
    return -1;
}

}  // namespace

// ------------------------------------------------------------ program stream

TEST(MuxFfmpeg, ProgramStreamsReadBackUnchanged) {
    SKIP_WITHOUT_FFMPEG();
    const std::vector<std::vector<std::string>> cases = {
        {"v.m2v", "a.mp2"}, {"v.m1v", "a.mp2"}, {"v.m2v", "a.ac3"}, {"v.m2v", "a.wav"}};
    int n = 0;
    for (const auto& clips : cases) {
        SCOPED_TRACE(clips[0] + " + " + clips[1]);
        const std::string out = Work("ps" + std::to_string(n++) + ".mpg");
        const auto r = Mux(out, clips, muxcore::kProgramStream);
        ASSERT_TRUE(r.ok) << r.error;
        ExpectReadsBack(out, clips);
        const ProgramStream ps = ParseProgramStream(ReadFile(out));
        EXPECT_EQ(ps.error, "");
        EXPECT_TRUE(ps.endCode);
    }
    // The same stream with its group times rebuilt ("Reconstruction Mode").
    const std::string out = Work("ps_reconstructed.mpg");
    const auto r = Mux(out, {"v.m2v", "a.mp2"}, muxcore::kProgramStream, 0, false, false, 1);
    ASSERT_TRUE(r.ok) << r.error;
    ExpectReadsBack(out, {"v.m2v", "a.mp2"});
}

TEST(MuxFfmpeg, ProgramStreamKeepsItsBufferModel) {
    SKIP_WITHOUT_FFMPEG();
    for (int compat : {0, 1}) {
        SCOPED_TRACE(compat ? "DVD" : "free PES size");
        const std::string out = Work(compat ? "pstd_dvd.mpg" : "pstd.mpg");
        const std::vector<std::string> clips = {compat ? "dvd.m2v" : "v.m2v", "a.mp2"};
        const auto r = Mux(out, clips, muxcore::kProgramStream, compat);
        ASSERT_TRUE(r.ok) << r.error;
        const ProgramStream ps = ParseProgramStream(ReadFile(out));
        ASSERT_EQ(ps.error, "");
        // SCRs increase and a pack arrives completely before the next SCR.
        for (size_t i = 1; i < ps.packs.size(); ++i) {
            const Pack& a = ps.packs[i - 1];
            ASSERT_GT(ps.packs[i].scr, a.scr);
            EXPECT_LE(a.scr + a.size * 27e6 / (a.muxRate * 50.0), ps.packs[i].scr + 1.0) << "pack " << i;
        }
        for (uint8_t id : {uint8_t(0xE0), uint8_t(0xC0)}) {
            int size = 0;
            const auto ds = PsDeliveries(ps, id, size);
            ASSERT_GT(size, 0);
            ASSERT_TRUE(ps.packs[0].systemHeader);
            const auto bound = ps.packs[0].bounds.at(id);
            EXPECT_EQ(bound.first, id == 0xE0 ? 1 : 0) << "P-STD scale follows the stream id";
            EXPECT_GE(bound.second * (bound.first ? 1024 : 128), size);
            const BufferReport rep = CheckBuffer(ds, id == 0xE0, size, id == 0xE0 ? 1080000 : 648000);
            EXPECT_GT(rep.units, 50u);
            EXPECT_EQ(rep.late, 0u) << rep.first;
            EXPECT_EQ(rep.overflows, 0u) << rep.first;
        }
    }
}

TEST(MuxFfmpeg, DvdPacksAreSectors) {
    SKIP_WITHOUT_FFMPEG();
    const std::string out = Work("dvd.mpg");
    const std::vector<std::string> clips = {"dvd.m2v", "a.mp2", "a.wav"};
    const auto r = Mux(out, clips, muxcore::kProgramStream, muxcore::kCompatDvd);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.programMuxRate, 25200u);
    const ProgramStream ps = ParseProgramStream(ReadFile(out));
    ASSERT_EQ(ps.error, "");
    size_t withPadding = 0, withStuffing = 0;
    for (size_t i = 0; i < ps.packs.size(); ++i) {
        const Pack& pk = ps.packs[i];
        EXPECT_EQ(pk.size, 2048u) << "pack " << i;
        EXPECT_EQ(pk.systemHeader, i == 0) << "pack " << i;
        for (const Pes& p : pk.pes) {
            // Fewer than 6 missing bytes are PES stuffing, more a padding packet.
            if (p.streamId == 0xBD) continue;  // LPCM packs have their fixed stuffing
            EXPECT_LE(p.stuffing, 5);
            if (p.stuffing) {
                ++withStuffing;
                EXPECT_TRUE(pk.paddingSizes.empty());
            }
        }
        for (size_t pad : pk.paddingSizes) EXPECT_GE(pad, 6u);
        withPadding += !pk.paddingSizes.empty();
    }
    EXPECT_GT(withPadding, 0u);
    // Every LPCM pack carries whole stereo samples, 2008 bytes but the last.
    size_t lpcm = 0;
    for (const Pack& pk : ps.packs)
        for (const Pes& p : pk.pes)
            if (p.streamId == 0xBD && p.subId == 0xA0) {
                ++lpcm;
                if (lpcm < 5) {
                    EXPECT_EQ(p.payload.size(), 7u + 2008u);
                }
            }
    EXPECT_GT(lpcm, 100u);
    ExpectReadsBack(out, clips);
}

// ------------------------------------------------------------ transport stream

TEST(MuxFfmpeg, TransportStreamsReadBackUnchanged) {
    SKIP_WITHOUT_FFMPEG();
    const std::vector<std::vector<std::string>> cases = {{"v.m2v", "a.mp2"}, {"v.m1v", "a.ac3"}, {"v.m2v", "a.aac"}};
    int n = 0;
    for (const auto& clips : cases) {
        SCOPED_TRACE(clips[0] + " + " + clips[1]);
        const std::string out = Work("ts" + std::to_string(n++) + ".ts");
        const auto r = Mux(out, clips, muxcore::kTransportStream);
        ASSERT_TRUE(r.ok) << r.error;
        ExpectReadsBack(out, clips);
    }
}

TEST(MuxFfmpeg, TransportStreamTiming) {
    SKIP_WITHOUT_FFMPEG();
    for (bool padding : {false, true}) {
        SCOPED_TRACE(padding ? "padding" : "no padding");
        const std::string out = Work(padding ? "timing_pad.ts" : "timing.ts");
        const auto r = Mux(out, {"v.m2v", "a.mp2"}, muxcore::kTransportStream, 0, padding);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.paddingPackets > 0, padding);
        std::string err;
        const Bytes b = ReadFile(out);
        const auto pk = ParseTransportStream(b, 188, err);
        ASSERT_EQ(err, "");
        const int vpid = Pid(pk, 0xE0);
        ASSERT_GT(vpid, 0);
        const auto times = PacketTimes(pk, static_cast<uint16_t>(vpid));

        // PAT and PMT at least every 100 ms, PAT first.
        std::map<int, double> lastTable;
        int pmtPid = -1;
        for (const auto& t : pk) {
            if (t.pid == 0 && t.pusi && t.payload) pmtPid = (t.payload[1 + 10] & 0x1F) << 8 | t.payload[1 + 11];
        }
        ASSERT_GT(pmtPid, 0);
        bool patSeen = false;
        for (const auto& t : pk) {
            if (t.pid == 0) patSeen = true;
            if (t.pid == pmtPid) {
                EXPECT_TRUE(patSeen) << "PMT before the first PAT";
            }
            if (t.pid != 0 && t.pid != pmtPid) continue;
            if (lastTable.count(t.pid)) {
                EXPECT_LE(times[t.index] - lastTable[t.pid], 2700000.0 + 1) << "table gap at packet " << t.index;
            }
            lastTable[t.pid] = times[t.index];
        }
        // PCRs of the PCR PID at most "PCR Interval (ms)" (50) apart.
        std::vector<std::pair<size_t, uint64_t>> pcrs;
        for (const auto& t : pk)
            if (t.hasPcr) {
                EXPECT_EQ(t.pid, vpid);
                pcrs.push_back({t.index, t.pcr});
            }
        ASSERT_GT(pcrs.size(), 50u);
        for (size_t i = 1; i < pcrs.size(); ++i) {
            EXPECT_LE(pcrs[i].second - pcrs[i - 1].second, 1350000u) << "PCR gap at packet " << pcrs[i].first;
        }
        if (padding) {
            // A constant-rate stream: every PCR sits on the packet-time grid.
            const double t =
                double(pcrs.back().second - pcrs.front().second) / double(pcrs.back().first - pcrs.front().first);
            for (const auto& p : pcrs) {
                EXPECT_NEAR(double(p.second), double(pcrs.front().second) + (p.first - pcrs.front().first) * t, 1.0);
            }
        }
        // Continuity counters: +1 per packet with payload, repeated without.
        std::map<int, int> cc;
        for (const auto& t : pk) {
            if (t.pid == 0x1FFF) continue;
            if (cc.count(t.pid)) {
                const int want = (t.afc & 1) ? (cc[t.pid] + 1) & 15 : cc[t.pid];
                EXPECT_EQ(t.cc, want) << "PID " << t.pid << " packet " << t.index;
            }
            cc[t.pid] = t.cc;
            // At most one PES starts per packet, at its first payload byte.
            if (t.pusi && t.pid != 0 && t.pid != pmtPid) {
                EXPECT_TRUE(t.payload[0] == 0 && t.payload[1] == 0 && t.payload[2] == 1);
            }
        }
    }
}

TEST(MuxFfmpeg, TransportStreamKeepsItsBufferModel) {
    SKIP_WITHOUT_FFMPEG();
    const std::string out = Work("tstd.ts");
    const auto r = Mux(out, {"v.m2v", "a.mp2"}, muxcore::kTransportStream);
    ASSERT_TRUE(r.ok) << r.error;
    std::string err;
    const Bytes b = ReadFile(out);
    const auto pk = ParseTransportStream(b, 188, err);
    ASSERT_EQ(err, "");
    const int vpid = Pid(pk, 0xE0), apid = Pid(pk, 0xC0);
    ASSERT_GT(vpid, 0);
    ASSERT_GT(apid, 0);
    const auto times = PacketTimes(pk, static_cast<uint16_t>(vpid));
    // MP@ML: Rx = 1.2 x 15 Mbit/s; video buffer = vbv (1835008 bits) plus the
    // multiplex and overhead allowance of Rmax x (4 ms + 1/750 s); audio: 2 Mbit/s, 3584 bytes.
    size_t tbOver = 0;
    const auto vd = TsDeliveries(pk, times, static_cast<uint16_t>(vpid), 18e6 / 8, tbOver);
    EXPECT_EQ(tbOver, 0u);
    const BufferReport v = CheckBuffer(vd, true, 1835008 / 8 + 15e6 / 8 * (0.004 + 1.0 / 750), 1080000);
    EXPECT_GT(v.units, 50u);
    EXPECT_EQ(v.late, 0u) << v.first;
    EXPECT_EQ(v.overflows, 0u) << v.first;
    const auto ad = TsDeliveries(pk, times, static_cast<uint16_t>(apid), 2e6 / 8, tbOver);
    EXPECT_EQ(tbOver, 0u);
    const BufferReport a = CheckBuffer(ad, false, 3584, 648000);
    EXPECT_GT(a.units, 100u);
    EXPECT_EQ(a.late, 0u) << a.first;
    EXPECT_EQ(a.overflows, 0u) << a.first;
}

TEST(MuxFfmpeg, Ts192PrefixesTheClock) {
    SKIP_WITHOUT_FFMPEG();
    const std::string out = Work("t192.m2ts");
    const auto r = Mux(out, {"v.m2v", "a.mp2"}, muxcore::kTransportStream, 0, false, true);
    ASSERT_TRUE(r.ok) << r.error;
    const Bytes b = ReadFile(out);
    ASSERT_EQ(b.size() % 192, 0u);
    std::string err;
    const auto pk = ParseTransportStream(b, 192, err);
    ASSERT_EQ(err, "");
    // The 30-bit prefix follows the clock: it never decreases (until it wraps).
    uint32_t last = 0;
    for (size_t at = 0; at < b.size(); at += 192) {
        const uint32_t s = (uint32_t(b[at] & 0x3F) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
        EXPECT_GE(s, last);
        last = s;
    }
    EXPECT_EQ(Capture("ffmpeg -hide_banner -nostdin -v error -i '" + out + "' -f null - 2>&1"), "");
}

// ------------------------------------------------------------ time stamps

namespace {

struct Stamp {
    bool hasPts = false, hasDts = false;
    uint64_t pts = 0, dts = 0;  // 90 kHz
};

// The PES headers of one stream in order: by stream_id in a program stream,
// by the PID of that stream_id in a transport stream.
std::vector<Stamp> PesStamps(const Bytes& b, int output, uint8_t streamId) {
    std::vector<Stamp> v;
    auto add = [&v](const Pes& p) { v.push_back({p.hasPts, p.hasDts, p.pts, p.dts}); };
    if (output == muxcore::kProgramStream) {
        const ProgramStream ps = ParseProgramStream(b);
        EXPECT_EQ(ps.error, "");
        for (const auto& pk : ps.packs)
            for (const auto& p : pk.pes)
                if (p.streamId == streamId) add(p);
        return v;
    }
    std::string err;
    const auto pk = ParseTransportStream(b, 188, err);
    EXPECT_EQ(err, "");
    const int pid = Pid(pk, streamId);
    EXPECT_GT(pid, 0);
    for (const auto& t : pk) {
        Pes p;
        size_t hs = 0;
        if (t.pid == pid && t.pusi && t.payload && ParsePesHeader(t.payload, t.payloadSize, p, hs)) add(p);
    }
    return v;
}

}  // namespace

TEST(MuxFfmpeg, EveryStreamHasAPtsAtLeastEvery700ms) {
    SKIP_WITHOUT_FFMPEG();
    const struct {
        int compat;
        const char* video;
    } cases[] = {{muxcore::kCompatNone, "v.m2v"}, {muxcore::kCompatDvd, "dvd.m2v"}, {muxcore::kCompatSvcd, "v.m2v"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.compat);
        const std::string out = Work("pts" + std::to_string(c.compat) + ".mpg");
        const auto r = Mux(out, {c.video, "a.mp2"}, muxcore::kProgramStream, c.compat);
        ASSERT_TRUE(r.ok) << r.error;
        const Bytes b = ReadFile(out);
        for (uint8_t id : {uint8_t(0xE0), uint8_t(0xC0)}) {
            SCOPED_TRACE(int(id));
            const auto st = PesStamps(b, muxcore::kProgramStream, id);
            ASSERT_GT(st.size(), 10u);
            ASSERT_TRUE(st.front().hasPts);
            uint64_t last = st.front().pts;
            size_t stamped = 0;
            for (size_t i = 1; i < st.size(); ++i) {
                if (!st[i].hasPts) continue;
                ++stamped;
                EXPECT_LE(st[i].pts > last ? st[i].pts - last : last - st[i].pts, 63000u) << "PES " << i;
                last = st[i].pts;
            }
            EXPECT_GT(stamped, 10u);
        }
        // Every video PES in which a picture starts carries a PTS (the one of
        // the first picture that starts in it).
        const ProgramStream ps = ParseProgramStream(b);
        size_t pictures = 0;
        for (const auto& pk : ps.packs)
            for (const auto& p : pk.pes) {
                if (p.streamId != 0xE0) continue;
                bool starts = false;
                for (size_t i = 0; i + 4 <= p.payload.size() && !starts; ++i)
                    starts =
                        p.payload[i] == 0 && p.payload[i + 1] == 0 && p.payload[i + 2] == 1 && p.payload[i + 3] == 0;
                pictures += starts;
                EXPECT_TRUE(!starts || p.hasPts) << "pack at " << pk.offset;
            }
        EXPECT_GE(pictures, 40u);  // 75 pictures; small ones may share a packet
    }
}

TEST(MuxFfmpeg, DecodingTimesIncreaseInEveryOutputMode) {
    SKIP_WITHOUT_FFMPEG();
    int n = 0;
    for (const char* clip : {"v.m2v", "open.m2v"})
        for (int output : {muxcore::kProgramStream, muxcore::kTransportStream, muxcore::kTransportFixedPids})
            for (int timing : {muxcore::kCaptureMode, muxcore::kReconstructionMode}) {
                SCOPED_TRACE(std::string(clip) + " output " + std::to_string(output) + " timing " +
                             std::to_string(timing));
                const std::string out = Work("dts" + std::to_string(n++) + ".mpg");
                const auto r = Mux(out, {clip}, output, 0, false, false, timing);
                ASSERT_TRUE(r.ok) << r.error;
                const auto st = PesStamps(ReadFile(out), output, 0xE0);
                size_t units = 0;
                uint64_t last = 0;
                for (size_t i = 0; i < st.size(); ++i) {
                    if (!st[i].hasPts) continue;
                    const uint64_t dts = st[i].hasDts ? st[i].dts : st[i].pts;
                    EXPECT_LE(dts, st[i].pts) << "PES " << i;
                    if (units++) {
                        EXPECT_GT(dts, last) << "PES " << i;
                    }
                    last = dts;
                }
                EXPECT_GE(units, 60u);
            }
}

TEST(MuxFfmpeg, OpenGroupsKeepTheTransportModelAndIntervals) {
    SKIP_WITHOUT_FFMPEG();
    const std::string out = Work("open.ts");
    const auto r = Mux(out, {"open.m2v", "a.mp2"}, muxcore::kTransportStream);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.lateUnits, 0u);
    EXPECT_EQ(r.paddingPackets, 0u);
    std::string err;
    const Bytes b = ReadFile(out);
    const auto pk = ParseTransportStream(b, 188, err);
    ASSERT_EQ(err, "");
    const int vpid = Pid(pk, 0xE0), apid = Pid(pk, 0xC0);
    ASSERT_GT(vpid, 0);
    ASSERT_GT(apid, 0);
    auto times = PacketTimes(pk, static_cast<uint16_t>(vpid));
    // Packets before the first PCR: one slot each before it (the slot is the
    // shortest PCR step per packet; idle slots only lengthen others).
    size_t firstPcr = 0;
    double slot = 1e18;
    for (size_t i = 0, prev = SIZE_MAX; i < pk.size(); ++i) {
        if (!pk[i].hasPcr || pk[i].pid != vpid) continue;
        if (prev == SIZE_MAX)
            firstPcr = i;
        else
            slot = std::min(slot, double(pk[i].pcr - pk[prev].pcr) / double(i - prev));
        prev = i;
    }
    for (size_t i = 0; i < firstPcr; ++i) times[i] = double(pk[firstPcr].pcr) - double(firstPcr - i) * slot;
    size_t tbOver = 0;
    const auto vd = TsDeliveries(pk, times, static_cast<uint16_t>(vpid), 18e6 / 8, tbOver);
    EXPECT_EQ(tbOver, 0u);
    const BufferReport v = CheckBuffer(vd, true, 1835008 / 8 + 15e6 / 8 * (0.004 + 1.0 / 750), 1080000);
    EXPECT_GT(v.units, 50u);
    EXPECT_EQ(v.late, 0u) << v.first;
    EXPECT_EQ(v.overflows, 0u) << v.first;
    const auto ad = TsDeliveries(pk, times, static_cast<uint16_t>(apid), 2e6 / 8, tbOver);
    EXPECT_EQ(tbOver, 0u);
    const BufferReport a = CheckBuffer(ad, false, 3584, 648000);
    EXPECT_EQ(a.late, 0u) << a.first;
    EXPECT_EQ(a.overflows, 0u) << a.first;
    // PCRs at most 50 ms apart, PAT and PMT at most 100 ms, each measured on
    // the clock the packets arrive by.
    std::map<int, double> last;
    int pmtPid = -1;
    for (const auto& t : pk)
        if (t.pid == 0 && t.pusi && t.payload) pmtPid = (t.payload[1 + 10] & 0x1F) << 8 | t.payload[1 + 11];
    ASSERT_GT(pmtPid, 0);
    uint64_t lastPcr = 0;
    bool anyPcr = false;
    for (const auto& t : pk) {
        if (t.hasPcr) {
            if (anyPcr) {
                EXPECT_LE(t.pcr - lastPcr, 1350000u) << "PCR gap at packet " << t.index;
            }
            lastPcr = t.pcr;
            anyPcr = true;
        }
        if (t.pid != 0 && t.pid != pmtPid) continue;
        if (last.count(t.pid)) {
            EXPECT_LE(times[t.index] - last[t.pid], 2700000.0) << "table gap at packet " << t.index;
        }
        last[t.pid] = times[t.index];
    }
}

TEST(MuxFfmpeg, OverloadIsReportedAndDvdKeepsItsRate) {
    SKIP_WITHOUT_FFMPEG();
    // 6 Mbit/s of video in a 5 Mbit/s transport stream.
    const std::string ts = Work("over.ts");
    const auto t = Mux(ts, {"v6.m2v"}, muxcore::kTransportStream, 0, false, false, 0, 5000000);
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_GT(t.lateUnits, 10u);
    // 12 Mbit/s of video on a DVD: the rate stays at 10.08 Mbit/s.
    const std::string dvd = Work("over.mpg");
    const auto d = Mux(dvd, {"v12.m2v"}, muxcore::kProgramStream, muxcore::kCompatDvd);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.programMuxRate, 25200u);
    EXPECT_GT(d.lateUnits, 10u);
    const ProgramStream ps = ParseProgramStream(ReadFile(dvd));
    ASSERT_EQ(ps.error, "");
    for (size_t i = 0; i < ps.packs.size(); ++i) EXPECT_LE(ps.packs[i].muxRate, 25200u) << "pack " << i;
    // Enough rate: nothing late.
    const auto fine = Mux(Work("fine.ts"), {"v.m2v", "a.mp2"}, muxcore::kTransportStream);
    ASSERT_TRUE(fine.ok) << fine.error;
    EXPECT_EQ(fine.lateUnits, 0u);
}
TEST(MuxFfmpeg, FixedRatesKeepTheTransportBuffers) {
    SKIP_WITHOUT_FFMPEG();
    // Idle slots between packets (no padding): a PCR packet goes before the
    // first packet after them, and the buffer models count the packet at the
    // slot it really takes.
    int n = 0;
    for (int rate : {6000000, 10000000, 20000000})
        for (const char* clip : {"v.m2v", "open.m2v"}) {
            SCOPED_TRACE(std::string(clip) + " at " + std::to_string(rate));
            const std::string out = Work("rate" + std::to_string(n++) + ".ts");
            const auto r = Mux(out, {clip, "a.mp2"}, muxcore::kTransportStream, 0, false, false, 0, rate);
            ASSERT_TRUE(r.ok) << r.error;
            EXPECT_EQ(r.lateUnits, 0u);
            std::string err;
            const Bytes b = ReadFile(out);
            const auto pk = ParseTransportStream(b, 188, err);
            ASSERT_EQ(err, "");
            const int vpid = Pid(pk, 0xE0), apid = Pid(pk, 0xC0);
            ASSERT_GT(vpid, 0);
            ASSERT_GT(apid, 0);
            const auto times = PacketTimes(pk, static_cast<uint16_t>(vpid));
            size_t audioOver = 0, videoOver = 0;
            TsDeliveries(pk, times, static_cast<uint16_t>(apid), 2e6 / 8, audioOver);
            TsDeliveries(pk, times, static_cast<uint16_t>(vpid), 18e6 / 8, videoOver);
            EXPECT_EQ(audioOver, 0u);
            EXPECT_EQ(videoOver, 0u);
        }
}

// ------------------------------------------------------------ H.264

namespace {

const std::vector<std::string>& TimedClips() {
    static const std::vector<std::string> c = {"v.h264", "v30.h264", "vbase.h264", "vbf0.h264", "vhrd.h264", "v.m4v"};
    return c;
}

// Per decoded frame in display order: "pts md5" with the pts counted from
// the first frame in seconds (rounded to 0.1 ms).
std::vector<std::string> ShownFrames(const std::string& file) {
    std::istringstream in(
        Capture("ffmpeg -hide_banner -nostdin -v error -i '" + file + "' -map 0:v -f framemd5 - 2>/dev/null"));
    std::vector<std::string> v;
    std::string l;
    double timeBase = 0, first = -1;
    while (std::getline(in, l)) {
        if (l.rfind("#tb 0:", 0) == 0) {
            const size_t slash = l.find('/');
            timeBase = std::atof(l.c_str() + 6) / std::atof(l.c_str() + slash + 1);
        }
        if (l.empty() || l[0] == '#') continue;
        std::vector<std::string> f;
        std::istringstream fs(l);
        std::string part;
        while (std::getline(fs, part, ',')) f.push_back(part);
        if (f.size() < 6) continue;
        const double pts = std::atof(f[2].c_str()) * timeBase;
        if (first < 0) first = pts;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.4f ", pts - first);
        v.push_back(buf + f[5]);
    }
    return v;
}

}  // namespace

TEST(MuxFfmpeg, H264ReadsBackUnchanged) {
    SKIP_WITHOUT_FFMPEG();
    struct Case {
        std::vector<std::string> clips;
        int output;
    } cases[] = {
        {{"v.h264", "a.mp2"}, muxcore::kProgramStream},       {{"vhrd.h264", "a.mp2"}, muxcore::kProgramStream},
        {{"v.h264", "a.mp2"}, muxcore::kTransportStream},     {{"v30.h264", "a.aac"}, muxcore::kTransportStream},
        {{"vbase.h264", "a.mp2"}, muxcore::kTransportStream}, {{"vbf0.h264", "a.ac3"}, muxcore::kTransportStream},
        {{"vhrd.h264", "a.aac"}, muxcore::kTransportStream},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clips[0] + " + " + c.clips[1] + (c.output == muxcore::kProgramStream ? " PS" : " TS"));
        const std::string out =
            Work("h264_" + std::to_string(n++) + (c.output == muxcore::kProgramStream ? ".mpg" : ".ts"));
        const auto r = Mux(out, c.clips, c.output);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.lateUnits, 0u);
        ExpectReadsBack(out, c.clips);
    }
}

// H.264 and MPEG-4 Part 2 with B pictures.
constexpr int kRebuiltTs = -1;
TEST(MuxFfmpeg, ReorderedVideoTimesAreTheSourcesDisplayTimes) {
    SKIP_WITHOUT_FFMPEG();
    for (const std::string& clip : TimedClips()) {
        // H.264 groups rebuilt ("Reconstruction Mode") show the same frames.
        for (int output : {int{muxcore::kTransportStream}, int{muxcore::kProgramStream}, kRebuiltTs}) {
            if (output == muxcore::kProgramStream && clip != "v.h264") continue;  // the same scanner: one is enough
            if (output == kRebuiltTs && clip == "v.m4v") continue;
            SCOPED_TRACE(clip + (output == muxcore::kProgramStream ? " PS"
                                 : output == kRebuiltTs            ? " TS rebuilt"
                                                                   : " TS"));
            const std::string out = Work("times_" + clip +
                                         (output == muxcore::kProgramStream ? ".mpg"
                                          : output == kRebuiltTs            ? "_rebuilt.ts"
                                                                            : ".ts"));
            const auto r = output == kRebuiltTs ? Mux(out, {clip}, muxcore::kTransportStream, 0, false, false,
                                                      muxcore::kReconstructionMode)
                                                : Mux(out, {clip}, output);
            ASSERT_TRUE(r.ok) << r.error;
            // Each frame is shown at the source's time, the same picture.
            const auto want = ShownFrames(Clip(clip)), got = ShownFrames(out);
            EXPECT_GE(want.size(), 75u);
            EXPECT_EQ(got, want);
            // Decoding times rise strictly and never pass the presentation time.
            std::istringstream in(
                Capture("ffprobe -v error -select_streams v -show_entries packet=pts,dts -of csv=p=0 '" + out + "'"));
            std::string l;
            long long prev = -1;
            size_t packets = 0;
            while (std::getline(in, l)) {
                if (l.find(',') == std::string::npos) continue;  // side-data lines
                const long long pts = std::atoll(l.c_str()), dts = std::atoll(l.c_str() + l.find(',') + 1);
                EXPECT_LE(dts, pts) << "packet " << packets;
                EXPECT_GT(dts, prev) << "packet " << packets;
                prev = dts;
                ++packets;
            }
            EXPECT_EQ(packets, want.size());
        }
    }
}

TEST(MuxFfmpeg, H264KeepsTheBufferModels) {
    SKIP_WITHOUT_FFMPEG();
    for (const std::string& clip : {std::string("v.h264"), std::string("vhrd.h264")}) {
        SCOPED_TRACE(clip);
        const Bytes es = ReadFile(Clip(clip));
        // The level and HRD of the clip's sequence parameter set.
        uint32_t level = 0;
        bool hrd = false;
        for (size_t i = 0; i + 8 < es.size(); ++i)
            if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && (es[i + 3] & 0x1F) == 7) {
                level = es[i + 6];
                hrd = clip == "vhrd.h264";
                break;
            }
        // ISO/IEC 13818-1 for H.264: Rx = 1200 x MaxBR (1.2 x the HRD rate),
        // EB = 1200 x MaxCPB (the HRD's CPB) plus the multiplex allowance.
        const std::map<uint32_t, std::pair<double, double>> table = {
            {11, {500, 192}},   {12, {1000, 384}},    {13, {2000, 768}},    {20, {2000, 2000}},  {21, {4000, 4000}},
            {22, {4000, 4000}}, {30, {10000, 10000}}, {31, {14000, 14000}}, {32, {20000, 20000}}};
        ASSERT_TRUE(table.count(level)) << "level " << level;
        const double rx = hrd ? 1.2 * 1e6 / 8 : 1200.0 * table.at(level).second / 8;
        const double cpb = hrd ? 1e6 / 8 : 1200.0 * table.at(level).first / 8;
        const double allowance = std::max(rx * 8, 2e6) / 8 * (0.004 + 1.0 / 750);

        const std::string ts = Work("buffers_" + clip + ".ts");
        auto r = Mux(ts, {clip, "a.mp2"}, muxcore::kTransportStream);
        ASSERT_TRUE(r.ok) << r.error;
        std::string err;
        const Bytes b = ReadFile(ts);
        const auto pk = ParseTransportStream(b, 188, err);
        ASSERT_EQ(err, "");
        const int vpid = Pid(pk, 0xE0);
        ASSERT_GT(vpid, 0);
        const auto times = PacketTimes(pk, static_cast<uint16_t>(vpid));
        size_t tbOver = 0;
        const auto vd = TsDeliveries(pk, times, static_cast<uint16_t>(vpid), rx, tbOver);
        EXPECT_EQ(tbOver, 0u);
        BufferReport v = CheckBuffer(vd, true, cpb + allowance, 1080000, kH264Video);
        EXPECT_GE(v.units, 75u);
        EXPECT_EQ(v.late, 0u) << v.first;
        EXPECT_EQ(v.overflows, 0u) << v.first;

        const std::string psFile = Work("buffers_" + clip + ".mpg");
        r = Mux(psFile, {clip, "a.mp2"}, muxcore::kProgramStream);
        ASSERT_TRUE(r.ok) << r.error;
        const ProgramStream ps = ParseProgramStream(ReadFile(psFile));
        ASSERT_EQ(ps.error, "");
        int size = 0;
        const auto ds = PsDeliveries(ps, 0xE0, size);
        ASSERT_GT(size, 0);
        v = CheckBuffer(ds, true, size, 1080000, kH264Video);
        EXPECT_GE(v.units, 75u);
        EXPECT_EQ(v.late, 0u) << v.first;
        EXPECT_EQ(v.overflows, 0u) << v.first;
    }
}

TEST(MuxFfmpeg, Mpeg4AndVc1ReadBackUnchanged) {
    SKIP_WITHOUT_FFMPEG();
    int n = 0;
    for (const auto& clips : {std::vector<std::string>{"v.m4v", "a.ac3"}, std::vector<std::string>{"v.vc1", "a.mp2"}})
        for (int output : {muxcore::kProgramStream, muxcore::kTransportStream}) {
            const bool ps = output == muxcore::kProgramStream;
            SCOPED_TRACE(clips[0] + (ps ? " PS" : " TS"));
            const std::string out = Work("m4vc1_" + std::to_string(n++) + (ps ? ".mpg" : ".ts"));
            const auto r = Mux(out, clips, output);
            ASSERT_TRUE(r.ok) << r.error;
            ExpectReadsBack(out, clips);
            if (clips[0] != "v.vc1" || ps) continue;
            // The PMT entry: stream type 0xEA with the "VC-1" registration
            // descriptor and its profile-and-level byte (advanced, level 1).
            const Bytes b = ReadFile(out);
            const uint8_t reg[] = {0x05, 0x06, 'V', 'C', '-', '1', 0x01, 146};
            bool found = false;
            for (size_t i = 5; i + sizeof reg <= b.size() && !found; ++i)
                found = std::equal(reg, reg + sizeof reg, b.begin() + static_cast<std::ptrdiff_t>(i)) &&
                        b[i - 5] == 0xEA && (b[i - 1] | (b[i - 2] & 0x0F) << 8) == sizeof reg;
            EXPECT_TRUE(found);
        }
}

// The kind of each unit against the picture type ffprobe decodes, picture by
// picture in display order.
TEST(MuxFfmpeg, UnitKindsMatchThePictureTypes) {
    SKIP_WITHOUT_FFMPEG();
    for (const std::string& clip : {std::string("v.h264"), std::string("vbase.h264"), std::string("v.m4v")}) {
        SCOPED_TRACE(clip);
        std::string want;
        std::istringstream in(
            Capture("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 '" + Clip(clip) + "'"));
        std::string l;
        while (std::getline(in, l))
            if (!l.empty()) want += l[0];
        muxcore::Multiplexer mux;
        mux.Settings().output = muxcore::kTransportStream;
        muxcore::StreamSettings s;
        s.streamType = clip == "v.m4v" ? muxcore::kPinMpeg4 : muxcore::kPinH264;
        muxcore::InputStream* input = mux.AddInput(s);
        ASSERT_NE(input, nullptr);
        ASSERT_EQ(mux.Start(nullptr), muxcore::kS_OK);
        const Bytes b = ReadFile(Clip(clip));
        ASSERT_EQ(input->Push(b.data(), b.size()), muxcore::kS_OK);
        input->EndOfStream();
        input->PullInput();
        std::vector<std::pair<int64_t, char>> shown;
        muxcore::AccessUnit u;
        for (int32_t i = 0; input->Units().At(i, u) == 0; ++i)
            shown.push_back({u.pts, u.kind <= muxcore::kUnitIWithSequence ? 'I'
                                    : u.kind == muxcore::kUnitP           ? 'P'
                                                                          : 'B'});
        std::sort(shown.begin(), shown.end());
        std::string got;
        for (const auto& p : shown) got += p.second;
        EXPECT_EQ(got, want);
    }
}

// P-STD of MPEG-4 Part 2 and VC-1 in program streams; T-STD with
// ISO/IEC 13818-1's Rx: 1.2 x the VOL's rate (the muxer's 2 Mbit/s when it
// states none) and 1.2 x the VC-1 level's peak (10 Mbit/s at level 1).
TEST(MuxFfmpeg, Mpeg4AndVc1KeepTheBufferModels) {
    SKIP_WITHOUT_FFMPEG();
    for (const std::string& clip : {std::string("v.m4v"), std::string("v.vc1")}) {
        SCOPED_TRACE(clip);
        const int syntax = clip == "v.m4v" ? kMpeg4Video : kVc1Video;
        const std::string psFile = Work("pstd_" + clip + ".mpg");
        auto r = Mux(psFile, {clip, "a.mp2"}, muxcore::kProgramStream);
        ASSERT_TRUE(r.ok) << r.error;
        const ProgramStream ps = ParseProgramStream(ReadFile(psFile));
        ASSERT_EQ(ps.error, "");
        const uint8_t id = clip == "v.m4v" ? 0xE0 : 0xFD;
        int size = 0;
        const auto ds = PsDeliveries(ps, id, size);
        ASSERT_GT(size, 0);
        BufferReport v = CheckBuffer(ds, true, size, 1080000, syntax);
        EXPECT_GE(v.units, 75u);
        EXPECT_EQ(v.late, 0u) << v.first;
        EXPECT_EQ(v.overflows, 0u) << v.first;

        const std::string ts = Work("tstd_" + clip + ".ts");
        r = Mux(ts, {clip, "a.mp2"}, muxcore::kTransportStream);
        ASSERT_TRUE(r.ok) << r.error;
        std::string err;
        const Bytes b = ReadFile(ts);
        const auto pk = ParseTransportStream(b, 188, err);
        ASSERT_EQ(err, "");
        const int vpid = Pid(pk, id);
        ASSERT_GT(vpid, 0);
        const auto times = PacketTimes(pk, static_cast<uint16_t>(vpid));
        const double rx = (clip == "v.m4v" ? 2e6 : 10e6) * 1.2 / 8;
        size_t tbOver = 0;
        const auto vd = TsDeliveries(pk, times, static_cast<uint16_t>(vpid), rx, tbOver);
        EXPECT_EQ(tbOver, 0u);
        v = CheckBuffer(vd, true, 1e9, 1080000, syntax);
        EXPECT_GE(v.units, 75u);
        EXPECT_EQ(v.late, 0u) << v.first;
    }
}
