#include "codec/videoencoder/CaptionQueue.h"

#include <algorithm>
#include <cstring>

namespace videoenc {

namespace {

const std::uint8_t kAtscIdentifier[] = {0x47, 0x41, 0x39, 0x34};  // "GA94"
const std::uint8_t kAtscUserDataType = 0x03;
const std::uint8_t kAtscCcCountFlags = 0x40;  // process_cc_data_flag
const std::uint8_t kAtscPairMarker = 0xFC;    // marker bits, cc_valid, field 1
const std::uint8_t kAtscEnd = 0xFF;
const std::uint8_t kScte20Header[] = {0x03, 0x81};
const std::size_t kScte20HeaderBits = 16 + 5 + 1;  // the two bytes, the count, the last marker
const std::size_t kScte20PairBits = 26;
const std::size_t kCcubeBlocks = 4;
const std::size_t kCcubeBlockHeaderBytes = 2;
const std::size_t kCcubeTerminatorBytes = 2;
const std::size_t kCcubeMaxBlockBytes = 255;
const std::uint8_t kCcubeFirstType = 9;
const std::uint8_t kCcubeLaterType = 10;
const std::size_t kPassthroughSkipped = 4;

std::uint8_t Reversed(std::uint8_t b) {
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<std::uint8_t>(r | (((b >> i) & 1) << (7 - i)));
    return r;
}

// Most significant bit first.
class BitWriter {
public:
    void Put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80 >> (used_ % 8)));
            ++used_;
        }
    }
    std::vector<std::uint8_t> Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;
};

}  // namespace

CaptionQueue::CaptionQueue() : ring_(kCaptionQueueCapacity) {}

std::size_t CaptionQueue::Push(const std::uint8_t* data, std::size_t size, std::int64_t start, std::int64_t stop) {
    if (!data || size == 0) return 0;
    std::lock_guard<std::mutex> hold(lock_);
    if (count_ == ring_.size()) {
        // Grown while full, the entries laid out again oldest first.
        std::vector<Entry> grown(ring_.size() + kCaptionQueueGrowth);
        for (std::size_t i = 0; i < count_; ++i) grown[i] = ring_[(head_ + i) % ring_.size()];
        ring_.swap(grown);
        head_ = 0;
    }
    Entry& e = ring_[(head_ + count_) % ring_.size()];
    e.count = std::min(size, kCaptionEntryBytes);
    std::memcpy(e.bytes, data, e.count);
    e.start = start;
    e.stop = stop;
    ++count_;
    return size - e.count;
}

void CaptionQueue::SetStopped(bool stopped) {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = stopped;
}

std::size_t CaptionQueue::Size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return count_;
}

std::size_t CaptionQueue::Capacity() const {
    std::lock_guard<std::mutex> hold(lock_);
    return ring_.size();
}

const CaptionQueue::Entry* CaptionQueue::PeekDue(std::int64_t frameStart, std::int64_t frameStop) const {
    for (std::size_t i = 0; i < count_; ++i) {
        const Entry& e = ring_[(head_ + i) % ring_.size()];
        if (e.start <= frameStart || e.stop <= frameStop) return &ring_[head_];
    }
    return nullptr;
}

void CaptionQueue::DropOldest() {
    head_ = (head_ + 1) % ring_.size();
    --count_;
}

std::optional<CaptionQueue::Entry> CaptionQueue::TakeDue(std::int64_t frameStart, std::int64_t frameStop) {
    const Entry* due = PeekDue(frameStart, frameStop);
    if (!due) return std::nullopt;
    const Entry taken = *due;
    DropOldest();
    return taken;
}

