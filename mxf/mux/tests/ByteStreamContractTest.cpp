// One contract over every bufstream implementation the MXF libraries carry
// or take in: request never consumes, commit stays within what was handed
// out, unknown ids answer 0, free runs done, BufstreamClose clears the pointer.
#include "codec/videoencoder/VideoEncStreams.h"
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/WavInput.h"
#include "mxf/mux/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using mexora_test::TempDir;

constexpr uint32_t kUnknownId = 0x12345678;

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(i * 7 + 1);
    return v;
}

// Each subject makes a record and cleans up what is not the record's.
struct FileReaderSubject {
    static constexpr bool kReading = true;
    static constexpr bool kHeapOwned = true;
    std::string path = TempDir() + "/in.bin";
    bufstream* Make() {
        mexora_test::WriteFile(path, Counting(1000));
        return bs_file_reader_open(path.c_str(), 256, nullptr);
    }
};

struct FileWriterSubject {
    static constexpr bool kReading = false;
    static constexpr bool kHeapOwned = true;
    std::string path = TempDir() + "/out.bin";
    bufstream* Make() { return bs_file_writer_open(path.c_str(), 256, nullptr); }
};

struct SeekLayerSubject {
    static constexpr bool kReading = false;
    static constexpr bool kHeapOwned = true;
    std::string path = TempDir() + "/out.bin";
    bufstream* main = nullptr;
    bufstream* Make() {
        main = bs_file_writer_open(path.c_str(), 256, nullptr);
        return main ? bseek_open_file_buf(main, nullptr) : nullptr;
    }
    ~SeekLayerSubject() { BufstreamClose(&main, 0); }
};

struct PipeWriterSubject {
    static constexpr bool kReading = false;
    static constexpr bool kHeapOwned = false;
    bs_pipe* pipe = nullptr;
    bufstream* Make() {
        pipe = bs_pipe_open(1024, 65);
        return pipe ? &pipe->writer : nullptr;
    }
    ~PipeWriterSubject() { bs_pipe_close(pipe); }
};

struct PipeReaderSubject {
    static constexpr bool kReading = true;
    static constexpr bool kHeapOwned = false;
    bs_pipe* pipe = nullptr;
    bufstream* Make() {
        pipe = bs_pipe_open(1024, 65);
        if (!pipe) return nullptr;
        std::vector<uint8_t> data = Counting(600);
        pipe->writer.copy_bytes(&pipe->writer, data.data(), 600);
        return &pipe->reader;
    }
    ~PipeReaderSubject() { bs_pipe_close(pipe); }
};

struct WavSubject {
    static constexpr bool kReading = true;
    static constexpr bool kHeapOwned = true;
    std::string path = TempDir() + "/in.wav";
    bufstream* Make() {
        mexora_test::WriteFile(path, mexora_test::CanonicalWav(Counting(6 * 2000), 2, 24, 48000));
        const uint8_t options[2] = {WAV_FORM_PLANAR, 5};
        return bs_wav_open(path.c_str(), 4096, options);
    }
};

class NullSink : public vidcore::OutputSink {
public:
    bool GetBuffer(uint8_t** data, uint32_t* size) override {
        *data = buffer;
        *size = sizeof buffer;
        return true;
    }
    void Deliver(uint8_t*, uint32_t used, const int32_t*) override { delivered += used; }
    void Notify(uint32_t, const void*, uint32_t) override {}
    uint8_t buffer[512];
    uint32_t delivered = 0;
};

struct VidcoreOutputSubject {
    static constexpr bool kReading = false;
    static constexpr bool kHeapOwned = true;
    NullSink sink;
    bufstream* Make() { return vidcore::CreateBitstreamOutput(&sink, sizeof sink.buffer, nullptr); }
};

template <typename T>
class BufstreamContract : public ::testing::Test {
protected:
    void SetUp() override {
        bs = subject.Make();
        ASSERT_NE(bs, nullptr);
    }
    void TearDown() override {
        if (bs) BufstreamClose(&bs, 0);
    }
    T subject;
    bufstream* bs = nullptr;
};

using Subjects = ::testing::Types<FileReaderSubject, FileWriterSubject, SeekLayerSubject, PipeWriterSubject,
                                  PipeReaderSubject, WavSubject, VidcoreOutputSubject>;
TYPED_TEST_SUITE(BufstreamContract, Subjects);

TYPED_TEST(BufstreamContract, RequestNeverConsumesAndCommitStaysWithinTheGrant) {
    bufstream* bs = this->bs;
    uint8_t* first = bs->request(bs, 16);
    ASSERT_NE(first, nullptr);
    std::vector<uint8_t> seen(first, first + 16);
    const uint32_t available = bs->bytes_available(bs);
    uint8_t* again = bs->request(bs, 16);
    ASSERT_EQ(again, first);
    EXPECT_EQ(bs->bytes_available(bs), available);
    if (TypeParam::kReading) {
        EXPECT_EQ(std::vector<uint8_t>(again, again + 16), seen);
        const uint32_t taken = bs->commit(bs, 1u << 30);
        EXPECT_LE(taken, available);
        EXPECT_EQ(bs->bytes_available(bs), available - taken);
    } else {
        const uint32_t taken = bs->commit(bs, 1u << 30);
        EXPECT_LE(taken, available);
    }
}

TYPED_TEST(BufstreamContract, UnknownInfoAnswersZero) {
    uint8_t data[8] = {};
    EXPECT_EQ(this->bs->info(this->bs, 0, kUnknownId, data, sizeof data), 0);
    EXPECT_EQ(this->bs->info(this->bs, 0, kUnknownId, nullptr, 0), 0);
}

int g_doneCalls = 0;
int32_t (*g_realDone)(bufstream*, int32_t) = nullptr;
int32_t BUFSTREAM_CALL CountingDone(bufstream* bs, int32_t abort_flag) {
    g_doneCalls++;
    return g_realDone(bs, abort_flag);
}

TYPED_TEST(BufstreamContract, FreeRunsDone) {
    if (!TypeParam::kHeapOwned) {
        EXPECT_EQ(this->bs->free, nullptr);  // released with the pipe
        return;
    }
    if constexpr (std::is_same_v<TypeParam, VidcoreOutputSubject>) {
        // Its free finishes the held buffer: the committed bytes are delivered.
        ASSERT_NE(this->bs->request(this->bs, 10), nullptr);
        this->bs->commit(this->bs, 10);
        this->bs->free(this->bs);
        this->bs = nullptr;
        EXPECT_EQ(this->subject.sink.delivered, 10u);
    } else {
        g_doneCalls = 0;
        g_realDone = this->bs->done;
        this->bs->done = CountingDone;
        this->bs->free(this->bs);
        this->bs = nullptr;
        EXPECT_EQ(g_doneCalls, 1);
    }
}

TYPED_TEST(BufstreamContract, CloseClearsThePointer) {
    BufstreamClose(&this->bs, 0);
    EXPECT_EQ(this->bs, nullptr);
}

}  // namespace
