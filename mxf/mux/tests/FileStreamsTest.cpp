// The file reader, the file writer with its numbered files, and the seekable
// layer.
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

namespace {

using mexora_test::ReadFile;
using mexora_test::TempDir;
using mexora_test::WriteFile;

std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(i);
    return v;
}

TEST(FileReader, RequestsBeyondTheBufferAndAtTheEnd) {
    const std::string path = TempDir() + "/r.bin";
    ASSERT_TRUE(WriteFile(path, Bytes(100)));
    bufstream* bs = bs_file_reader_open(path.c_str(), 64, nullptr);
    ASSERT_NE(bs, nullptr);
    EXPECT_EQ(bs->request(bs, 65), nullptr);  // more than the buffer holds, every time
    EXPECT_EQ(bs->request(bs, 65), nullptr);
    ASSERT_NE(bs->request(bs, 60), nullptr);
    EXPECT_EQ(bs->commit(bs, 60), 60u);
    // 40 bytes remain: a request for 50 fails, the buffered tail is still reported.
    EXPECT_EQ(bs->request(bs, 50), nullptr);
    EXPECT_EQ(bs->bytes_available(bs), 40u);
    uint8_t out[50];
    EXPECT_EQ(bs->copy_bytes(bs, out, 50), 40u);
    EXPECT_EQ(out[0], 60);
    int64_t position = 0, size = 0;
    EXPECT_EQ(bs->info(bs, 0, BS_INFO_POSITION, &position, 8), 0);
    EXPECT_EQ(bs->info(bs, 0, BS_INFO_FILE_SIZE, &size, 8), 0);
    EXPECT_EQ(position, 100);
    EXPECT_EQ(size, 100);
    BufstreamClose(&bs, 0);
}

TEST(FileReader, CommitIsClampedToWhatWasBuffered) {
    const std::string path = TempDir() + "/r.bin";
    ASSERT_TRUE(WriteFile(path, Bytes(30)));
    bufstream* bs = bs_file_reader_open(path.c_str(), 64, nullptr);
    ASSERT_NE(bs->request(bs, 10), nullptr);
    EXPECT_EQ(bs->commit(bs, 1000), 30u);
    EXPECT_EQ(bs->bytes_available(bs), 0u);
    int64_t position = 0;
    bs->info(bs, 0, BS_INFO_POSITION, &position, 8);
    EXPECT_EQ(position, 30);
    BufstreamClose(&bs, 0);
}

TEST(FileReader, SwapsWordBytesAcrossOddReads) {
    const std::string path = TempDir() + "/r.bin";
    ASSERT_TRUE(WriteFile(path, Bytes(20)));
    bufstream* bs = bs_file_reader_open(path.c_str(), 64, nullptr);
    bs->info(bs, 0, BS_INFO_SWAP_BYTES, nullptr, 0);
    std::vector<uint8_t> got(20);
    // Odd pieces: the carry keeps the pairs aligned.
    EXPECT_EQ(bs->copy_bytes(bs, got.data(), 3), 3u);
    EXPECT_EQ(bs->copy_bytes(bs, got.data() + 3, 7), 7u);
    EXPECT_EQ(bs->copy_bytes(bs, got.data() + 10, 10), 10u);
    for (int i = 0; i < 20; i++) EXPECT_EQ(got[i], i ^ 1) << i;
    BufstreamClose(&bs, 0);
}

TEST(FileReader, MissingFileReportsAndGivesNull) {
    static std::string last;
    last.clear();
    EXPECT_EQ(bs_file_reader_open((TempDir() + "/none").c_str(), 64, [](const char* t) { last = t; }), nullptr);
    EXPECT_EQ(last, "BUFSTRM:Unable to open file for reading.");
}

