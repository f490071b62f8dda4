// Decoder buffer models consulted before a packet of an input is written: the
// elementary buffer (units enter as their bytes are written and leave whole
// at their decoding time) and the transport buffer (bytes enter per packet
// and leak at a constant rate per packet slot).
#pragma once

#include "codec/scanning/AccessUnit.h"

namespace muxcore {

enum BufStatus { kBufOk = 0, kBufNothing = 1, kBufOverflow = 2, kBufEmpty = 3, kBufError = 5 };

class CBufSupervizor {
public:
    CBufSupervizor(double rate, int32_t size, int32_t fullness);
    virtual ~CBufSupervizor() = default;

    int PushUnit(const AccessUnit& u);
    int Admit(int32_t n);
    int RemoveHead(int32_t size, int32_t admitted);
    int Drain(int64_t now);  // now in 27 MHz ticks
    int Status() const;

    int32_t Free() const { return size_ - fullness_; }
    int32_t GetSize() const { return size_; }
    void SetSize(int32_t s) { size_ = s; }
    int32_t GetFullness() const { return fullness_; }
    int64_t NextRemoval() const { return queue_.IsEmpty() ? kNoTime : queue_.Peek().dts; }
    int32_t QueuedUnits() const { return queue_.GetCount(); }
    void Reset();

protected:
    AccessUnitQueue queue_;
    double rate_;
    int32_t fullness_;
    int32_t size_;
    int64_t pushed_ = 0;
    int64_t removed_ = 0;
};

class CEBSupervizor : public CBufSupervizor {
public:
    explicit CEBSupervizor(int32_t size) : CBufSupervizor(0.0, size, 0) {}
};

// Time unit: the multiplexer's packet slot; rate in bytes per slot.
class CTBSupervizor : public CBufSupervizor {
public:
    CTBSupervizor(double bytesPerSlot, int32_t size);
    int CanAcceptPacket(int64_t now);
    int AddBytes(int32_t n, int64_t now);
    int64_t LastUpdate() const { return lastUpdate_; }
    double LeakPerSlot() const { return rate_; }
    // Whole slots until a packet's bytes have leaked out (with a leak).
    double SlotsPerPacket() const { return slotsPerPacket_; }

private:
    int64_t lastUpdate_ = 0;
    // The exact level: truncating every leak step would make the level depend
    // on how often it is asked.
    double level_ = 0;
    double slotsPerPacket_ = 0;
};

}  // namespace muxcore
