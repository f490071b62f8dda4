#include "plugin/core/MediaFormat.h"

namespace plugin {

namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

Guid ReadGuid(const uint8_t* p) {
    Guid g;
    g.d1 = Le32(p);
    g.d2 = Le16(p + 4);
    g.d3 = Le16(p + 6);
    std::memcpy(g.d4, p + 8, sizeof g.d4);
    return g;
}

}  // namespace

std::optional<WaveFormat> CheckedWaveFormat(const MediaTypeView& type) {
    if (type.major != kMediaTypeAudio || type.formatType != kFormatWaveFormatEx) return std::nullopt;
    if (type.format == nullptr || type.formatSize < kWaveFormatExSize) return std::nullopt;
    const uint8_t* p = type.format;
    WaveFormat f{};
    f.tag = Le16(p);
    f.channels = Le16(p + 2);
    f.samplesPerSec = Le32(p + 4);
    f.avgBytesPerSec = Le32(p + 8);
    f.blockAlign = Le16(p + 12);
    f.bitsPerSample = Le16(p + 14);
    f.cbSize = Le16(p + 16);
    if (f.channels == 0 || f.samplesPerSec == 0 || f.avgBytesPerSec == 0 || f.blockAlign == 0) return std::nullopt;
    if (f.bitsPerSample != 8 && f.bitsPerSample != 16) return std::nullopt;
    if (f.tag == kWaveFormatPcm) return f;
    if (f.tag != kWaveFormatExtensible) return std::nullopt;
    // The extensible tail must be all there, and exactly that long: the
    // shared record has room for this size and no other.
    if (type.formatSize < kWaveFormatExtensibleSize || f.cbSize != kExtensibleExtraSize) return std::nullopt;
    f.validBits = Le16(p + 18);
    f.subformat = ReadGuid(p + 24);
    if (f.subformat != kSubtypePcm && f.subformat != kSubtypeIeeeFloat) return std::nullopt;
    if (f.validBits != f.bitsPerSample) return std::nullopt;
    return f;
}

bool TypeAcceptable(const MediaTypeView& type, const MediaTypeView* other) {
    std::optional<WaveFormat> f = CheckedWaveFormat(type);
    if (!f) return false;
    if (other == nullptr) return true;
    std::optional<WaveFormat> o = CheckedWaveFormat(*other);
    if (!o) return false;
    if (type.major != other->major || type.subtype != other->subtype) return false;
    if (f->channels != o->channels || f->samplesPerSec != o->samplesPerSec || f->avgBytesPerSec != o->avgBytesPerSec ||
        f->blockAlign != o->blockAlign || f->bitsPerSample != o->bitsPerSample || f->tag != o->tag)
        return false;
    return f->tag != kWaveFormatExtensible || f->subformat == o->subformat;
}

size_t RecordFormatSize(const uint8_t* format, size_t formatSize) {
    if (format == nullptr || formatSize < kWaveFormatExSize) return 0;
    uint16_t tag = Le16(format);
    if (tag == kWaveFormatPcm) return kWaveFormatExSize;
    uint16_t cbSize = Le16(format + 16);
    if (cbSize != kExtensibleExtraSize || formatSize < kWaveFormatExtensibleSize) return 0;
    return kWaveFormatExtensibleSize;
}

}  // namespace plugin
