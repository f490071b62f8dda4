#include "recorder/core/SegmentJoin.h"

#include <algorithm>
#include <vector>

namespace recorder {

namespace {

constexpr uint8_t kPack = 0xBA;
constexpr uint8_t kEnd = 0xB9;
constexpr uint64_t kTailBytes = 4 << 20;  // enough for many packs at any bitrate we record
constexpr int64_t kTimeMask = (int64_t{1} << 33) - 1;

// A 33-bit time in the 5-byte form of PES headers ('0010'/'0011'/'0001'
// prefix, marker bits).
int64_t ReadPesTime(const uint8_t* p) {
    return (static_cast<int64_t>(p[0] >> 1 & 0x07) << 30) | (static_cast<int64_t>(p[1]) << 22) |
           (static_cast<int64_t>(p[2] >> 1) << 15) | (static_cast<int64_t>(p[3]) << 7) | (p[4] >> 1);
}

void WritePesTime(uint8_t* p, int64_t t) {
    t &= kTimeMask;
    p[0] = static_cast<uint8_t>((p[0] & 0xF1) | ((t >> 29) & 0x0E));
    p[1] = static_cast<uint8_t>(t >> 22);
    p[2] = static_cast<uint8_t>(((t >> 14) & 0xFE) | 1);
    p[3] = static_cast<uint8_t>(t >> 7);
    p[4] = static_cast<uint8_t>(((t << 1) & 0xFE) | 1);
}

// MPEG-2 pack header SCR base (bytes 4..8 of the pack).
int64_t ReadScr2(const uint8_t* p) {
    return (static_cast<int64_t>(p[0] >> 3 & 0x07) << 30) | (static_cast<int64_t>(p[0] & 0x03) << 28) |
           (static_cast<int64_t>(p[1]) << 20) | (static_cast<int64_t>(p[2] >> 3) << 15) |
           (static_cast<int64_t>(p[2] & 0x03) << 13) | (static_cast<int64_t>(p[3]) << 5) | (p[4] >> 3);
}

void WriteScr2(uint8_t* p, int64_t t) {
    t &= kTimeMask;
    p[0] = static_cast<uint8_t>((p[0] & 0xC4) | ((t >> 27) & 0x38) | ((t >> 28) & 0x03));
    p[1] = static_cast<uint8_t>(t >> 20);
    p[2] = static_cast<uint8_t>((p[2] & 0x04) | ((t >> 12) & 0xF8) | ((t >> 13) & 0x03));
    p[3] = static_cast<uint8_t>(t >> 5);
    p[4] = static_cast<uint8_t>((p[4] & 0x07) | ((t << 3) & 0xF8));
}

bool IsPes(uint8_t id) {
    return id == 0xBD || (id >= 0xC0 && id <= 0xEF);
}

void Note(int64_t& low, int64_t& high, int64_t t) {
    if (low < 0 || t < low) low = t;
    if (t > high) high = t;
}

}  // namespace

bool WalkProgramStream(ByteFile& file, uint64_t from, int64_t shift, StreamTimes& times) {
    const uint64_t size = file.Size();
    uint64_t pos = from;
    uint8_t h[19];
    while (pos + 4 <= size) {
        if (!file.Read(pos, h, 4) || h[0] != 0 || h[1] != 0 || h[2] != 1) return false;
        const uint8_t id = h[3];
        if (id == kEnd) {
            pos += 4;
            continue;
        }
        if (id == kPack) {
            if (pos + 14 > size || !file.Read(pos, h, 14)) return false;
            if ((h[4] & 0xC0) != 0x40) return false;  // MPEG-1 packs are not written by our multiplexer
            const int64_t scr = ReadScr2(h + 4) + shift;
            if (shift) {
                WriteScr2(h + 4, scr);
                if (!file.Write(pos + 4, h + 4, 5)) return false;
            }
            if (times.firstScr < 0) times.firstScr = scr;
            times.lastScr = scr;
            pos += 14 + (h[13] & 0x07);
            continue;
        }
        if (pos + 6 > size || !file.Read(pos, h, 6)) return false;
        const uint64_t length = 6 + (static_cast<uint64_t>(h[4]) << 8 | h[5]);
        if (IsPes(id) && length >= 9 && pos + 9 <= size && file.Read(pos, h, 9) && (h[6] & 0xC0) == 0x80) {
            const int flags = h[7] >> 6;
            const size_t stamps = flags == 3 ? 10 : flags == 2 ? 5 : 0;
            if (stamps && h[8] >= stamps && pos + 9 + stamps <= size && file.Read(pos + 9, h + 9, stamps)) {
                for (size_t at = 9; at < 9 + stamps; at += 5) {
                    const int64_t t = ReadPesTime(h + at) + shift;
                    if (shift) WritePesTime(h + at, t);
                    if (at == 9) Note(times.minPts, times.maxPts, t);
                }
                if (shift && !file.Write(pos + 9, h + 9, stamps)) return false;
            }
        }
        pos += length;
    }
    return pos == size;
}

Continuation PrepareContinuation(ByteFile& file) {
    Continuation c;
    uint64_t size = file.Size();
    if (size < 4) return c;
    uint8_t tail[4];
    if (file.Read(size - 4, tail, 4) && tail[0] == 0 && tail[1] == 0 && tail[2] == 1 && tail[3] == kEnd &&
        file.Truncate(size - 4))
        size -= 4;
    // The last stretch of whole packets: from the first pack header of the
    // tail that leads on packet by packet to the end.
    const uint64_t start = size > kTailBytes ? size - kTailBytes : 0;
    std::vector<uint8_t> bytes(static_cast<size_t>(size - start));
    if (!file.Read(start, bytes.data(), bytes.size())) return c;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1 || bytes[i + 3] != kPack) continue;
        StreamTimes times;
        if (WalkProgramStream(file, start + i, 0, times) && times.maxPts >= 0) {
            c.active = true;
            c.offset = size;
            c.before = times;
            return c;
        }
    }
    return c;
}

bool JoinContinuation(ByteFile& file, const Continuation& continuation) {
    if (!continuation.active) return true;
    StreamTimes part;
    if (!WalkProgramStream(file, continuation.offset, 0, part) || part.minPts < 0 || part.firstScr < 0) return false;
    // The first picture or sound of the part follows the last of the parts
    // before it, and its clock never runs back.
    const int64_t shift = std::max(continuation.before.maxPts + kJoinGap - part.minPts,
                                   continuation.before.lastScr + kJoinGap - part.firstScr);
    StreamTimes moved;
    return WalkProgramStream(file, continuation.offset, shift, moved);
}

}  // namespace recorder
