// Appends to an open file from a thread of its own: the caller's bytes are
// gathered in large blocks, and a full block is written while the caller goes
// on filling the next, so the system's copy into the file overlaps the work
// that makes the bytes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace mexora {

class BackgroundWriter {
public:
    static constexpr size_t kBlockBytes = 256u << 10;
    static constexpr size_t kBlocks = 8;  // one being filled, the others queued or being written

    BackgroundWriter() = default;
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // Writes to f from now on (the caller keeps it, and leaves it alone until
    // Flush or Detach); false when the thread cannot be had.
    bool Attach(FILE* f);
    // Copies n bytes into the block being filled; false once any write failed.
    bool Write(const uint8_t* p, size_t n);
    // Hands over what is buffered and waits until the file took it all;
    // false when any write failed since Attach.
    bool Flush();
    // Flush, then stops the thread; the file is the caller's again.
    bool Detach();
    bool Attached() const { return file_ != nullptr; }

private:
    void Run();
    bool Submit();  // queues the block being filled and takes a free one
    bool NewBlock(std::vector<uint8_t>* block);

    FILE* file_ = nullptr;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> full_;  // in file order
    std::vector<std::vector<uint8_t>> free_;
    std::vector<uint8_t> filling_;
    size_t blocks_ = 0;  // made so far, up to kBlocks
    bool busy_ = false;  // the thread holds a block
    bool stop_ = false;
    std::atomic<bool> failed_{false};
};

}  // namespace mexora
