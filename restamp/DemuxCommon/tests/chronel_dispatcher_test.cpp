#include "restamp/DemuxCommon/ChronelDispatcher.h"
#include "restamp/DemuxCommon/TimeMarkerCore.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The shell's side of the seam: kept time, unparsed span, 1,000-byte chunks.
struct Shell : chronel::ChunkDispatcherOwner {
    void OnTime(int64_t t) override { kept = t; }
    std::vector<int64_t> Run(chronel::ChunkDispatcher& d, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> span;
        int64_t position = 0;
        std::vector<int64_t> stamps;
        for (size_t off = 0; off < data.size(); off += 1000) {
            const size_t n = std::min<size_t>(1000, data.size() - off);
            span.insert(span.end(), data.begin() + long(off), data.begin() + long(off + n));
            const int64_t t = kept;
            kept = kNoTime;
            uint32_t parsed = 0;
            if (span.size() > 188) {
                EXPECT_EQ(d.ProcessData(span.data(), uint32_t(span.size()), position, &parsed), 0);
            }
            stamps.push_back(t);
            span.erase(span.begin(), span.begin() + parsed);
            position += int64_t(n);
        }
        d.EndOfStream();
        return stamps;
    }
    int64_t kept = 0;
};

TEST(ChronelDispatcher, StampsLikeTheCoreAndNamesTheFormat) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> f(576, 0x11);
        f[0] = 0xFF;
        f[1] = 0xFD;
        f[2] = 0xA4;
        f[3] = 0x00;
        data.insert(data.end(), f.begin(), f.end());
    }
    Shell shell;
    CChronelDispatcher d(&shell);
    EXPECT_STREQ(d.FormatName(), "Not Initialized");
    const auto viaSeam = shell.Run(d, data);
    EXPECT_STREQ(d.FormatName(), "Mpeg Audio Stream");

    CTimeMarkerCore core;
    std::vector<int64_t> viaCore;
    for (size_t off = 0; off < data.size(); off += 1000)
        viaCore.push_back(core.ProcessChunk(data.data() + off, uint32_t(std::min<size_t>(1000, data.size() - off))));
    EXPECT_EQ(viaSeam, viaCore);

    d.ResetAll();
    EXPECT_STREQ(d.FormatName(), "Not Initialized");
}

}  // namespace
