// Line-21 caption data waiting for the pictures it belongs to, and the
// picture user data built from it in one of four forms (ATSC A/53 cc_data,
// SCTE 20, the CCUBE block form, or the bytes passed through).
//
// The caption source's thread pushes, the video thread asks for a frame's
// user data: both through the queue's own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace videoenc {

enum class CaptionForm { Off = 0, Atsc = 1, Scte20 = 2, Ccube = 3, Passthrough = 4 };

constexpr std::size_t kCaptionEntryBytes = 256;     // kept of each sample
constexpr std::size_t kCaptionQueueCapacity = 50;   // entries at creation
constexpr std::size_t kCaptionQueueGrowth = 5;      // added while full
constexpr std::size_t kCaptionMaxPairs = 31;        // byte pairs per packet
constexpr std::size_t kCaptionUserDataBytes = 256;  // the output area

class CaptionQueue {
public:
    CaptionQueue();

    // Queues a sample's bytes (times 0 when it has none); a sample without
    // data queues nothing. Returns how many bytes past the first 256 were
    // dropped.
    std::size_t Push(const std::uint8_t* data, std::size_t size, std::int64_t start, std::int64_t stop);

    // The pin's Active and Inactive: a stopped queue gives no user data.
    void SetStopped(bool stopped);

    // The user data for the frame [start, stop], or none (no due entry, a
    // stopped queue, captions off). Entries are taken oldest first while one
    // is due: its start at or before the frame's start, or its stop at or
    // before the frame's stop.
    std::optional<std::vector<std::uint8_t>> BuildUserData(std::int64_t frameStart, std::int64_t frameStop,
                                                           CaptionForm form);

    std::size_t Size() const;
    std::size_t Capacity() const;

private:
    struct Entry {
        std::uint8_t bytes[kCaptionEntryBytes];
        std::size_t count;
        std::int64_t start;
        std::int64_t stop;
    };

    // The oldest entry, when any entry is due for the frame.
    const Entry* PeekDue(std::int64_t frameStart, std::int64_t frameStop) const;
    void DropOldest();
    std::optional<Entry> TakeDue(std::int64_t frameStart, std::int64_t frameStop);
    std::optional<std::vector<std::uint8_t>> Atsc(std::int64_t start, std::int64_t stop);
    std::optional<std::vector<std::uint8_t>> Scte20(std::int64_t start, std::int64_t stop);
    std::optional<std::vector<std::uint8_t>> Ccube(std::int64_t start, std::int64_t stop);
    std::optional<std::vector<std::uint8_t>> Passthrough(std::int64_t start, std::int64_t stop);

    mutable std::mutex lock_;
    std::vector<Entry> ring_;
    std::size_t head_ = 0;  // the oldest entry
    std::size_t count_ = 0;
    bool stopped_ = true;
};

}  // namespace videoenc
