#include "plugin/core/SharedAudioBlock.h"

#include <algorithm>
#include <cstring>

#include "plugin/core/MediaFormat.h"

namespace plugin {

namespace {

void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// The last byte a record may use, for a view of this size.
size_t RecordLimit(size_t viewSize) {
    return std::min(viewSize, kWindowOffset);
}

}  // namespace

uint32_t ChunkSize(size_t formatSize) {
    size_t extra = formatSize > kWaveFormatExSize ? formatSize - kWaveFormatExSize : 0;
    return extra >= kMaxChunk ? 0 : kMaxChunk - static_cast<uint32_t>(extra);
}

bool WriteRecord(uint8_t* view, size_t viewSize, const RecordFields& fields, const uint8_t* format, size_t formatSize,
                 const uint8_t* audio, uint32_t size) {
    if (view == nullptr || formatSize < kWaveFormatExSize) return false;
    size_t limit = RecordLimit(viewSize);
    size_t sizeOffset = kFormatOffset + formatSize;
    if (sizeOffset > limit || limit - sizeOffset < 4 || limit - sizeOffset - 4 < size) return false;

    Put32(view + kPidOffset, fields.processId);
    size_t chars = std::min(fields.path.size(), kPathMaxChars - 1);
    for (size_t i = 0; i < chars; ++i) {
        view[kPathOffset + 2 * i] = static_cast<uint8_t>(fields.path[i]);
        view[kPathOffset + 2 * i + 1] = static_cast<uint8_t>(fields.path[i] >> 8);
    }
    view[kPathOffset + 2 * chars] = 0;
    view[kPathOffset + 2 * chars + 1] = 0;
    Put32(view + kInstanceOffset, fields.instanceId);
    Put32(view + kVersionOffset, kRecordVersion);
    std::memcpy(view + kFormatOffset, format, formatSize);
    Put32(view + sizeOffset, size);
    if (size > 0) std::memcpy(view + sizeOffset + 4, audio, size);
    return true;
}

std::optional<Record> ReadRecord(const uint8_t* view, size_t viewSize) {
    size_t limit = RecordLimit(viewSize);
    if (view == nullptr || limit < kFormatOffset + kWaveFormatExSize + 4) return std::nullopt;
    Record r;
    r.processId = Get32(view + kPidOffset);
    for (size_t i = 0; i + 1 < kPathMaxChars; ++i) {
        char16_t c = static_cast<char16_t>(Get16(view + kPathOffset + 2 * i));
        if (c == 0) break;
        r.path.push_back(c);
    }
    r.instanceId = Get32(view + kInstanceOffset);
    r.version = Get32(view + kVersionOffset);
    const uint8_t* f = view + kFormatOffset;
    size_t formatSize = kWaveFormatExSize;
    if (Get16(f) != kWaveFormatPcm) formatSize += Get16(f + 16);
    size_t sizeOffset = kFormatOffset + formatSize;
    if (sizeOffset > limit || limit - sizeOffset < 4) return std::nullopt;
    uint32_t n = Get32(view + sizeOffset);
    if (limit - sizeOffset - 4 < n) return std::nullopt;
    r.format.assign(f, f + formatSize);
    r.audio.assign(view + sizeOffset + 4, view + sizeOffset + 4 + n);
    return r;
}

uint32_t ReaderWindow(const uint8_t* view, size_t viewSize) {
    if (view == nullptr || viewSize < kWindowOffset + 4) return 0;
    return Get32(view + kWindowOffset);
}

HandOver HandOverRecord(BlockChannel& channel, const RecordFields& fields, const uint8_t* format, size_t formatSize,
                        const uint8_t* audio, uint32_t size) {
    if (channel.Creator()) return HandOver::Creator;
    WaitOutcome w = channel.WaitMutex(kWaitMs);
    // An abandoned mutex is still ours: its last owner died holding it.
    if (w != WaitOutcome::Obtained && w != WaitOutcome::Abandoned) return HandOver::NoMutex;
    HandOver result = HandOver::NoReader;
    uint32_t window = ReaderWindow(channel.View(), channel.ViewSize());
    if (window != 0 && channel.IsReaderWindow(window)) {
        if (WriteRecord(channel.View(), channel.ViewSize(), fields, format, formatSize, audio, size)) {
            if (channel.SignalDataReady()) {
                channel.WaitConsumed(kWaitMs);  // a silent reader only costs the wait
                result = HandOver::Sent;
            }
        } else {
            result = HandOver::NoRoom;
        }
    }
    channel.ReleaseMutex();
    return result;
}

size_t SendBuffer(BlockChannel& channel, const RecordFields& fields, const uint8_t* format, size_t formatSize,
                  const uint8_t* audio, size_t size) {
    size_t recordFormat = RecordFormatSize(format, formatSize);
    if (recordFormat == 0) return 0;
    uint16_t bits = Get16(format + 14);
    if (bits != 8 && bits != 16) return 0;
    uint32_t chunk = ChunkSize(recordFormat);
    size_t sent = 0;
    for (size_t at = 0; at < size; at += chunk) {
        auto n = static_cast<uint32_t>(std::min<size_t>(chunk, size - at));
        if (HandOverRecord(channel, fields, format, recordFormat, audio + at, n) == HandOver::Sent) ++sent;
    }
    return sent;
}

}  // namespace plugin