// Megabytes read ahead come back in order through requests, commits and
// copies of every size, up to the end.
TEST(FileReader, LargeFilesComeBackInOrder) {
    const std::string path = TempDir() + "/large.bin";
    std::vector<uint8_t> file(5u << 20);
    for (size_t i = 0; i < file.size(); i++) file[i] = static_cast<uint8_t>(i * 13 + i / 4093);
    ASSERT_TRUE(WriteFile(path, file));
    bufstream* bs = bs_file_reader_open(path.c_str(), 64 * 1024, nullptr);
    ASSERT_NE(bs, nullptr);
    std::vector<uint8_t> back;
    uint32_t seed = 7;
    for (int i = 0;; i++) {
        seed = seed * 1103515245u + 12345u;
        uint32_t n = 1 + (seed >> 8) % (i % 2 ? 64 * 1024u : 300000u);
        if (i % 2) {
            const uint8_t* p = bs->request(bs, n);
            if (!p) n = bs->bytes_available(bs);
            p = n ? bs->request(bs, n) : nullptr;
            if (!p) break;
            back.insert(back.end(), p, p + n);
            ASSERT_EQ(bs->commit(bs, n), n);
        } else {
            std::vector<uint8_t> piece(n);
            const uint32_t got = bs->copy_bytes(bs, piece.data(), n);
            back.insert(back.end(), piece.begin(), piece.begin() + got);
            if (got < n) break;
        }
    }
    EXPECT_TRUE(back == file);
    EXPECT_EQ(bs->done(bs, 0), 0);
    bs->free(bs);
}

TEST(FileWriter, BuffersRequestsAndCopies) {
    const std::string path = TempDir() + "/w.bin";
    bufstream* bs = bs_file_writer_open(path.c_str(), 16, nullptr);
    ASSERT_NE(bs, nullptr);
    EXPECT_EQ(bs->request(bs, 17), nullptr);
    uint8_t* p = bs->request(bs, 10);
    std::memcpy(p, "0123456789", 10);
    bs->commit(bs, 10);
    p = bs->request(bs, 10);  // does not fit: the pending bytes go out first
    std::memcpy(p, "abcdefghij", 10);
    bs->commit(bs, 10);
    uint8_t tail[3] = {'X', 'Y', 'Z'};
    EXPECT_EQ(bs->copy_bytes(bs, tail, 3), 3u);
    int64_t position = 0;
    bs->info(bs, 0, BS_INFO_POSITION, &position, 8);
    EXPECT_EQ(position, 23);
    EXPECT_EQ(bs->done(bs, 0), 0);
    bs->free(bs);
    const std::vector<uint8_t> file = ReadFile(path);
    EXPECT_EQ(std::string(file.begin(), file.end()), "0123456789abcdefghijXYZ");
}

// Many megabytes in requests and copies of every size reach the file in
// order, over an older and longer file of the name, through a split too.
TEST(FileWriter, LargeWritesKeepTheirOrder) {
    const std::string dir = TempDir();
    const std::string path = dir + "/large.bin";
    const std::vector<uint8_t> older(12u << 20, 0xEE);
    ASSERT_TRUE(WriteFile(path, older));
    bufstream* bs = bs_file_writer_open(path.c_str(), 256 * 1024, nullptr);
    ASSERT_NE(bs, nullptr);
    std::vector<uint8_t> expected;
    uint32_t seed = 1;
    for (int i = 0; expected.size() < (9u << 20); i++) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t n = 1 + (seed >> 8) % (i % 3 == 0 ? 200000u : 3000u);
        std::vector<uint8_t> piece(n);
        for (uint32_t k = 0; k < n; k++) piece[k] = static_cast<uint8_t>(expected.size() + k + i);
        if (i % 2 == 0 && n <= 256 * 1024) {
            uint8_t* p = bs->request(bs, n);
            ASSERT_NE(p, nullptr);
            std::memcpy(p, piece.data(), n);
            ASSERT_EQ(bs->commit(bs, n), n);
        } else {
            ASSERT_EQ(bs->copy_bytes(bs, piece.data(), n), n);
        }
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    ASSERT_EQ(bs->info(bs, 0, BS_INFO_FLUSH, nullptr, 0), 0);
    EXPECT_TRUE(ReadFile(path) == expected);  // everything is in the file once flushed
    ASSERT_EQ(bs->info(bs, 0, BS_INFO_SPLIT, nullptr, 0), 0);
    const uint8_t tail[3] = {1, 2, 3};
    ASSERT_EQ(bs->copy_bytes(bs, const_cast<uint8_t*>(tail), 3), 3u);
    EXPECT_EQ(bs->done(bs, 0), 0);
    bs->free(bs);
    EXPECT_TRUE(ReadFile(path) == expected);
    EXPECT_TRUE(ReadFile(dir + "/large001.bin") == std::vector<uint8_t>(tail, tail + 3));
}

