#include "codec/scanning/AccessUnit.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace muxcore {

void AccessUnitQueue::Init(int32_t capacity) {
    ring_.reset();
    capacity_ = 0;
    if (capacity > 0) {
        ring_.reset(new (std::nothrow) AccessUnit[static_cast<size_t>(capacity)]);
        if (ring_) capacity_ = capacity;
    }
    write_ = head_ = count_ = 0;
    byteSum_ = 0;
}

int AccessUnitQueue::Push(const AccessUnit& u) {
    if (count_ >= capacity_) return 1;
    ring_[write_] = u;
    byteSum_ += u.size;
    write_ = Next(write_);
    ++count_;
    return 0;
}

int AccessUnitQueue::Peek(AccessUnit& out) const {
    if (count_ == 0) return 1;
    out = ring_[head_];
    return 0;
}

AccessUnit AccessUnitQueue::Peek() const {
    return count_ ? ring_[head_] : ZeroUnit();
}

AccessUnit AccessUnitQueue::PeekNext() const {
    return count_ >= 2 ? ring_[Index(1)] : ZeroUnit();
}

int AccessUnitQueue::PeekLast(AccessUnit& out) const {
    if (count_ == 0) return 1;
    out = ring_[Index(count_ - 1)];
    return 0;
}

int AccessUnitQueue::At(int32_t distance, AccessUnit& out) const {
    if (distance < 0 || distance >= count_) return 1;
    out = ring_[Index(distance)];
    return 0;
}

int AccessUnitQueue::SetAdmitted(int32_t distance, int32_t bytes) {
    if (distance < 0 || distance >= count_) return 1;
    ring_[Index(distance)].admitted = bytes;
    return 0;
}

int AccessUnitQueue::ReplaceHead(const AccessUnit& u) {
    if (count_ == 0) return 1;
    byteSum_ += static_cast<int64_t>(u.size) - ring_[head_].size;
    ring_[head_] = u;
    return 0;
}

int AccessUnitQueue::Pop() {
    if (count_ == 0) return 1;
    byteSum_ -= ring_[head_].size;
    head_ = Next(head_);
    --count_;
    return 0;
}

void AccessUnitQueue::Clear() {
    write_ = head_ = count_ = 0;
    byteSum_ = 0;
}

int64_t AccessUnitQueue::HeadDTS() const {
    if (count_ == 0 || !ring_[head_].dtsPresent) return kNoTime;
    return ring_[head_].dts;
}

int64_t AccessUnitQueue::NextDTS() const {
    for (int32_t i = 0; i < count_; ++i)
        if (ring_[Index(i)].dtsPresent) return ring_[Index(i)].dts;
    return kNoTime;
}

int64_t AccessUnitQueue::LastDTS() const {
    for (int32_t i = count_ - 1; i >= 0; --i)
        if (ring_[Index(i)].dtsPresent) return ring_[Index(i)].dts;
    return kNoTime;
}

void AccessUnitQueue::ShiftTimeStamps(int64_t offset) {
    for (int32_t i = 0; i < count_; ++i) {
        ring_[Index(i)].pts += offset;
        ring_[Index(i)].dts += offset;
    }
}

void AccessUnitQueue::Relocate(ptrdiff_t delta) {
    for (int32_t i = 0; i < count_; ++i) {
        AccessUnit& u = ring_[Index(i)];
        if (u.location) u.location += delta;
    }
}

// ------------------------------------------------------------------ buffer

int32_t CMemManager::Init(size_t capacity) {
    buf_.reset(capacity ? new (std::nothrow) uint8_t[capacity] : nullptr);
    size_ = buf_ ? capacity : 0;
    read_ = held_ = 0;
    touched_ = 0;
    consumed_ = 0;
    step_ = 0;
    return buf_ || capacity == 0 ? 0 : -1;
}

void CMemManager::Reset() {
    read_ = 0;
    held_ = 0;
}

bool CMemManager::Append(const uint8_t* bytes, size_t n) {
    if (n == 0) return true;
    uint8_t* room = Reserve(n);
    if (!room) return false;
    std::memcpy(room, bytes, n);
    held_ += n;
    return true;
}

uint8_t* CMemManager::Reserve(size_t n) {
    if (size_ - held_ < n) return nullptr;
    // Moving the held bytes to the front costs less than touching memory the
    // buffer never used (each new page is mapped on its first touch): once
    // they are no more than the bytes before them, they move.
    const bool fresh = read_ + held_ + n > touched_;
    if (size_ - read_ - held_ < n || (fresh && read_ >= held_)) Compact();
    touched_ = std::max(touched_, read_ + held_ + n);
    return buf_.get() + read_ + held_;
}

void CMemManager::Commit(size_t n) {
    held_ = std::min(held_ + n, size_ - read_);
}

void CMemManager::Release(size_t n) {
    if (n > held_) n = held_;
    read_ += n;
    held_ -= n;
    consumed_ += n;
}

void CMemManager::Compact() {
    if (read_ == 0 || !buf_) return;
    const ptrdiff_t d = static_cast<ptrdiff_t>(read_);
    std::memmove(buf_.get(), buf_.get() + read_, held_);
    read_ = 0;
    if (queueA_) queueA_->Shift(d);
    if (queueB_) queueB_->Shift(d);
    if (listener_) listener_->OnDataShifted(d);
}

int CMemManager::Grow() {
    static const double kFactors[3] = {2.0, 2.0, 2.0};
    if (step_ >= 3) return 1;
    const size_t biggerSize = static_cast<size_t>(static_cast<double>(size_) * kFactors[step_]);
    std::unique_ptr<uint8_t[]> bigger(biggerSize ? new (std::nothrow) uint8_t[biggerSize] : nullptr);
    if (!bigger) return 1;
    ++step_;
    if (held_) std::memcpy(bigger.get() + read_, buf_.get() + read_, held_);
    const uint8_t* oldBase = buf_.get();
    const uint8_t* newBase = bigger.get();
    const ptrdiff_t delta = newBase - oldBase;
    buf_.swap(bigger);
    size_ = biggerSize;
    touched_ = read_ + held_;
    if (queueA_) queueA_->Relocate(delta);
    if (queueB_) queueB_->Relocate(delta);
    if (listener_) listener_->OnDataMoved(oldBase, newBase);
    return 0;
}

bool CMemManager::NearlyFull() const {
    // At least 90 percent used; 64-bit so large buffers do not overflow.
    return static_cast<uint64_t>(held_) * 10 >= static_cast<uint64_t>(size_) * 9;
}

}  // namespace muxcore
