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
    dropped_ = 0;
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
    if (readOffset_ + valid_ == blockSize || readOffset_ >= blockSize) Wrap();
    return true;
}

uint32_t SequentialRing::RoomAtStart() const {
    // New chunks follow the moved tail only when the next buffer is slice 0.
    if (next_ != 0) return 0;
    const uint32_t firstOfSpan = readOffset_ / sliceSize_;
    uint32_t room = 0;
    while (room < firstOfSpan && refs_[room] == 0) ++room;
    return room;
}

// Moves the unparsed tail to the block's start so new chunks follow it. A
// tail longer than the free slices there keeps only its newest bytes: the
// parser loses the rest, but the input keeps flowing.
void SequentialRing::Wrap() {
    if (valid_ == 0) {
        readOffset_ = 0;
        next_ = 0;
        return;
    }
    const uint32_t room = RoomAtStart();
    const uint32_t keep = valid_ < room * sliceSize_ ? valid_ : room * sliceSize_;
    if (keep < valid_) {
        const uint32_t drop = valid_ - keep;
        const uint32_t first = readOffset_ / sliceSize_;
        readOffset_ += drop;
        valid_ = keep;
        dropped_ += drop;
        uint32_t last = readOffset_ / sliceSize_;
        if (valid_ == 0) last = count_;  // the whole span went
        for (uint32_t i = first; i < last && i < count_; ++i) Release(i);
        if (valid_ == 0) {
            // Nothing to move: the span restarts where the next chunk lands.
            readOffset_ = (next_ % count_) * sliceSize_;
            return;
        }
    }
    const uint32_t k = (valid_ + sliceSize_ - 1) / sliceSize_;
    for (uint32_t i = 0; i < k; ++i) ++refs_[i];
    next_ = k % count_;
    const uint32_t oldOffset = readOffset_;
    const uint32_t newOffset = k * sliceSize_ - valid_;
    std::memmove(base_ + newOffset, base_ + oldOffset, valid_);
    const uint32_t firstOld = oldOffset / sliceSize_;
    const uint32_t lastOld = (oldOffset + valid_ - 1) / sliceSize_;
    readOffset_ = newOffset;
    for (uint32_t i = firstOld; i <= lastOld && i < count_; ++i) Release(i);
}

}  // namespace chronel
