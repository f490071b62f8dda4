#include "restamp/parsers/MAudio.h"

#include "codec/common/MpegTables.h"

namespace MAudio {

bool CFrameHdr::Parse(const uint8_t* d, uint32_t len) {
    if (len < 4 || d[0] != 0xFF || (d[1] & 0xE0) != 0xE0) return false;
    Clear();
    const uint32_t layerBits = (d[1] >> 1) & 3;
    const uint32_t sf = (d[2] >> 2) & 3;
    if (layerBits == 0 || sf == 3) return false;
    const uint32_t ver = (d[1] >> 3) & 3;
    if (ver == 1) return false;
    layer = 4 - layerBits;
    version = ver;
    samplingFrequency = uint8_t(sf);
    protectionBit = d[1] & 1;
    bitrateIndex = d[2] >> 4;
    padding = (d[2] >> 1) & 1;
    mode = d[3] >> 6;
    modeExtension = (d[3] >> 4) & 3;
    copyright = (d[3] >> 3) & 1;
    originalCopy = (d[3] >> 2) & 1;
    sampleRate = MpegCommon::MpegAudioSampleRate(ver, sf);
    bitrate = MpegCommon::MpegAudioBitRate(ver, layerBits, bitrateIndex);
    if (!sampleRate) return false;
    uint64_t q;
    if (layer == 1) {
        q = 12ull * bitrate / sampleRate;
        if (q) q += padding;
        frameLength = uint32_t(4 * q);
    } else {
        q = 144ull * bitrate / sampleRate;
        if (layer == 3 && ver != 3) q /= 2;
        if (q) q += padding;
        frameLength = uint32_t(q);
    }
    mainDataSize = 0;
    if (layer == 3) {
        uint32_t side = ver == 3 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17);
        uint32_t over = side + (protectionBit ? 0 : 2) + 4;
        mainDataSize = frameLength > over ? frameLength - over : 0;
    }
    valid = frameLength != 0;
    if (layer == 1)
        duration = 3840000000ull / sampleRate;
    else if (layer == 2 || ver == 3)
        duration = 11520000000ull / sampleRate;
    else
        duration = 5760000000ull / sampleRate;
    return valid != 0;
}

const uint8_t* CAudioParserImpl::FindNext() {
    if (len_ < 49) return nullptr;
    const uint32_t last = len_ - 49;
    uint32_t i = pos_;
    while (i <= last) {
        const void* p = std::memchr(data_ + i, 0xFF, last - i + 1);
        if (!p) break;
        uint32_t j = uint32_t(static_cast<const uint8_t*>(p) - data_);
        if ((data_[j + 1] & 0xE0) == 0xE0) {
            hit_ = j;
            pos_ = j + 1;
            return data_ + j;
        }
        i = j + 1;
    }
    if (pos_ < last + 1) pos_ = last + 1;
    return nullptr;
}

namespace {
// Next offset >= from with a sync that decodes, at least 49 bytes from the end.
bool NextFrame(const uint8_t* d, uint32_t len, uint64_t from, uint32_t& at, CFrameHdr& h) {
    for (uint64_t i = from; i + 49 <= len; ++i) {
        if (d[i] == 0xFF && (d[i + 1] & 0xE0) == 0xE0 && h.Parse(d + i, uint32_t(len - i))) {
            at = uint32_t(i);
            return true;
        }
    }
    return false;
}
}  // namespace

int CAudioFormat::Detect(const uint8_t* d, uint32_t len) {
    firstPosition = 0;
    header.Clear();
    uint32_t start = 0;
    CFrameHdr ref;
    uint32_t at = 0;
    while (NextFrame(d, len, start, at, ref)) {
        const uint32_t first = at;
        uint32_t cur = at;
        int matched = 0;
        for (;;) {
            CFrameHdr h;
            uint32_t next = 0;
            if (!NextFrame(d, len, uint64_t(cur) + ref.frameLength, next, h)) return 0;
            if (!h.IsSameFormat(ref)) break;
            ref = h;
            cur = next;
            if (++matched == 6) {
                firstPosition = first;
                header = ref;
                return 1;
            }
        }
        start = first + 1;
    }
    return 0;
}

}  // namespace MAudio

