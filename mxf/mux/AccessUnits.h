// Essence handlers of the MXF writer: they keep a stream's bytes with the
// times they came with and cut them into access units (AES3 sound per video
// frame, DV frames, MPEG-2 pictures with their index values).
#pragma once

#include "mxf/mux/BufferPool.h"
#include "mxf/mux/EsHeaders.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace mexora::mxf {

constexpr int64_t kUnsetTime = INT64_MAX;
constexpr int64_t kSecond = 10000000;  // 100 ns units
constexpr int32_t kNoMemory = -29;

struct AccessUnit {
    std::vector<uint8_t> data;
    int64_t start = kUnsetTime, end = kUnsetTime, duration = 0;
    bool gopStart = false, key = false;
    uint8_t pictureType = 0;
    uint16_t temporalReference = 0;
    int8_t temporalOffset = 0, keyFrameOffset = 0;
    uint8_t flags = 0;
    int64_t number = 0;
};

// The bytes of a stream not yet cut, with one time entry per add-data call.
class InputStore {
public:
    struct Entry {
        size_t position;  // of the call's first byte, relative to the read position
        int64_t start, end;
    };
    // 0, or -29 when the buffer cannot grow.
    int32_t Record(const uint8_t* data, size_t length, int64_t start, int64_t end);
    void Consume(size_t n);
    // Moves the first n unread bytes into *out and consumes them. With a
    // pool, when nothing was consumed before and fewer bytes follow than
    // are taken, the store's own buffer becomes *out and only the bytes
    // after n are copied, into a buffer from the pool.
    void TakeFront(size_t n, std::vector<uint8_t>* out);
    void SetPool(BufferPool* pool) { pool_ = pool; }
    // Removes [position, position + length) of the unread bytes.
    bool Cut(size_t position, size_t length);
    // The latest start and end times of the entries in [from, to).
    void Times(size_t from, size_t to, int64_t* start, int64_t* end) const;
    const uint8_t* Data() const { return bytes_.data() + head_; }
    size_t Size() const { return bytes_.size() - head_; }
    const std::vector<Entry>& Entries() const { return entries_; }
    void Clear();

private:
    // Drops the entries of the first n unread bytes (now consumed).
    void ShiftEntries(size_t n);
    std::vector<uint8_t> bytes_;
    size_t head_ = 0;     // consumed bytes at the front, dropped when new bytes come
    size_t largest_ = 0;  // the most unread bytes held so far
    std::vector<Entry> entries_;
    BufferPool* pool_ = nullptr;
};

class EssenceHandler {
public:
    virtual ~EssenceHandler() = default;
    int32_t AddData(const uint8_t* data, uint32_t length, int64_t start = kUnsetTime, int64_t end = kUnsetTime);
    int32_t Flush();
    virtual void Reset();
    std::deque<AccessUnit>& Units() { return units_; }
    // Unit buffers come from the pool, when there is one.
    void SetPool(BufferPool* pool) {
        pool_ = pool;
        store_.SetPool(pool);
    }

protected:
    // Cuts complete units from the front of the store; with flush the rest too.
    virtual int32_t CutUnits(bool flush) = 0;
    // CutUnits, or -29 when memory ran out.
    int32_t Cut(bool flush);
    void Emit(size_t length, int64_t duration, AccessUnit unit = AccessUnit());
    // The unit's bytes: the first `length` bytes of the store.
    void TakeBytes(size_t length, AccessUnit* unit);
    InputStore store_;
    std::deque<AccessUnit> units_;
    int64_t count_ = 0;
    BufferPool* pool_ = nullptr;
};

// One unit per video frame: the frame-rate code comes from the "AES3"
// header (byte 5, bits 5-7), the sample width from bits 3-4.
class Aes3Handler : public EssenceHandler {
public:
    void Reset() override;
    int FrameRateCode() const { return rateCode_; }

protected:
    int32_t CutUnits(bool flush) override;

private:
    bool header_ = false;
    int rateCode_ = 0;
    uint32_t bytesPerSample = 2, channels_ = 1;
    int frame_ = 0;
};

class DvHandler : public EssenceHandler {
public:
    DvHandler(uint32_t frameSize, es::Rate rate) : frameSize_(frameSize), rate_(rate) {}

protected:
    int32_t CutUnits(bool flush) override;

private:
    uint32_t frameSize_;
    es::Rate rate_;
};

// Cuts at the first sequence, GOP or picture start code after a complete
// picture (a second field joins the first); releases a GOP's units with
// their index values once the next GOP starts or at flush.
class Mpeg2Handler : public EssenceHandler {
public:
    void Reset() override;
    const es::Mpeg2Sequence& Sequence() const { return sequence_; }
    const es::Mpeg2SequenceExtension& Extension() const { return extension_; }

protected:
    int32_t CutUnits(bool flush) override;

private:
    void CloseUnit(size_t length);
    void ReleaseGop();
    es::Mpeg2Sequence sequence_;
    es::Mpeg2SequenceExtension extension_;
    es::Mpeg2Picture picture_;
    es::Mpeg2PictureCodingExtension coding_;
    size_t scan_ = 0;  // where the start-code search goes on
    int fields_ = 0;   // fields of pictures in the open unit
    bool unitHasPicture_ = false;
    bool unitGop_ = false;
    std::vector<AccessUnit> waiting_;  // the current GOP, in arrival order
    int previousGopCount_ = 0;
    bool firstGop_ = true;
    bool seenP_ = false;
    int64_t runningTime_ = 0;
};

}  // namespace mexora::mxf
