// One scanned access unit (or a PES-sized piece of one), the ring of such
// records, and the growable byte buffer that the records point into. A record
// never owns bytes; when the buffer compacts or moves, it rewrites the
// locations of every record of its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace muxcore {

constexpr int64_t kNoTime = -1;

enum UnitKind : int32_t {
    kUnitI = 0,
    kUnitIWithSequence = 1,
    kUnitP = 2,
    kUnitB = 3,
    kUnitNoPicture = 4,
    kUnitAudio = 6,
};

#pragma pack(push, 8)
struct AccessUnit {
    uint8_t* location;  // first unwritten byte in the input's buffer
    int32_t kind;
    int32_t size;      // bytes still to be written
    int32_t admitted;  // bytes already admitted into the elementary-buffer model
    uint8_t ptsPresent;
    uint8_t dtsPresent;
    int64_t pts;  // 100 ns
    int64_t dts;  // 100 ns
    uint8_t pesHeaderSize;
    uint8_t unitStart;
    uint8_t continuation;
};
#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(AccessUnit) == 48, "AccessUnit is a 48-byte record");
static_assert(offsetof(AccessUnit, pts) == 24, "PTS at 24");
static_assert(offsetof(AccessUnit, pesHeaderSize) == 40, "PES header size at 40");
#endif

inline AccessUnit ZeroUnit() {
    AccessUnit u{};
    return u;
}

// Stamps convert to 27 MHz ticks as value / 10 x 27, division first.
inline int64_t TimeToTicks(int64_t t) {
    return t / 10 * 27;
}

class AccessUnitQueue {
public:
    AccessUnitQueue() = default;
    AccessUnitQueue(const AccessUnitQueue&) = delete;
    AccessUnitQueue& operator=(const AccessUnitQueue&) = delete;

    void Init(int32_t capacity);
    int Push(const AccessUnit& u);    // 1 when full
    int Peek(AccessUnit& out) const;  // 1 when empty
    AccessUnit Peek() const;          // zeroed when empty
    // The oldest and the newest record in place; only when not empty.
    const AccessUnit& Head() const { return ring_[head_]; }
    AccessUnit& Newest() { return ring_[Index(count_ - 1)]; }
    AccessUnit PeekNext() const;  // zeroed unless two are queued
    int PeekLast(AccessUnit& out) const;
    int At(int32_t distance, AccessUnit& out) const;  // 1 past the newest
    int SetAdmitted(int32_t distance, int32_t bytes);
    int ReplaceHead(const AccessUnit& u);
    // The head's first n bytes are written (n below its size): the rest is
    // a continuation without time stamps of its own. Only when not empty.
    void ConsumeHead(int32_t n) {
        AccessUnit& h = ring_[head_];
        h.location += n;
        h.size -= n;
        h.continuation = 1;
        h.ptsPresent = h.dtsPresent = 0;
        byteSum_ -= n;
    }
    int Pop();
    void Clear();

    bool IsEmpty() const { return count_ == 0; }
    int32_t GetCount() const { return count_; }
    int32_t GetCapacity() const { return capacity_; }
    int32_t GetFreeCount() const { return capacity_ - count_; }
    int64_t ByteSum() const { return byteSum_; }

    int64_t HeadDTS() const;
    int64_t NextDTS() const;  // kNoTime when none carries one
    int64_t LastDTS() const;

    void ShiftTimeStamps(int64_t offset);
    void Relocate(ptrdiff_t delta);
    void Shift(ptrdiff_t delta) { Relocate(-delta); }

    std::mutex& Lock() { return lock_; }

private:
    // distance is below capacity_: one wrap at most, without a division.
    int32_t Index(int32_t distance) const {
        const int32_t i = head_ + distance;
        return i >= capacity_ ? i - capacity_ : i;
    }
    int32_t Next(int32_t i) const { return i + 1 == capacity_ ? 0 : i + 1; }

    // Left uninitialised: a record is read only after it was pushed, and
    // untouched records cost no memory.
    std::unique_ptr<AccessUnit[]> ring_;
    int32_t capacity_ = 0;
    int32_t write_ = 0;
    int32_t head_ = 0;
    int32_t count_ = 0;
    int64_t byteSum_ = 0;
    mutable std::mutex lock_;
};

// Told when the buffer's bytes move, so that stored positions follow.
class BufferMoveListener {
public:
    virtual ~BufferMoveListener() = default;
    virtual void OnDataShifted(ptrdiff_t distance) = 0;
    virtual void OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) = 0;
};

class CMemManager {
public:
    CMemManager() = default;
    CMemManager(const CMemManager&) = delete;
    CMemManager& operator=(const CMemManager&) = delete;

    // Queues whose records point into this buffer, and who else keeps positions.
    void Bind(AccessUnitQueue* a, AccessUnitQueue* b, BufferMoveListener* l) {
        queueA_ = a;
        queueB_ = b;
        listener_ = l;
    }
    void SetListener(BufferMoveListener* l) { listener_ = l; }

    int32_t Init(size_t capacity);  // 0, or E_FAIL-like negative when allocation fails
    void Reset();
    bool Append(const uint8_t* bytes, size_t n);
    // Room for n bytes behind the held ones (compacting first), or null;
    // Commit(n) then counts them as held.
    uint8_t* Reserve(size_t n);
    void Commit(size_t n);
    void Release(size_t n);
    void Compact();
    int Grow();  // 1 when no growth step is left
    bool NearlyFull() const;

    uint8_t* ReadPosition() { return buf_ ? buf_.get() + read_ : nullptr; }
    uint8_t* End() { return buf_ ? buf_.get() + read_ + held_ : nullptr; }
    uint8_t* Base() { return buf_.get(); }
    size_t Held() const { return held_; }
    size_t Capacity() const { return size_; }
    uint64_t Consumed() const { return consumed_; }
    int GrowthSteps() const { return step_; }

private:
    // Left uninitialised: only bytes written in are read, and pages the
    // stream never reaches are never touched.
    std::unique_ptr<uint8_t[]> buf_;
    size_t size_ = 0;
    size_t read_ = 0;
    size_t held_ = 0;
    size_t touched_ = 0;  // the bytes from the start ever reserved
    uint64_t consumed_ = 0;
    int step_ = 0;
    AccessUnitQueue* queueA_ = nullptr;
    AccessUnitQueue* queueB_ = nullptr;
    BufferMoveListener* listener_ = nullptr;
};

}  // namespace muxcore
