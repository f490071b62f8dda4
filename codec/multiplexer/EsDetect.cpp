#include "codec/multiplexer/EsDetect.h"

#include "codec/common/H264Headers.h"
#include "codec/common/MpegCodes.h"
#include "codec/common/Mpeg4VideoHeaders.h"

#include "codec/scanning/AudioHeaders.h"
#include "codec/scanning/VC1Headers.h"
#include "codec/scanning/VESHeaders.h"

#include <algorithm>
#include <cstring>

namespace muxcore {

namespace {

// A single sync word is often chance: a stream is recognised by frames in a row.
constexpr int kFramesToRecognise = 3;

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
        // A chunk that claims more than the file holds ends the walk; the sum
        // is never formed in 32 bits, where a huge size would wrap to nothing.
        const uint64_t span = uint64_t{size} + (size & 1);
        if (span > n - at - 8) break;
        at += 8 + static_cast<size_t>(span);
    }
    return false;
}

// Frames in a row from d on (each header valid, the next sync exactly one
// frame length on), stopping at want.
int FrameChain(int32_t type, const uint8_t* d, size_t n, int want) {
    size_t at = 0;
    int frames = 0;
    while (frames < want && at + 8 <= n) {
        const uint8_t* p = d + at;
        const uint32_t avail = static_cast<uint32_t>(std::min<size_t>(n - at, 64));
        uint32_t len = 0;
        if (type == kPinAc3) {
            SPL_AC3::AC3Hdr h;
            if (p[0] == 0x0B && p[1] == 0x77 && h.Parse(p, avail)) len = h.frameLength;
        } else if (type == kPinAac) {
            SPL_AAC::AACHdr h;
            if (p[0] == 0xFF && (p[1] & 0xF6) == 0xF0 && h.Parse(p, avail)) len = h.aac_frame_length;
        } else {
            SPL_AES::AESHdr h;
            if (p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && h.Parse(p, avail)) len = h.frameLength;
        }
        if (len < 7) break;
        at += len;
        ++frames;
        if (at == n) return want;  // the data end with a whole frame
    }
    return frames;
}

bool IsAudioFrames(int32_t type, const uint8_t* d, size_t n) {
    return FrameChain(type, d, n, kFramesToRecognise) >= kFramesToRecognise;
}

// A sequence header, and a picture after it, in the first bytes.
bool IsMpegVideo(const uint8_t* d, size_t n, bool& mpeg2) {
    mpeg2 = false;
    if (n < 12 || d[0] != 0 || d[1] != 0 || d[2] != 1 || d[3] != MpegCommon::kSequenceHeaderCode) return false;
    SPL_VES::VESSeqHdr h;
    if (!h.Parse(d, static_cast<uint32_t>(std::min<size_t>(n, 140)), false)) return false;
    for (size_t i = 4; i + 4 < n; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            if (d[i + 3] == MpegCommon::kExtensionStartCode && (d[i + 4] >> 4) == 1) mpeg2 = true;
            if (d[i + 3] == MpegCommon::kPictureStartCode) return true;
        }
    return false;
}

// An H.264 byte stream: a delimiter, SEI or sequence parameter set first,
// and a sequence and a picture parameter set that parse in the first bytes.
bool IsH264(const uint8_t* d, size_t n) {
    size_t at = 0;
    while (at < n && at < 64 && d[at] == 0) ++at;
    if (at < 2 || at + 2 > n || d[at] != 1) return false;
    const uint8_t first = d[at + 1] & 0x9F;  // without nal_ref_idc
    if (first != MpegCommon::h264::kNalAud && first != MpegCommon::h264::kNalSei && first != MpegCommon::h264::kNalSps)
        return false;
    bool sps = false, pps = false;
    for (size_t i = at - 2; i + 4 < n && !(sps && pps); ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
        const uint8_t* nal = d + i + 3;
        const size_t len = MpegCommon::h264::NalUnitLength(nal, n - i - 3);
        if ((nal[0] & 0x1F) == MpegCommon::h264::kNalSps) {
            MpegCommon::h264::Sps s;
            sps = sps || s.Parse(nal, len);
        } else if ((nal[0] & 0x1F) == MpegCommon::h264::kNalPps) {
            MpegCommon::h264::Pps p;
            pps = pps || p.Parse(nal, len);
        }
    }
    return sps && pps;
}

