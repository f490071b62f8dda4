// Truncations and byte flips of real and written streams never crash the
// library or make it read outside its input (run under ASan/UBSan).
#include "feed_all.h"
#include "ffmpeg_util.h"

#include <gtest/gtest.h>

#include <random>

using namespace spltest;

namespace {

std::vector<Bytes> Corpus() {
    std::vector<Bytes> corpus;
    // Written headers of every kind, back to back.
    corpus.push_back(Build([](SPL::BitstreamWriter& w) {
        StartCode(w, 0xBA);
        w.PutBits(0x44000400040001ull, 56);
        w.PutBits(0x0189C3F8, 32);
        StartCode(w, 0xBB);
        w.PutWord16(12);
        w.PutBits(0x80C4E104E1FFull, 48);
        w.PutBits(0xE0E0E8C0C020ull, 48);
        StartCode(w, 0xBC);
        w.PutWord16(20);
        w.PutBits(0x80FF0002, 32);
        w.PutWord16(0x0A0B);
        w.PutWord16(8);
        w.PutBits(0x02E00000, 32);
        w.PutBits(0x03C00000, 32);
        StartCode(w, 0xE0);
        w.PutWord16(40);
        w.PutBits(0x84C00A, 24);
        w.PutBits(0x3100010001ull, 40);
        w.PutBits(0x1100010001ull, 40);
        StartCode(w, 0xB3);
        w.PutBits(0x2D02403315F4A28Cull, 64);
        StartCode(w, 0xB5);
        w.PutBits(0x148A000100000000ull, 64);
        StartCode(w, 0xB8);
        w.PutBits(0x00080040, 32);
        StartCode(w, 0x00);
        w.PutBits(0x000FFFF8, 32);
        StartCode(w, 0xB5);
        w.PutBits(0x8FFF83800000ull, 48);
        w.PutBits(0xFFFD9404, 32);
        w.PutBits(0x0B77BEEF1C40E1F6ull, 64);
        w.PutBits(0xFFF15080171FFCull, 56);
        w.PutBits(0x47400010, 32);
        w.PutBits(0x0000B00D0001C100ull, 64);
        w.PutBits(0x0001F0002AB104B2ull, 64);
        w.PutBits(0x47010030, 32);
        w.PutBits(0x0750000014C87E00ull, 64);
    }));
    if (HaveFfmpeg()) {
        const char* made[][2] = {
            {"fz.ts",
             "-f lavfi -i testsrc=size=176x144:rate=25 -f lavfi -i sine=r=48000 -t 0.3 -c:v mpeg2video "
             "-c:a mp2 -f mpegts"},
            {"fz.vob",
             "-f lavfi -i testsrc=size=176x144:rate=25 -f lavfi -i sine=r=48000 -t 0.3 -c:v mpeg2video "
             "-c:a ac3 -f vob"},
            {"fz.m2v", "-f lavfi -i testsrc=size=176x144:rate=25 -frames:v 3 -c:v mpeg2video -f mpeg2video"},
            {"fz.aac", "-f lavfi -i sine=r=48000 -t 0.1 -c:a aac -f adts"},
            {"fz.eac3", "-f lavfi -i sine=r=48000 -t 0.1 -c:a eac3 -f eac3"},
        };
        for (auto& m : made) {
            const std::string file = WorkFile(m[0]);
            if (Ffmpeg(std::string(m[1]) + " " + Quote(file))) {
                Bytes b = ReadFile(file);
                if (b.size() > 6000) b.resize(6000);
                corpus.push_back(b);
            }
        }
    }
    return corpus;
}

}  // namespace

TEST(Robustness, EveryTruncationIsSafe) {
    for (const Bytes& blob : Corpus()) {
        const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(blob.size(), 400));
        // Every short length, then a stride through the rest.
        for (uint32_t n = 0; n <= limit; n += n < 128 ? 1 : 3) {
            Exact e(blob.data(), n);
            FeedAll(e.data(), e.size());
        }
    }
}

TEST(Robustness, RandomFlipsAndCutsAreSafe) {
    std::mt19937 rng(20261210);
    for (const Bytes& blob : Corpus()) {
        for (int round = 0; round < 400; ++round) {
            const size_t start = blob.size() > 512 ? rng() % (blob.size() - 512) : 0;
            Bytes w(blob.begin() + static_cast<long>(start),
                    blob.begin() + static_cast<long>(std::min(blob.size(), start + 512)));
            if (w.empty()) continue;
            const int flips = 1 + static_cast<int>(rng() % 6);
            for (int f = 0; f < flips; ++f) {
                uint8_t& b = w[rng() % w.size()];
                switch (rng() % 3) {
                    case 0:
                        b ^= static_cast<uint8_t>(1u << (rng() % 8));
                        break;
                    case 1:
                        b = 0xFF;
                        break;
                    default:
                        b = 0x00;
                        break;
                }
            }
            w.resize(1 + rng() % w.size());
            Exact e(w);
            FeedAll(e.data(), e.size());
        }
    }
}
