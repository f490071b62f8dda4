// A DMB transport stream of H.264 and AAC made by Debian's ffmpeg: its PMT
// read byte by byte (the IOD in the program info, an SL descriptor in each
// stream's entry), and ffmpeg still reads and decodes both streams.
#include "codec/multiplexer/FileMux.h"
#include "codec/scanning/Mpeg4Systems.h"
#include "stream_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <unistd.h>

using namespace muxtest;

namespace {

constexpr uint16_t kH264Type = 0x1B;
constexpr uint16_t kAdtsType = 0x0F;

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

// CRC-32 of MPEG-2 sections (polynomial 0x04C11DB7, no reflection): zero
// over a whole section with its CRC.
uint32_t SectionCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = 0; i < n; ++i) {
        c ^= static_cast<uint32_t>(p[i]) << 24;
        for (int k = 0; k < 8; ++k) c = (c & 0x80000000) ? (c << 1) ^ 0x04C11DB7 : c << 1;
    }
    return c;
}

// The first whole section on a PID, from table_id on.
Bytes FirstSection(const std::vector<TsPacket>& pk, uint16_t pid) {
    Bytes s;
    bool started = false;
    for (const auto& t : pk) {
        if (t.pid != pid || !t.payload || t.payloadSize == 0) continue;
        if (!started) {
            if (!t.pusi || 1u + t.payload[0] >= t.payloadSize) continue;
            started = true;
            s.assign(t.payload + 1 + t.payload[0], t.payload + t.payloadSize);
        } else {
            s.insert(s.end(), t.payload, t.payload + t.payloadSize);
        }
        if (s.size() >= 3) {
            const size_t whole = 3 + ((s[1] & 0x0Fu) << 8 | s[2]);
            if (s.size() >= whole) {
                s.resize(whole);
                return s;
            }
        }
    }
    return {};
}

// ISO/IEC 14496-1 expandable size: 7 bits a byte, up to four bytes.
uint32_t ReadSize(const Bytes& b, size_t& at) {
    uint32_t n = 0;
    for (int i = 0; i < 4 && at < b.size(); ++i) {
        const uint8_t c = b[at++];
        n = n << 7 | (c & 0x7Fu);
        if (!(c & 0x80)) break;
    }
    return n;
}

struct EsEntry {
    uint16_t esId;
    int ocrEsId;  // -1: no OCR stream flag
    bool operator==(const EsEntry& o) const { return esId == o.esId && ocrEsId == o.ocrEsId; }
};

// The ES descriptors of an initial object descriptor body [at, end).
std::vector<EsEntry> EsList(const Bytes& b, size_t at, size_t end) {
    std::vector<EsEntry> list;
    while (at + 2 <= end) {
        const uint8_t tag = b[at++];
        const uint32_t size = ReadSize(b, at);
        if (at + size > end) break;
        if (tag == 0x03 && size >= 3) {
            const size_t p = at;
            EsEntry e{static_cast<uint16_t>(b[p] << 8 | b[p + 1]), -1};
            const uint8_t flags = b[p + 2];
            size_t q = p + 3;
            if (flags & 0x80) q += 2;          // dependsOn_ES_ID
            if (flags & 0x40) q += 1u + b[q];  // URL
            if (flags & 0x20) e.ocrEsId = b[q] << 8 | b[q + 1];
            list.push_back(e);
        }
        at += size;
    }
    return list;
}

}  // namespace

