// Reads an open file ahead from a thread of its own: blocks are read while
// the caller works on the bytes before them, so that the system's copy out
// of the file overlaps that work. Reading is sequential from the position
// the file has when attached.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mexora {

class BackgroundReader {
public:
    static constexpr size_t kBlockBytes = 256u << 10;
    static constexpr size_t kBlocks = 4;  // one being read by the caller, the others ahead

    BackgroundReader() = default;
    ~BackgroundReader();
    BackgroundReader(const BackgroundReader&) = delete;
    BackgroundReader& operator=(const BackgroundReader&) = delete;

    // Reads f from now on (the caller keeps it, and leaves it alone until
    // Detach); false when the thread or the blocks cannot be had.
    bool Attach(FILE* f);
    // Copies up to n bytes; fewer only at the end of the file or after an error.
    size_t Read(uint8_t* dst, size_t n);
    // Stops the thread; the file is the caller's again.
    void Detach();
    bool Attached() const { return file_ != nullptr; }

private:
    struct Block {
        std::unique_ptr<uint8_t[]> data;
        size_t size = 0;
    };
    void Run();

    FILE* file_ = nullptr;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Block> full_;  // in file order
    std::vector<Block> free_;
    Block current_;
    size_t offset_ = 0;  // read offset in current_
    bool end_ = false;   // the thread has read its last block
    bool stop_ = false;
};

}  // namespace mexora
