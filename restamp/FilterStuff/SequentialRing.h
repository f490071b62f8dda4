// The bookkeeping of the time marker's input ring: one block cut into equal
// slices handed out strictly in address order, so consecutive chunks lie next
// to each other, and the unparsed span that the parser reads in place.
// Platform-free; the DirectShow allocator owns the memory and the samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace chronel {

class SequentialRing {
public:
    // base: count * sliceSize bytes that outlive the ring's use of them.
    void Reset(uint8_t* base, uint32_t count, uint32_t sliceSize);

    uint32_t SliceCount() const { return count_; }
    uint32_t SliceSize() const { return sliceSize_; }
    uint8_t* Base() const { return base_; }
    uint32_t IndexOf(const uint8_t* p) const { return static_cast<uint32_t>((p - base_) / sliceSize_); }
    uint8_t* SliceAt(uint32_t index) const { return base_ + static_cast<size_t>(index) * sliceSize_; }

    // The slice at the next-buffer address, or -1 while it is still in use
    // (the caller waits for a release and tries again). Marks it in use.
    int TryAcquireNext();
    // Drops one use of a slice; true when it became free.
    bool Release(uint32_t index);
    bool InUse(uint32_t index) const { return refs_[index] != 0; }
    // Another holder of a slice (a sample pointing into it).
    void AddUse(uint32_t index) {
        if (index < count_) ++refs_[index];
    }

    // A filled slice joins the unparsed span (a chunk of length bytes that
    // starts where the span ends; an empty span restarts at the slice). Takes
    // a use of the slice. False when the chunk would leave a gap in the span.
    bool AddBuffer(uint32_t index, uint32_t length);
    // First unparsed byte and the count of unparsed bytes.
    uint8_t* GetValid(uint32_t* valid) const {
        *valid = valid_;
        return base_ + readOffset_;
    }
    // Consumes n parsed bytes, releasing slices wholly behind the span; wraps
    // when the span ends at the block's end. False only when n exceeds the span.
    bool Advance(uint32_t n);
    // Drops the whole unparsed span.
    void DropSpan() { Advance(valid_); }
    // Unparsed bytes a wrap had to drop since the last call (the oldest of a
    // tail too long for the free slices at the block's start); clears the count.
    uint32_t TakeDropped() {
        uint32_t n = dropped_;
        dropped_ = 0;
        return n;
    }

private:
    void Wrap();
    // Free slices at the block's start that the moved tail may take.
    uint32_t RoomAtStart() const;

    uint8_t* base_ = nullptr;
    uint32_t count_ = 0;
    uint32_t sliceSize_ = 0;
    uint32_t next_ = 0;        // slice served by the next acquire
    uint32_t readOffset_ = 0;  // first unparsed byte, from the block's start
    uint32_t valid_ = 0;
    uint32_t dropped_ = 0;
    std::vector<uint32_t> refs_;
};

}  // namespace chronel