TEST(FileWriter, FileNameQueryNeedsRoomForTheTerminator) {
    const std::string path = TempDir() + "/name.mxf";
    bufstream* bs = bs_file_writer_open(path.c_str(), 16, nullptr);
    std::vector<char> exact(path.size()), roomy(path.size() + 1);
    EXPECT_EQ(bs->info(bs, 0, BS_INFO_FILE_NAME, exact.data(), static_cast<uint32_t>(exact.size())), -1);
    EXPECT_EQ(bs->info(bs, 0, BS_INFO_FILE_NAME, nullptr, 100), -1);
    EXPECT_EQ(bs->info(bs, 0, BS_INFO_FILE_NAME, roomy.data(), static_cast<uint32_t>(roomy.size())), 0);
    EXPECT_EQ(std::string(roomy.data()), path);
    BufstreamClose(&bs, 0);
}

TEST(FileWriter, FinishingOnAFullDeviceFails) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    bufstream* bs = bs_file_writer_open("/dev/full", 4096, nullptr);
    ASSERT_NE(bs, nullptr);
    uint8_t* p = bs->request(bs, 100);
    std::memset(p, 1, 100);
    bs->commit(bs, 100);
    EXPECT_EQ(bs->done(bs, 0), -1);
    bs->free(bs);
    // Writes larger than the blocks sent on ahead fail too, at the latest when flushed.
    bs = bs_file_writer_open("/dev/full", 4096, nullptr);
    ASSERT_NE(bs, nullptr);
    std::vector<uint8_t> big(3u << 20, 1);
    uint32_t taken = 0;
    for (int i = 0; i < 4; i++) taken += bs->copy_bytes(bs, big.data(), static_cast<uint32_t>(big.size()));
    EXPECT_LT(taken, 4 * big.size());
    EXPECT_EQ(bs->info(bs, 0, BS_INFO_FLUSH, nullptr, 0), -1);
    EXPECT_EQ(bs->done(bs, 0), -1);
    bs->free(bs);
}

struct SplitCase {
    const char* name;  // relative to the folder
    int splits;
    std::vector<const char*> expected;  // files that must exist afterwards
};

TEST(FileWriter, SplitsNameNumberedFiles) {
    const SplitCase cases[] = {
        {"clip.mxf", 2, {"clip.mxf", "clip001.mxf", "clip002.mxf"}},
        {"plain", 1, {"plain", "plain001"}},
        // A dot in a folder name is not an extension.
        {"dir.v2/take", 1, {"dir.v2/take", "dir.v2/take001"}},
    };
    for (const SplitCase& c : cases) {
        const std::string dir = TempDir();
        ASSERT_EQ(std::system(("mkdir -p '" + dir + "/dir.v2'").c_str()), 0);
        const std::string path = dir + "/" + c.name;
        bufstream* bs = bs_file_writer_open(path.c_str(), 16, nullptr);
        ASSERT_NE(bs, nullptr) << c.name;
        for (int i = 0; i < c.splits; i++) {
            uint8_t b = static_cast<uint8_t>('a' + i);
            bs->copy_bytes(bs, &b, 1);
            EXPECT_EQ(bs->split(bs), 0) << c.name;
        }
        int32_t count = 0;
        bs->info(bs, 0, BS_INFO_SPLIT_COUNT, &count, 4);
        EXPECT_EQ(count, c.splits);
        BufstreamClose(&bs, 0);
        for (const char* e : c.expected) EXPECT_EQ(access((dir + "/" + e).c_str(), F_OK), 0) << e;
    }
}

TEST(FileWriter, TheThousandthSplitWidensTheNumber) {
    const std::string dir = TempDir();
    const std::string path = dir + "/s.ts";
    bufstream* bs = bs_file_writer_open(path.c_str(), 16, nullptr);
    for (int i = 0; i < 1000; i++) ASSERT_EQ(bs->info(bs, 0, BS_INFO_SPLIT, nullptr, 0), 0);
    char name[256];
    bs->info(bs, 0, BS_INFO_FILE_NAME, name, sizeof name);
    EXPECT_EQ(std::string(name), dir + "/s1000.ts");
    BufstreamClose(&bs, 0);
    EXPECT_EQ(access((dir + "/s999.ts").c_str(), F_OK), 0);
}

