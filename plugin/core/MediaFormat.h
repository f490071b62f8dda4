// The plug-in's view of a DMO media type and the format check both of its
// streams pass. Platform-free: the shell copies GUIDs and format bytes in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace plugin {

// Same layout as a Windows GUID.
struct Guid {
    uint32_t d1;
    uint16_t d2;
    uint16_t d3;
    uint8_t d4[8];
};
inline bool operator==(const Guid& a, const Guid& b) {
    return std::memcmp(&a, &b, sizeof(Guid)) == 0;
}
inline bool operator!=(const Guid& a, const Guid& b) {
    return !(a == b);
}

constexpr Guid kMediaTypeAudio = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// MEDIASUBTYPE_PCM, which is also KSDATAFORMAT_SUBTYPE_PCM.
constexpr Guid kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr Guid kSubtypeIeeeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr Guid kFormatWaveFormatEx = {0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
constexpr size_t kWaveFormatExSize = 18;
// WAVEFORMATEXTENSIBLE: the 18 bytes, then valid bits, channel mask and sub-format.
constexpr uint16_t kExtensibleExtraSize = 22;
constexpr size_t kWaveFormatExtensibleSize = kWaveFormatExSize + kExtensibleExtraSize;

// A media type as the DMO receives it (format bytes are borrowed).
struct MediaTypeView {
    Guid major;
    Guid subtype;
    Guid formatType;
    const uint8_t* format;
    size_t formatSize;
};

// The fields of a checked WAVEFORMATEX (and its extensible tail).
struct WaveFormat {
    uint16_t tag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t cbSize;
    uint16_t validBits;  // extensible only
    Guid subformat;      // extensible only
};

// The audio format of a type, when it is one the plug-in passes through:
// 8- or 16-bit PCM, plain or extensible (PCM or float sub-format).
std::optional<WaveFormat> CheckedWaveFormat(const MediaTypeView& type);

// Whether a type may be set on one stream while the other stream holds
// `other` (null when that stream's type is unset).
bool TypeAcceptable(const MediaTypeView& type, const MediaTypeView* other);

// The bytes of a format that go into a shared record: 18 for plain PCM,
// all 40 for the extensible form; 0 for anything else (nothing is sent).
size_t RecordFormatSize(const uint8_t* format, size_t formatSize);

}  // namespace plugin
