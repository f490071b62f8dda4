#include "codec/multiplexer/EsDetect.h"

#include <cstdlib>
#include <cstring>

namespace muxcore {

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool ParseWav(const uint8_t* d, size_t n, EsInfo& info) {
    if (n < 12 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0) return false;
    size_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= n) {
        const uint32_t size = Le32(d + at + 4);
        if (std::memcmp(d + at, "fmt ", 4) == 0 && at + 8 + 16 <= n) {
            const uint8_t* f = d + at + 8;
            const uint16_t tag = Le16(f);
            if (tag != 1 && tag != 0xFFFE) return false;
            info.pcm.channels = Le16(f + 2);
            info.pcm.sampleRate = static_cast<int32_t>(Le32(f + 4));
            info.pcm.bitsPerSample = Le16(f + 14);
            info.pcm.littleEndian = true;
            haveFormat = true;
        } else if (std::memcmp(d + at, "data", 4) == 0) {
            if (!haveFormat) return false;
            info.dataOffset = at + 8;
            info.dataLength = size == 0xFFFFFFFFu || size == 0 ? SIZE_MAX : size;
            info.streamType = kPinPcm;
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

}  // namespace

EsInfo DetectElementaryStream(const uint8_t* d, size_t n) {
    EsInfo info;
    if (!d || n < 4) return info;
    if (ParseWav(d, n, info)) return info;
    if (d[0] == 0 && d[1] == 0 && d[2] == 1 && d[3] == 0xB3) {
        // MPEG-2 when a sequence extension follows the sequence header.
        info.streamType = kPinMpeg1Video;
        for (size_t i = 4; i + 4 < n && i < 4096; ++i)
            if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
                if (d[i + 3] == 0xB5 && (d[i + 4] >> 4) == 1) info.streamType = kPinMpeg2Video;
                if (d[i + 3] == 0x00 || d[i + 3] == 0xB8) break;
            }
        return info;
    }
    if (d[0] == 0x0B && d[1] == 0x77) {
        info.streamType = kPinAc3;
        return info;
    }
    if (d[0] == 0xFF && (d[1] & 0xF0) == 0xF0 && (d[1] & 0x06) == 0) {
        info.streamType = kPinAac;
        return info;
    }
    if (d[0] == 0xFF && (d[1] & 0xE0) == 0xE0 && (d[1] & 0x06) != 0) {
        const unsigned version = (d[1] >> 3) & 3;
        info.streamType = version == 3 ? kPinMpeg1Audio : kPinMpeg2Audio;
        return info;
    }
    return info;
}

int32_t StreamTypeFromName(const std::string& s) {
    if (s == "m2v" || s == "mpeg2video") return kPinMpeg2Video;
    if (s == "m1v" || s == "mpeg1video") return kPinMpeg1Video;
    if (s == "mp2" || s == "mpa") return kPinMpeg1Audio;
    if (s == "mp2a") return kPinMpeg2Audio;
    if (s == "ac3") return kPinAc3;
    if (s == "aac") return kPinAac;
    if (s == "wav" || s == "pcm") return kPinPcm;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    return end && *end == 0 && !s.empty() ? static_cast<int32_t>(v) : kPinFree;
}

}  // namespace muxcore