TEST(DmbTransportStream, PmtCarriesTheIodAndSlDescriptorsAndFfmpegReadsIt) {
    if (std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg/ffprobe are not installed";
    const std::string dir = std::string(MUX_TEST_WORK_DIR) + "/dmb" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    const std::string video = dir + "/v.h264", audio = dir + "/a.aac", out = dir + "/dmb.ts";
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -t 1 -c:v libx264 -pix_fmt yuv420p -f h264 " + video));
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=48000 -ac 2 -t 1 -c:a aac -f adts " + audio));

    muxcore::FileMuxJob job;
    job.settings.output = muxcore::kTransportStream;
    job.settings.dmbCompatibility = 1;
    job.inputs = {{video, muxcore::kPinFree}, {audio, muxcore::kPinFree}};
    job.output = out;
    const muxcore::FileMuxResult r = muxcore::MuxFiles(job);
    ASSERT_TRUE(r.ok) << r.error;

    const Bytes ts = ReadFile(out);
    std::string error;
    const std::vector<TsPacket> pk = ParseTransportStream(ts, 188, error);
    ASSERT_TRUE(error.empty()) << error;
    const Bytes pat = FirstSection(pk, 0);
    ASSERT_GE(pat.size(), 16u);
    const uint16_t pmtPid = static_cast<uint16_t>((pat[10] & 0x1F) << 8 | pat[11]);
    const Bytes pmt = FirstSection(pk, pmtPid);
    ASSERT_GE(pmt.size(), 16u);
    EXPECT_EQ(pmt[0], 2);
    EXPECT_EQ(SectionCrc(pmt.data(), pmt.size()), 0u) << "CRC_32";

    // section_length = 13 + program_info_length + the entries' 5 + ES_info_length.
    const size_t sectionLength = (pmt[1] & 0x0Fu) << 8 | pmt[2];
    const size_t infoLength = (pmt[10] & 0x0Fu) << 8 | pmt[11];
    ASSERT_LE(12 + infoLength + 4, pmt.size());
    size_t expected = 13 + infoLength;
    std::map<uint16_t, Bytes> esInfo;  // by stream_type
    for (size_t at = 12 + infoLength; at + 5 <= pmt.size() - 4;) {
        const size_t n = (pmt[at + 3] & 0x0Fu) << 8 | pmt[at + 4];
        ASSERT_LE(at + 5 + n, pmt.size() - 4);
        esInfo[pmt[at]] =
            Bytes(pmt.begin() + static_cast<ptrdiff_t>(at + 5), pmt.begin() + static_cast<ptrdiff_t>(at + 5 + n));
        expected += 5 + n;
        at += 5 + n;
    }
    EXPECT_EQ(sectionLength, expected);
    EXPECT_EQ(sectionLength, pmt.size() - 3);

    // Each stream names its ES_ID in an SL descriptor; AAC takes 101, H.264 201.
    ASSERT_EQ(esInfo.size(), 2u);
    EXPECT_EQ(esInfo[kAdtsType], (Bytes{30, 2, 0, 101}));
    EXPECT_EQ(esInfo[kH264Type], (Bytes{30, 2, 0, 201}));

    // Program info: the IOD descriptor, its labels, then the initial object
    // descriptor with the two ES descriptors, the picture's clock the audio's.
    const Bytes info(pmt.begin() + 12, pmt.begin() + 12 + static_cast<ptrdiff_t>(infoLength));
    ASSERT_GE(info.size(), 13u);
    EXPECT_EQ(info[0], 29) << "IOD_descriptor";
    EXPECT_EQ(info[1], info.size() - 2);
    EXPECT_EQ(info[2], 0x10) << "Scope_of_IOD_label: unique within the transport stream";
    EXPECT_EQ(info[4], 0x02) << "InitialObjectDescriptor tag";
    size_t at = 5;
    const uint32_t iodSize = ReadSize(info, at);
    ASSERT_EQ(at + iodSize, info.size());
    EXPECT_EQ(info[at] << 2 | info[at + 1] >> 6, 1) << "ObjectDescriptorID";
    EXPECT_EQ(info[at + 1] & 0x20, 0) << "URL_Flag";
    EXPECT_EQ(EsList(info, at + 7, info.size()), (std::vector<EsEntry>{{101, -1}, {201, 101}}));

    // The same read by the systems library: SL configuration of 33-bit stamps
    // at 90 kHz. The video's ES has no AVC record: its PES carries the byte
    // stream, which a reader given the record would take for length-prefixed
    // samples.
    SPL_MPEG4::IodDescriptor iod;
    size_t used = 0;
    ASSERT_TRUE(iod.Parse(info.data(), info.size(), used));
    ASSERT_EQ(iod.es.size(), 2u);
    for (const auto& es : iod.es) {
        EXPECT_EQ(es.slConfig.predefined, 0);
        EXPECT_EQ(es.slConfig.timeStampResolution, 90000u);
        EXPECT_EQ(es.slConfig.OCRResolution, 90000u);
        EXPECT_EQ(es.slConfig.timeStampLength, 33);
        EXPECT_EQ(es.slConfig.OCRLength, 33);
        EXPECT_EQ(es.slConfig.useAccessUnitStartFlag + es.slConfig.useAccessUnitEndFlag +
                      es.slConfig.useTimeStampsFlag + es.slConfig.useIdleFlag,
                  4);
    }
    EXPECT_EQ(iod.es[0].decoderConfig.objectTypeIndication, 0x40);
    EXPECT_EQ(iod.es[1].decoderConfig.objectTypeIndication, 0x21);
    EXPECT_TRUE(iod.es[1].decoderConfig.specificInfo.empty());

    // Every PMT of the file is this one.
    size_t pmts = 0;
    for (const auto& t : pk)
        if (t.pid == pmtPid && t.pusi) {
            ++pmts;
            ASSERT_LE(1u + t.payload[0] + pmt.size(), t.payloadSize);
            EXPECT_TRUE(std::equal(pmt.begin(), pmt.end(), t.payload + 1 + t.payload[0])) << "PMT " << pmts;
        }
    EXPECT_GT(pmts, 1u);

    // The streams are plain PES: ffmpeg finds both and decodes them silently.
    const std::string probe = Capture("ffprobe -v error -show_entries stream=codec_name -of flat '" + out +
                                      "' | grep '^streams\\.' | cut -d= -f2 | sort | tr '\\n' ' '");
    EXPECT_EQ(probe, "\"aac\" \"h264\" ");
    EXPECT_EQ(Capture("ffmpeg -hide_banner -nostdin -v error -i '" + out + "' -f null - 2>&1"), "");
    if (!std::getenv("MUX_TEST_KEEP")) (void)std::system(("rm -rf '" + dir + "'").c_str());
}