namespace AC3 {

namespace {
constexpr uint8_t kMaxAc3Bsid = 10;  // 9 and 10: the alternate syntax of Annex D
}  // namespace

void CSyncFrame::Clear() {
    crc1 = 0;
    fscod = 0;
    frmsizecod = 0;
    sampleRate = 0;
    frameSize = 0;
    bitrate = 0;
    acmod = 0;
    valid = 0;
}

bool CSyncFrame::Parse(const uint8_t* d, uint32_t len) {
    if (len < 12 || d[0] != 0x0B || d[1] != 0x77) return false;
    byteOrder = 1;
    Clear();
    crc1 = uint16_t((d[2] << 8) | d[3]);
    fscod = d[4] >> 6;
    frmsizecod = d[4] & 63;
    if (fscod == 3 || frmsizecod > 37) return false;
    sampleRate = uint16_t(MpegCommon::Ac3SampleRate(fscod));
    frameSize = uint16_t(2 * MpegCommon::Ac3FrameSizeWords(frmsizecod, fscod));
    bitrate = MpegCommon::Ac3NominalBitRate(frmsizecod) / 1000;
    if (!sampleRate || !frameSize) return false;
    duration = uint32_t(15360000000ull / sampleRate);
    bsid = d[5] >> 3;
    // E-AC-3 (bsid 11 to 16) shares the sync word but not this syntax.
    if (bsid > kMaxAc3Bsid) return false;
    bsmod = d[5] & 7;
    acmod = d[6] >> 5;
    // Remaining BSI fields, MSB first from bit 11 after the start of byte 5.
    uint64_t bits = 0;
    for (int i = 5; i < 12; ++i) bits = (bits << 8) | d[i];
    unsigned at = 11;  // bits consumed of the 56 loaded
    auto take = [&](unsigned n) {
        uint32_t v = uint32_t((bits >> (56 - at - n)) & ((1u << n) - 1));
        at += n;
        return v;
    };
    cmixlev = surmixlev = 0;
    if ((acmod & 1) && acmod != 1) cmixlev = uint8_t(take(2));
    if (acmod & 4)
        surmixlev = uint8_t(take(2));
    else if (acmod == 2)
        take(2);
    lfeon = take(1);
    dialnorm = uint8_t(take(5));
    compre = take(1);
    compr = compre ? uint8_t(take(8)) : 0;
    langcode = take(1);
    langcod = langcode ? uint8_t(take(8)) : 0;
    channels = uint8_t(MpegCommon::Ac3Channels(acmod) + lfeon);
    valid = 1;
    return true;
}

// 0B 77 or 77 0B with at least 12 bytes from it, so that a frame cut by the
// end of a block is found again with the next one.
const uint8_t* CAC3ParserImpl::FindNext() {
    if (len_ < 12) return nullptr;
    const uint32_t last = len_ - 12;
    for (uint32_t i = pos_; i <= last; ++i) {
        if ((data_[i] == 0x0B && data_[i + 1] == 0x77) || (data_[i] == 0x77 && data_[i + 1] == 0x0B)) {
            hit_ = i;
            pos_ = i + 1;
            return data_ + i;
        }
    }
    if (pos_ < last + 1) pos_ = last + 1;
    return nullptr;
}

int DetectAC3::Detect(const uint8_t* d, uint32_t len) {
    resume = len > 100 ? len - 100 : 0;
    matched = 0;
    frame.Clear();
    for (uint32_t i = 0; i + 12 <= len; ++i) {
        // Only stream order (0B 77): the frames that confirm it, and the
        // elements that read the stream later, take no other.
        CSyncFrame ref;
        if (!ref.Parse(d + i, len - i)) continue;
        uint64_t prev = i;
        uint32_t count = 0;
        for (;;) {
            uint64_t next = prev + ref.frameSize;
            if (next + 12 > len) break;
            CSyncFrame f;
            if (!f.Parse(d + next, uint32_t(len - next)) || f.fscod != ref.fscod || f.frmsizecod != ref.frmsizecod)
                break;
            ++count;
            if (count >= 6 || next + 3ull * f.frameSize > len) {
                frame = ref;
                matched = count;
                resume = i;
                return 1;
            }
            prev = next;
        }
    }
    return 0;
}

}  // namespace AC3
