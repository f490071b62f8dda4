#include "restamp/FilterStuff/SequentialRing.h"

#include <cstring>

namespace chronel {

void SequentialRing::Reset(uint8_t* base, uint32_t count, uint32_t sliceSize) {
    base_ = base;
    count_ = count;
    sliceSize_ = sliceSize;
    next_ = 0;
    readOffset_ = 0;
    valid_ = 0;
    refs_.assign(count, 0);
}

int SequentialRing::TryAcquireNext() {
    if (count_ == 0 || refs_[next_] != 0) return -1;
    uint32_t index = next_;
    ++refs_[index];
    next_ = (next_ + 1) % count_;
    return static_cast<int>(index);
}

bool SequentialRing::Release(uint32_t index) {
    if (index >= count_ || refs_[index] == 0) return false;
    return --refs_[index] == 0;
}

bool SequentialRing::AddBuffer(uint32_t index, uint32_t length) {
    if (index >= count_ || length > sliceSize_) return false;
    if (length == 0) return true;
    if (valid_ == 0) {
        readOffset_ = index * sliceSize_;
    } else if (readOffset_ + valid_ != index * sliceSize_) {
        return false;
    }
    ++refs_[index];
    valid_ += length;
    return true;
}

bool SequentialRing::Advance(uint32_t n) {
    if (n > valid_ || count_ == 0) return false;
    const uint32_t blockSize = count_ * sliceSize_;
    uint32_t first = readOffset_ / sliceSize_;
    valid_ -= n;
    readOffset_ += n;
    uint32_t last = readOffset_ / sliceSize_;  // first slice still (partly) unparsed
    // An empty span in the middle of a slice: that slice is done too.
    if (valid_ == 0 && readOffset_ % sliceSize_ != 0) {
        ++last;
        readOffset_ = last * sliceSize_;
    }
    for (uint32_t i = first; i < last && i < count_; ++i) Release(i);
    if (readOffset_ + valid_ == blockSize || readOffset_ >= blockSize) return Wrap();
    return true;
}

// Moves the unparsed tail to the block's start so new chunks follow it.
bool SequentialRing::Wrap() {
    if (valid_ == 0) {
        readOffset_ = 0;
        next_ = 0;
        return true;
    }
    uint32_t k = (valid_ + sliceSize_ - 1) / sliceSize_;
    if (k >= count_) return false;  // the tail fills the ring: nowhere to move it
    // The next-buffer address has wrapped: the first k slices are the next ones.
    if (next_ != 0) return false;
    for (uint32_t i = 0; i < k; ++i) {
        if (refs_[i] != 0) {
            for (uint32_t j = 0; j < i; ++j) --refs_[j];
            next_ = 0;
            return false;
        }
        ++refs_[i];
    }
    next_ = k % count_;
    uint32_t oldOffset = readOffset_;
    uint32_t newOffset = k * sliceSize_ - valid_;
    std::memmove(base_ + newOffset, base_ + oldOffset, valid_);
    uint32_t firstOld = oldOffset / sliceSize_;
    uint32_t lastOld = (oldOffset + valid_ - 1) / sliceSize_;
    readOffset_ = newOffset;
    for (uint32_t i = firstOld; i <= lastOld && i < count_; ++i) Release(i);
    return true;
}

}  // namespace chronel
