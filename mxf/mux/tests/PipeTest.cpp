// The pipe against a deque model, and its contiguity edges.
#include "mxf/mux/ByteStreams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>

namespace {

TEST(Pipe, MatchesADequeUnderRandomSizes) {
    constexpr uint32_t kSize = 1000, kReserve = 129;
    bs_pipe* pipe = bs_pipe_open(kSize, kReserve);
    ASSERT_NE(pipe, nullptr);
    bufstream* w = &pipe->writer;
    bufstream* r = &pipe->reader;
    std::deque<uint8_t> model;
    std::mt19937 rng(7);
    uint8_t next = 0;
    uint64_t wrapped = 0;
    for (int step = 0; step < 20000; step++) {
        const uint32_t n = rng() % kReserve;  // up to reserve - 1: always contiguous
        switch (rng() % 4) {
            case 0: {  // write by request and commit
                uint8_t* p = w->request(w, n);
                const bool fits = n <= kSize - model.size();
                ASSERT_EQ(p != nullptr, fits) << step;
                if (!p) break;
                const uint32_t fill = n ? static_cast<uint32_t>(rng() % (n + 1)) : 0;
                for (uint32_t i = 0; i < fill; i++) p[i] = next++;
                ASSERT_EQ(w->commit(w, fill), fill);
                for (uint32_t i = 0; i < fill; i++) model.push_back(static_cast<uint8_t>(next - fill + i));
                break;
            }
            case 1: {  // write by copy
                std::vector<uint8_t> data(n);
                for (auto& b : data) b = next++;
                const uint32_t took = w->copy_bytes(w, data.data(), n);
                ASSERT_EQ(took, std::min<uint32_t>(n, kSize - static_cast<uint32_t>(model.size())));
                next = static_cast<uint8_t>(next - (n - took));
                model.insert(model.end(), data.begin(), data.begin() + took);
                break;
            }
            default: {  // read by request and commit
                const uint8_t* p = r->request(r, n);
                ASSERT_EQ(p != nullptr, n <= model.size()) << step;
                if (!p) break;
                for (uint32_t i = 0; i < n; i++) ASSERT_EQ(p[i], model[i]) << step;
                const uint32_t take = n ? static_cast<uint32_t>(rng() % (n + 1)) : 0;
                ASSERT_EQ(r->commit(r, take), take);
                model.erase(model.begin(), model.begin() + take);
                wrapped += take;
                break;
            }
        }
        ASSERT_EQ(r->bytes_available(r), model.size());
        ASSERT_EQ(w->bytes_available(w), kSize - model.size());
    }
    EXPECT_GT(wrapped, 20u * kSize);  // the ring went round many times
    bs_pipe_close(pipe);
}

TEST(Pipe, CommitIsClampedToTheReadableBytes) {
    bs_pipe* pipe = bs_pipe_open(100, 11);
    uint8_t data[5] = {1, 2, 3, 4, 5};
    pipe->writer.copy_bytes(&pipe->writer, data, 5);
    EXPECT_EQ(pipe->reader.commit(&pipe->reader, 50), 5u);
    EXPECT_EQ(pipe->reader.bytes_available(&pipe->reader), 0u);
    EXPECT_EQ(pipe->writer.bytes_available(&pipe->writer), 100u);
    bs_pipe_close(pipe);
}

TEST(Pipe, AWrappedTailLongerThanTheLeadInIsNotJoined) {
    // Ring of 100 with a 10-byte lead-in: fill 90, read 70, write 40 more
    // (wraps), the tail before the end is 30 bytes, longer than the lead-in.
    bs_pipe* pipe = bs_pipe_open(100, 11);
    bufstream* w = &pipe->writer;
    bufstream* r = &pipe->reader;
    std::vector<uint8_t> data(90, 1);
    ASSERT_EQ(w->copy_bytes(w, data.data(), 90), 90u);
    ASSERT_NE(r->request(r, 10), nullptr);
    ASSERT_EQ(r->commit(r, 10), 10u);
    for (int i = 0; i < 6; i++) {
        ASSERT_NE(r->request(r, 10), nullptr);
        r->commit(r, 10);
    }
    ASSERT_EQ(w->copy_bytes(w, data.data(), 40), 40u);
    EXPECT_EQ(r->bytes_available(r), 60u);
    EXPECT_EQ(r->request(r, 35), nullptr);  // crosses the end; the 30-byte tail exceeds the 10-byte lead-in
    ASSERT_NE(r->request(r, 25), nullptr);  // within the tail
    bs_pipe_close(pipe);
}

TEST(Pipe, WriterNotificationsReachTheReadingFacesHandler) {
    bs_pipe* pipe = bs_pipe_open(100, 11);
    static uint32_t heard = 0;
    pipe->reader.info = [](bufstream*, uint32_t, uint32_t id, void*, uint32_t) -> int32_t {
        heard = id;
        return 0;
    };
    EXPECT_EQ(pipe->writer.info(&pipe->writer, 0, BS_INFO_UNIT, nullptr, 0), 0);
    EXPECT_EQ(heard, static_cast<uint32_t>(BS_INFO_UNIT));
    EXPECT_EQ(pipe->writer.buffer_size(&pipe->writer), 10u);
    bs_pipe_close(pipe);
    EXPECT_EQ(bs_pipe_open(10, 11), nullptr);
}

}  // namespace
