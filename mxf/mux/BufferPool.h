// Byte buffers of units and pieces that were written, kept for the next
// ones: every frame needs buffers of about the same sizes, and taking them
// from the system and giving them back each time costs more than the copies
// that fill them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mexora {

class BufferPool {
public:
    static constexpr size_t kKept = 128;

    BufferPool() { kept_.reserve(kKept); }

    // An empty buffer with room for at least `size` bytes: the smallest kept
    // one that fits and is not much larger (large ones stay for large
    // requests), else a new one (std::bad_alloc when there is no memory).
    std::vector<uint8_t> Take(size_t size) {
        size_t best = kept_.size();
        for (size_t i = 0; i < kept_.size(); i++) {
            const size_t c = kept_[i].capacity();
            if (c >= size && c / kLargerShare <= size && (best == kept_.size() || c < kept_[best].capacity())) best = i;
        }
        std::vector<uint8_t> b;
        if (best < kept_.size()) {
            b.swap(kept_[best]);
            kept_[best].swap(kept_.back());
            kept_.pop_back();
        } else {
            b.reserve(size + size / kHeadroomShare);  // sizes vary a little from frame to frame
        }
        return b;
    }

    // Keeps a buffer for later; the smallest goes when the pool is full.
    void Give(std::vector<uint8_t>&& b) {
        if (b.capacity() == 0) return;
        b.clear();
        if (kept_.size() < kKept) {
            kept_.push_back(std::move(b));
            return;
        }
        size_t smallest = 0;
        for (size_t i = 1; i < kept_.size(); i++) {
            if (kept_[i].capacity() < kept_[smallest].capacity()) smallest = i;
        }
        if (b.capacity() > kept_[smallest].capacity()) kept_[smallest].swap(b);
    }

private:
    static constexpr size_t kHeadroomShare = 8;
    static constexpr size_t kLargerShare = 4;
    std::vector<std::vector<uint8_t>> kept_;
};

}  // namespace mexora
