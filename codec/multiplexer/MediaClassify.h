// What an input makes of the media type it is connected with: its stream
// type, the facts its format block gives (picture size, rates, frame
// duration) and whether the muxer's compatibility mode accepts it. The media
// type arrives as plain bytes and GUID values, so this needs no platform.
#pragma once

#include "codec/multiplexer/HResult.h"
#include "codec/multiplexer/MuxSettings.h"

#include <cstdint>

namespace muxcore {

struct Guid {
    uint32_t data1;
    uint16_t data2, data3;
    uint8_t data4[8];
};
bool operator==(const Guid& a, const Guid& b);
inline bool operator!=(const Guid& a, const Guid& b) {
    return !(a == b);
}

// {XXXXXXXX-0000-0010-8000-00AA00389B71}: FOURCC and wave-tag subtypes.
Guid FourccGuid(uint32_t code);
constexpr uint32_t Fourcc(char a, char b, char c, char d) {
    return static_cast<uint8_t>(a) | static_cast<uint8_t>(b) << 8 | static_cast<uint8_t>(c) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

namespace mediatype {
extern const Guid kVideo, kAudio, kStream, kMpeg2Pes, kDvdEncryptedPack, kIgPesMajor;
extern const Guid kMpeg2Video, kMpeg2Audio, kMpeg2Program, kDolbyAc3, kDvdSubpicture, kDvdLpcm, kMpeg1Payload, kH264,
    kIgPes, kNull;
extern const Guid kFormatVideoInfo, kFormatVideoInfo2, kFormatMpegVideo, kFormatMpeg2Video, kFormatWaveFormatEx,
    kFormatBlob;
}  // namespace mediatype

struct MediaTypeDesc {
    Guid major{};
    Guid subtype{};
    Guid formatType{};
    const uint8_t* format = nullptr;  // the format block (32-bit layouts)
    uint32_t formatSize = 0;
};

struct Classification {
    int32_t streamType = kPinFree;
    bool dvdLpcm = false;
};
Classification ClassifyMediaType(const MediaTypeDesc& mt);

struct ConnectFacts {
    int32_t announcedBitrate = 0;
    int64_t frameDuration = 0;       // 100 ns
    int32_t announcedFrameRate = 0;  // "Announced frame rate" code
    int32_t width = 0, height = 0;
    int32_t frequency = 0;
    int32_t channels = 0;
    int32_t bitsPerSample = 0;
    bool hasFormat = false;
};

// "Announced frame rate" of an average time per frame.
int32_t FrameRateCode(int64_t avgTimePerFrame);

// The connection steps that need no platform: refusals by output and mode,
// default rates, and the facts read from the format block. E_FAIL refuses.
HRESULT_T ReadConnectFacts(const MediaTypeDesc& mt, int32_t streamType, const MuxerSettings& mux, ConnectFacts& out);

// Whether an input of this type and these facts fits the compatibility mode.
bool CheckCompatibility(int32_t compat, int32_t streamType, int32_t output, const ConnectFacts& f);

// The stream settings an input takes from its connection.
void ApplyConnectFacts(const ConnectFacts& f, StreamSettings& s);

// 7-byte ADTS header for a raw AAC frame of n bytes, from the two
// AudioSpecificConfig bytes.
void BuildAdtsHeader(uint8_t c0, uint8_t c1, uint32_t n, uint8_t out[7]);

}  // namespace muxcore