// MPEG-4 Part 2 video: a visual object sequence, visual object or video
// object first, and a video object layer that parses in the first bytes.
bool IsMpeg4Video(const uint8_t* d, size_t n) {
    namespace m4 = MpegCommon::mpeg4;
    if (n < 8 || d[0] != 0 || d[1] != 0 || d[2] != 1) return false;
    if (d[3] != m4::kVisualObjectSequence && d[3] != m4::kVisualObject && d[3] > m4::kLastVol) return false;
    for (size_t i = 0; i + 4 < n; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] >= m4::kFirstVol && d[i + 3] <= m4::kLastVol) {
            m4::Vol v;
            return v.Parse(d + i, n - i);
        }
    return false;
}

// VC-1 advanced profile: a sequence layer that parses first.
bool IsVc1(const uint8_t* d, size_t n) {
    SPL_VC1::SequenceLayer s;
    return n >= 8 && d[0] == 0 && d[1] == 0 && d[2] == 1 && d[3] == SPL_VC1::kSequence && s.Parse(d, n) &&
           s.profile == SPL_VC1::kAdvanced;
}

}  // namespace

EsInfo DetectElementaryStream(const uint8_t* d, size_t n) {
    EsInfo info;
    if (!d || n < 4) return info;
    if (ParseWav(d, n, info)) return info;
    bool mpeg2 = false;
    if (IsMpegVideo(d, n, mpeg2)) {
        info.streamType = mpeg2 ? kPinMpeg2Video : kPinMpeg1Video;
        return info;
    }
    if (IsH264(d, n)) {
        info.streamType = kPinH264;
        return info;
    }
    if (IsVc1(d, n)) {
        info.streamType = kPinVc1;
        return info;
    }
    if (IsMpeg4Video(d, n)) {
        info.streamType = kPinMpeg4;
        return info;
    }
    if (IsAudioFrames(kPinAc3, d, n)) {
        info.streamType = kPinAc3;
        return info;
    }
    if (IsAudioFrames(kPinAac, d, n)) {
        info.streamType = kPinAac;
        return info;
    }
    if (IsAudioFrames(kPinMpeg1Audio, d, n)) {
        const unsigned version = (d[1] >> 3) & 3;
        info.streamType = version == 3 ? kPinMpeg1Audio : kPinMpeg2Audio;
        return info;
    }
    return info;
}

bool BytesFitKind(int32_t type, const uint8_t* d, size_t n) {
    bool mpeg2 = false;
    EsInfo wav;
    switch (type) {
        case kPinMpeg1Video:
        case kPinMpeg2Video:
            return IsMpegVideo(d, n, mpeg2);
        case kPinMpeg1Audio:
        case kPinMpeg2Audio:
        case kPinAc3:
        case kPinAac:
            return IsAudioFrames(type, d, n);
        case kPinPcm:
            return ParseWav(d, n, wav);
        case kPinH264:
            return IsH264(d, n);
        case kPinMpeg4:
            return IsMpeg4Video(d, n);
        case kPinVc1:
            return IsVc1(d, n);
        default:
            return false;
    }
}

int32_t StreamTypeFromName(const std::string& s) {
    if (s == "m2v" || s == "mpeg2video") return kPinMpeg2Video;
    if (s == "m1v" || s == "mpeg1video") return kPinMpeg1Video;
    if (s == "mp2" || s == "mpa") return kPinMpeg1Audio;
    if (s == "mp2a") return kPinMpeg2Audio;
    if (s == "ac3") return kPinAc3;
    if (s == "aac") return kPinAac;
    if (s == "wav" || s == "pcm") return kPinPcm;
    if (s == "h264" || s == "264" || s == "avc") return kPinH264;
    if (s == "m4v" || s == "mpeg4") return kPinMpeg4;
    if (s == "vc1") return kPinVc1;
    return kPinFree;
}

}  // namespace muxcore