TEST(SeekLayer, AppliesPositionedWritesAtDoneUnlessAborted) {
    for (int abortFlag : {0, 1}) {
        const std::string path = TempDir() + "/o.mxf";
        bufstream* main = bs_file_writer_open(path.c_str(), 64, nullptr);
        bufstream* seek = bseek_open_file_buf(main, nullptr);
        ASSERT_NE(seek, nullptr);
        uint8_t body[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
        EXPECT_EQ(seek->copy_bytes(seek, body, 8), 8u);  // passed through
        const uint8_t patch[2] = {'X', 'Y'};
        bs_positioned_write w{2, patch, 2};
        EXPECT_EQ(seek->info(seek, 0, BS_INFO_POSITIONED_WRITE, &w, sizeof w), 0);
        EXPECT_EQ(seek->done(seek, abortFlag), 0);
        seek->free(seek);
        BufstreamClose(&main, 0);
        const std::vector<uint8_t> file = ReadFile(path);
        EXPECT_EQ(std::string(file.begin(), file.end()), abortFlag ? "abcdefgh" : "abXYefgh");
    }
}

TEST(SeekLayer, ARelocationBlockMovesABlockForwardEvenWhenAborted) {
    const std::string path = TempDir() + "/r.mxf";
    std::vector<uint8_t> original(8000);
    for (size_t i = 0; i < original.size(); i++) original[i] = static_cast<uint8_t>(i % 251);
    bufstream* main = bs_file_writer_open(path.c_str(), 64, nullptr);
    bufstream* seek = bseek_open_file_buf(main, nullptr);
    ASSERT_EQ(seek->copy_bytes(seek, original.data(), 8000), 8000u);
    // Target 100, source 6000, 50 bytes; the data from 100 on shifts up to end at 100 + 50 + 5900.
    uint8_t block[64] = {};
    const int64_t fields[][2] = {{8, 100}, {24, 6000}, {32, 50}, {48, 100}, {56, 5900}};
    for (const auto& f : fields) std::memcpy(block + f[0], &f[1], 8);
    EXPECT_EQ(seek->info(seek, 0, BS_INFO_RELOCATION, block, sizeof block), 0);
    const uint8_t patch[1] = {0xEE};
    bs_positioned_write w{0, patch, 1};
    EXPECT_EQ(seek->info(seek, 0, BS_INFO_POSITIONED_WRITE, &w, sizeof w), 0);
    EXPECT_EQ(seek->done(seek, 1), 0);  // aborted: the positioned write is dropped, the block still moves
    seek->free(seek);
    BufstreamClose(&main, 0);
    std::vector<uint8_t> expected(original.begin(), original.begin() + 100);
    expected.insert(expected.end(), original.begin() + 6000, original.begin() + 6050);
    expected.insert(expected.end(), original.begin() + 100, original.begin() + 6000);
    expected.insert(expected.end(), original.begin() + 6050, original.end());
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(SeekLayer, NeedsAMainRecordThatNamesItsFile) {
    static std::vector<std::string> texts;
    texts.clear();
    auto collect = [](const char* t) { texts.push_back(t); };
    EXPECT_EQ(bseek_open_file_buf(nullptr, collect), nullptr);
    bs_pipe* pipe = bs_pipe_open(1024, 65);
    EXPECT_EQ(bseek_open_file_buf(&pipe->writer, collect), nullptr);
    bs_pipe_close(pipe);
    EXPECT_EQ(texts,
              (std::vector<std::string>{"No main stream buffer .", "Unable to get filename from main bufstream."}));
}

TEST(SeekLayer, AFileThatWentAwayFailsWithoutBeingMadeAgain) {
    const std::string path = TempDir() + "/gone.mxf";
    bufstream* main = bs_file_writer_open(path.c_str(), 64, nullptr);
    bufstream* seek = bseek_open_file_buf(main, nullptr);
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(seek->done(seek, 0), -1);
    seek->free(seek);
    BufstreamClose(&main, 0);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

}  // namespace
