#include "mxf/mux/BackgroundWriter.h"

#include <new>
#include <system_error>
#include <utility>

namespace mexora {

BackgroundWriter::~BackgroundWriter() {
    (void)Detach();
}

bool BackgroundWriter::Attach(FILE* f) {
    if (!f || file_) return false;
    stop_ = false;
    failed_ = false;
    file_ = f;
    try {
        thread_ = std::thread(&BackgroundWriter::Run, this);
    } catch (const std::system_error&) {
        file_ = nullptr;
        return false;
    }
    return true;
}

// Blocks are made when first needed, so that a short file costs little.
bool BackgroundWriter::NewBlock(std::vector<uint8_t>* block) {
    try {
        block->reserve(kBlockBytes);
    } catch (const std::bad_alloc&) {
        return false;
    }
    blocks_++;
    return true;
}

void BackgroundWriter::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stop_ || !full_.empty(); });
        if (full_.empty()) return;  // stopped with nothing left
        std::vector<uint8_t> block = std::move(full_.front());
        full_.pop_front();
        busy_ = true;
        hold.unlock();
        // After a failure the rest is dropped: the file is bad already.
        const bool ok = failed_ || std::fwrite(block.data(), 1, block.size(), file_) == block.size();
        hold.lock();
        if (!ok) failed_ = true;
        block.clear();
        free_.push_back(std::move(block));
        busy_ = false;
        changed_.notify_all();
    }
}

bool BackgroundWriter::Submit() {
    std::unique_lock<std::mutex> hold(lock_);
    try {
        full_.push_back(std::move(filling_));
    } catch (const std::bad_alloc&) {
        failed_ = true;
        return false;
    }
    filling_ = std::vector<uint8_t>();
    changed_.notify_all();
    if (free_.empty() && blocks_ < kBlocks) {
        if (!NewBlock(&filling_)) failed_ = true;
        return !failed_;
    }
    changed_.wait(hold, [this] { return !free_.empty(); });
    filling_ = std::move(free_.back());
    free_.pop_back();
    return !failed_;
}

bool BackgroundWriter::Write(const uint8_t* p, size_t n) {
    if (!file_ || failed_) return false;
    if (filling_.capacity() < kBlockBytes && !NewBlock(&filling_)) {
        failed_ = true;
        return false;
    }
    while (n > 0) {
        const size_t room = kBlockBytes - filling_.size();
        const size_t take = n < room ? n : room;
        filling_.insert(filling_.end(), p, p + take);
        p += take;
        n -= take;
        if (filling_.size() == kBlockBytes && !Submit()) return false;
    }
    return !failed_;
}

bool BackgroundWriter::Flush() {
    if (!file_) return false;
    if (!filling_.empty()) (void)Submit();
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return full_.empty() && !busy_; });
    return !failed_;
}

bool BackgroundWriter::Detach() {
    if (!file_) return true;
    const bool ok = Flush();
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }
    thread_.join();
    file_ = nullptr;
    return ok;
}

}  // namespace mexora
