// Damaged H.264, MPEG-4 Part 2 and VC-1 inputs: cut short, bytes flipped,
// headers missing. Each ends as a valid mux or a clear error, never as a
// crash, a hang or an endless output.
#include "codec/common/tests/h264_writer.h"
#include "codec/multiplexer/FileMux.h"
#include "vc1_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include <unistd.h>

using namespace muxcore;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes H264(bool withParameterSets) {
    h264test::SpsOptions o;
    o.timing = true;
    o.restriction = true;
    o.reorder = 1;
    Bytes b;
    for (int g = 0; g < 4; ++g) {
        if (withParameterSets) {
            h264test::Add(b, h264test::SpsNal(o));
            h264test::Add(b, h264test::PpsNal());
        }
        for (uint32_t i = 0; i < 12; ++i) {
            h264test::SliceOptions s;
            s.idr = i == 0;
            s.sliceType = i == 0 ? 7 : i % 3 == 2 ? 6 : 5;
            s.refIdc = s.sliceType == 6 ? 0 : 2;
            s.frameNum = (i + 1) / 2 % 16;
            s.pocLsb = (i * 2) % 64;
            h264test::Add(b, h264test::SliceNal(o, s, 400));
        }
    }
    return b;
}

Bytes Mpeg4(bool withVol) {
    Bytes b;
    if (withVol) {
        vc1test::Bits w;
        w.U(0, 1);
        w.U(1, 8);
        w.U(0, 1);
        w.U(1, 4);
        w.U(0, 1);
        w.U(0, 2);
        w.U(1, 1);
        w.U(25, 16);
        w.U(1, 1);
        w.U(0, 1);
        w.U(1, 1);
        w.U(352, 13);
        w.U(1, 1);
        w.U(288, 13);
        w.U(1, 1);
        w.U(0, 1);
        w.AppendTo(b, 0x20);
    }
    for (uint32_t i = 0; i < 50; ++i) {
        vc1test::Bits w;
        w.U(i % 12 == 0 ? 0 : 1, 2);
        w.U(i % 25 == 0 && i ? 1 : 0, i % 25 == 0 && i ? 2 : 1);  // a second passes: "10"
        w.U(1, 1);
        w.U(i % 25, 5);
        w.U(1, 1);
        w.U(1, 1);
        w.AppendTo(b, 0xB6, 400);
    }
    return b;
}

Bytes Vc1(bool withSequence) {
    Bytes b = vc1test::Stream("IPBBPBBPBB", 4, 400);
    if (!withSequence) {
        // Drop every sequence layer (its start code to the next one).
        Bytes out;
        for (size_t i = 0; i < b.size();) {
            if (i + 4 <= b.size() && b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0x0F) {
                size_t j = i + 4;
                while (j + 3 < b.size() && !(b[j] == 0 && b[j + 1] == 0 && b[j + 2] == 1)) ++j;
                i = j;
                continue;
            }
            out.push_back(b[i++]);
        }
        return out;
    }
    return b;
}

FileMuxResult MuxBytes(const Bytes& b, int32_t type, int32_t output) {
    const std::string dir = ::testing::TempDir();
    // The process id keeps runs from other checkouts apart.
    const std::string tag = std::to_string(getpid());
    const std::string in = dir + "/" + tag + "-damaged.es", out = dir + "/" + tag + "-damaged.out";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    FileMuxJob job;
    job.settings.output = output;
    job.inputs.push_back({in, type});
    job.output = out;
    FileMuxResult r = MuxFiles(job);
    std::remove(in.c_str());
    std::remove(out.c_str());
    return r;
}

struct Source {
    const char* name;
    int32_t type;
    Bytes (*make)(bool);
};

const Source kSources[] = {{"h264", kPinH264, H264}, {"m4v", kPinMpeg4, Mpeg4}, {"vc1", kPinVc1, Vc1}};

}  // namespace

TEST(DamagedVideo, WholeStreamsMux) {
    for (const Source& s : kSources)
        for (int32_t output : {kProgramStream, kTransportStream}) {
            const Bytes b = s.make(true);
            const FileMuxResult r = MuxBytes(b, s.type, output);
            EXPECT_TRUE(r.ok) << s.name << ": " << r.error;
            EXPECT_GT(r.bytesOut, b.size()) << s.name;
        }
}

TEST(DamagedVideo, WithoutSequenceHeadersEndWithAnError) {
    for (const Source& s : kSources) {
        const FileMuxResult r = MuxBytes(s.make(false), s.type, kTransportStream);
        EXPECT_FALSE(r.ok) << s.name;
        EXPECT_NE(r.error.find("damaged.es"), std::string::npos) << s.name << ": " << r.error;
    }
}

TEST(DamagedVideo, CutAndFlippedStreamsEndCleanly) {
    std::mt19937 rng(24);
    for (const Source& s : kSources) {
        const Bytes whole = s.make(true);
        for (size_t cut : {size_t{3}, size_t{17}, whole.size() / 3, whole.size() - 5}) {
            const Bytes b(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            const FileMuxResult r = MuxBytes(b, s.type, kTransportStream);
            EXPECT_TRUE(r.ok || !r.error.empty()) << s.name << " cut at " << cut;
        }
        for (int round = 0; round < 6; ++round) {
            Bytes b = whole;
            for (int k = 0; k < 40; ++k) b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            const FileMuxResult r = MuxBytes(b, s.type, round % 2 ? kProgramStream : kTransportStream);
            EXPECT_TRUE(r.ok || !r.error.empty()) << s.name << " round " << round;
        }
    }
}