std::optional<std::vector<std::uint8_t>> CaptionQueue::BuildUserData(std::int64_t frameStart, std::int64_t frameStop,
                                                                     CaptionForm form) {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopped_) return std::nullopt;
    switch (form) {
        case CaptionForm::Atsc:
            return Atsc(frameStart, frameStop);
        case CaptionForm::Scte20:
            return Scte20(frameStart, frameStop);
        case CaptionForm::Ccube:
            return Ccube(frameStart, frameStop);
        case CaptionForm::Passthrough:
            return Passthrough(frameStart, frameStop);
        case CaptionForm::Off:
            break;
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> CaptionQueue::Atsc(std::int64_t start, std::int64_t stop) {
    std::vector<std::uint8_t> pairs;  // two bytes each
    bool taken = false;
    while (pairs.size() / 2 < kCaptionMaxPairs) {
        const std::optional<Entry> e = TakeDue(start, stop);
        if (!e) break;
        taken = true;
        for (std::size_t j = 0; j < e->count && pairs.size() / 2 < kCaptionMaxPairs; j += 2) {
            pairs.push_back(e->bytes[j]);
            pairs.push_back(j + 1 < e->count ? e->bytes[j + 1] : 0);
        }
    }
    if (!taken) return std::nullopt;
    const std::size_t n = pairs.size() / 2;
    std::vector<std::uint8_t> out(std::begin(kAtscIdentifier), std::end(kAtscIdentifier));
    out.push_back(kAtscUserDataType);
    out.push_back(static_cast<std::uint8_t>(kAtscCcCountFlags | n));
    out.push_back(0x00);
    for (std::size_t k = 0; k < n; ++k) {
        out.push_back(kAtscPairMarker);
        out.push_back(pairs[2 * k]);
        out.push_back(pairs[2 * k + 1]);
    }
    out.push_back(kAtscEnd);
    return out;
}

// SCTE 20 numbers fields 1 and 2 (0 is forbidden, and decoders drop such
// pairs): the pairs of an entry alternate between the two fields.
std::optional<std::vector<std::uint8_t>> CaptionQueue::Scte20(std::int64_t start, std::int64_t stop) {
    struct Pair {
        std::uint8_t first, second, field;
    };
    std::vector<Pair> pairs;
    while (pairs.size() < kCaptionMaxPairs) {
        const std::optional<Entry> e = TakeDue(start, stop);
        if (!e) break;
        for (std::size_t j = 0, k = 0; j < e->count && pairs.size() < kCaptionMaxPairs; j += 2, ++k) {
            const std::uint8_t second = j + 1 < e->count ? e->bytes[j + 1] : 0;
            pairs.push_back({e->bytes[j], second, static_cast<std::uint8_t>(1 + k % 2)});
        }
    }
    if (pairs.empty()) return std::nullopt;
    BitWriter bits;
    for (std::uint8_t b : kScte20Header) bits.Put(b, 8);
    bits.Put(static_cast<std::uint32_t>(pairs.size()), 5);
    for (const Pair& p : pairs) {
        bits.Put(0, 2);        // priority
        bits.Put(p.field, 2);  // field number
        bits.Put(0, 5);        // line offset
        bits.Put(Reversed(p.first), 8);
        bits.Put(Reversed(p.second), 8);
        bits.Put(1, 1);  // marker
    }
    std::vector<std::uint8_t> out = bits.Bytes();
    // 22 + 26n bits in whole bytes.
    out.resize((kScte20HeaderBits + kScte20PairBits * pairs.size() + 7) / 8, 0);
    return out;
}

// Blocks of (count, type, bytes). The 256-byte user data area bounds them: a
// block that would not fit waits for the next frame, unless it is the first,
// which is cut to fit (a count byte holds 255 at most anyway).
std::optional<std::vector<std::uint8_t>> CaptionQueue::Ccube(std::int64_t start, std::int64_t stop) {
    std::vector<std::uint8_t> out;
    std::size_t copied = 0;
    for (std::size_t blocks = 0; blocks < kCcubeBlocks; ++blocks) {
        const Entry* e = PeekDue(start, stop);
        const std::size_t room = kCaptionUserDataBytes - out.size() - kCcubeTerminatorBytes;
        std::size_t bytes = e ? std::min<std::size_t>(e->count, kCcubeMaxBlockBytes) : 0;
        if (e && kCcubeBlockHeaderBytes + bytes > room) bytes = blocks == 0 ? room - kCcubeBlockHeaderBytes : 0;
        if (bytes == 0) {
            out.push_back(0);
            out.push_back(0);
            break;
        }
        out.push_back(static_cast<std::uint8_t>(bytes));
        out.push_back(blocks < 2 ? kCcubeFirstType : kCcubeLaterType);
        out.insert(out.end(), e->bytes, e->bytes + bytes);
        copied += bytes;
        DropOldest();
    }
    if (copied == 0) return std::nullopt;
    return out;
}

std::optional<std::vector<std::uint8_t>> CaptionQueue::Passthrough(std::int64_t start, std::int64_t stop) {
    const std::optional<Entry> e = TakeDue(start, stop);
    // Four bytes or fewer leave nothing to pass.
    if (!e || e->count <= kPassthroughSkipped) return std::nullopt;
    return std::vector<std::uint8_t>(e->bytes + kPassthroughSkipped, e->bytes + e->count);
}

}  // namespace videoenc
