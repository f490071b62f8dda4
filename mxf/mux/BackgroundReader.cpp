#include "mxf/mux/BackgroundReader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace mexora {

BackgroundReader::~BackgroundReader() {
    Detach();
}

bool BackgroundReader::Attach(FILE* f) {
    if (!f || file_) return false;
    try {
        free_.clear();
        for (size_t i = 0; i < kBlocks; i++) free_.push_back({std::unique_ptr<uint8_t[]>(new uint8_t[kBlockBytes]), 0});
    } catch (const std::bad_alloc&) {
        free_.clear();
        return false;
    }
    full_.clear();
    current_ = Block();
    offset_ = 0;
    end_ = stop_ = false;
    file_ = f;
    try {
        thread_ = std::thread(&BackgroundReader::Run, this);
    } catch (const std::system_error&) {
        file_ = nullptr;
        return false;
    }
    return true;
}

void BackgroundReader::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    while (!end_) {
        changed_.wait(hold, [this] { return stop_ || !free_.empty(); });
        if (stop_) return;
        Block block = std::move(free_.back());
        free_.pop_back();
        hold.unlock();
        block.size = std::fread(block.data.get(), 1, kBlockBytes, file_);
        hold.lock();
        // A short block is the last: the end of the file, or an error.
        if (block.size < kBlockBytes) end_ = true;
        full_.push_back(std::move(block));
        changed_.notify_all();
    }
}

size_t BackgroundReader::Read(uint8_t* dst, size_t n) {
    if (!file_) return 0;
    size_t got = 0;
    while (got < n) {
        if (offset_ == current_.size) {
            std::unique_lock<std::mutex> hold(lock_);
            if (current_.data) free_.push_back(std::move(current_));
            current_ = Block();
            offset_ = 0;
            changed_.notify_all();
            changed_.wait(hold, [this] { return !full_.empty() || end_; });
            if (full_.empty()) break;  // the end: every block was taken
            current_ = std::move(full_.front());
            full_.pop_front();
            continue;
        }
        const size_t take = std::min(n - got, current_.size - offset_);
        std::memcpy(dst + got, current_.data.get() + offset_, take);
        offset_ += take;
        got += take;
    }
    return got;
}

void BackgroundReader::Detach() {
    if (!file_) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }
    thread_.join();
    file_ = nullptr;
}

}  // namespace mexora
