// The WAV input: walks the RIFF chunks for the PCM format and the data, then
// packs one video frame's worth of samples per unit.
#include "mxf/mux/WavInput.h"
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/FileIo.h"
#include "mxf/mux/FrameTables.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

using mexora::kFrameCycle;

constexpr uint32_t kHeaderBytes = 8;  // the stream header in front of the units
constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr uint32_t kExtensibleFmtBytes = 40;
// The KSDATAFORMAT_SUBTYPE_PCM GUID after its first two bytes.
constexpr uint8_t kPcmGuidTail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
constexpr uint32_t kAes3FrameBlock = 192;  // channel-status block: sample 0 of every 192 is marked
constexpr uint32_t kHdmvSamples = 240;
constexpr uint32_t kWordsPerSample = 8;  // 331M: eight 4-byte channel words
constexpr size_t kFileReadAhead = 256 * 1024;

struct Format {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;       // container bits per sample
    uint16_t validBits = 0;  // significant bits
};

struct WavState {
    FILE* file = nullptr;
    std::vector<char> fileBuffer;  // the file's read-ahead, closed before it goes
    int64_t fileSize = 0;
    int64_t dataLeft = 0;  // bytes of the data chunk not yet read
    Format fmt;
    int form = 0;
    int rateCode = 0;
    uint32_t bytesPerSample = 0;  // in the file
    uint32_t samples[kFrameCycle] = {};
    uint32_t unitSize[kFrameCycle] = {};
    uint32_t readSize[kFrameCycle] = {};
    int frame = 0;  // frame of the next unit produced
    std::vector<uint8_t> unit;
    uint32_t unitOffset = 0, unitLength = 0;
    std::vector<uint8_t> raw;
    bool ended = false;
    // delivery
    std::vector<uint8_t> buffer;
    uint32_t offset = 0, fill = 0;
    int64_t position = 0;  // bytes delivered
};

WavState* Wav(bufstream* bs) {
    return static_cast<WavState*>(bs->state);
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// 20-bit samples sit in three bytes.
uint32_t ContainerBytes(uint16_t bits) {
    return (bits + 7u) / 8u;
}

uint32_t WidthCode(uint16_t bits) {
    return bits == 16 ? 0 : (bits == 20 ? 1 : 2);
}

// Finds "fmt " and "data"; unknown chunks are skipped.
bool ReadChunks(WavState* s) {
    uint8_t riff[12];
    if (std::fread(riff, 1, 12, s->file) != 12) return false;
    if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;
    bool haveFmt = false;
    int64_t at = 12;
    for (;;) {
        uint8_t head[8];
        if (!mexora::SeekTo(s->file, at) || std::fread(head, 1, 8, s->file) != 8) return false;
        const uint32_t size = Le32(head + 4);
        at += 8;
        if (std::memcmp(head, "fmt ", 4) == 0) {
            if (size < 16) return false;
            uint8_t f[kExtensibleFmtBytes] = {};
            const uint32_t want = std::min(size, kExtensibleFmtBytes);
            if (std::fread(f, 1, want, s->file) != want) return false;
            s->fmt.tag = Le16(f);
            s->fmt.channels = Le16(f + 2);
            s->fmt.rate = Le32(f + 4);
            s->fmt.blockAlign = Le16(f + 12);
            s->fmt.bits = Le16(f + 14);
            s->fmt.validBits = s->fmt.bits;
            if (s->fmt.tag == kTagExtensible) {
                if (size < kExtensibleFmtBytes || Le16(f + 24) != kTagPcm ||
                    std::memcmp(f + 26, kPcmGuidTail, sizeof kPcmGuidTail) != 0)
                    return false;
                if (Le16(f + 18) != 0) s->fmt.validBits = Le16(f + 18);
            } else if (s->fmt.tag != kTagPcm) {
                return false;
            }
            haveFmt = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFmt) return false;
            const int64_t rest = s->fileSize - at;
            // A streamed file leaves the size open: read to the end.
            s->dataLeft = (size == 0 || size == 0xFFFFFFFFu || size > rest) ? rest : size;
            return mexora::SeekTo(s->file, at);
        }
        at += size + (size & 1u);  // chunks are padded to even sizes
    }
}

bool FormFits(const WavState* s) {
    const Format& f = s->fmt;
    if (f.rate != mexora::kAudioRate) return false;  // the tables are 48 kHz ones
    if (f.channels < 1 || f.channels > 8) return false;
    if (f.bits != 16 && f.bits != 20 && f.bits != 24) return false;
    if (f.validBits != 16 && f.validBits != 20 && f.validBits != 24) return false;
    if (f.blockAlign != f.channels * ContainerBytes(f.bits)) return false;
    switch (s->form) {
        case WAV_FORM_LPCM:
            return f.bits == 16 && f.channels <= 2;
        case WAV_FORM_HDMV:
            return f.channels % 2 == 0;
        case WAV_FORM_331M:
            return ContainerBytes(f.bits) == 3;
        case WAV_FORM_PLANAR:
            return true;
        default:
            return false;
    }
}

void WriteStreamHeader(WavState* s) {
    uint8_t h[kHeaderBytes] = {};
    const uint32_t width = WidthCode(s->fmt.validBits);
    const uint32_t chans = s->fmt.channels - 1u;
    if (s->form == WAV_FORM_LPCM) {
        std::memcpy(h, "LPCM", 4);
        h[4] = static_cast<uint8_t>((width << 5) | (chans << 2));
        h[5] = 0x80;
    } else if (s->form == WAV_FORM_HDMV) {
        std::memcpy(h, "HDMV", 4);
        h[4] = 13;
        h[5] = static_cast<uint8_t>((width << 3) | chans);
    } else {
        std::memcpy(h, "AES3", 4);
        h[4] = s->form == WAV_FORM_331M ? 11 : 12;
        h[5] = static_cast<uint8_t>(((s->rateCode - 1) << 5) | (width << 3) | chans);
    }
    std::memcpy(s->buffer.data(), h, kHeaderBytes);
    s->fill = kHeaderBytes;
}

void ComputeTables(WavState* s) {
    const uint32_t ch = s->fmt.channels;
    const uint32_t fileFrame = s->bytesPerSample * ch;
    for (int i = 0; i < kFrameCycle; i++) {
        const uint32_t n = s->form == WAV_FORM_HDMV ? kHdmvSamples : mexora::SamplesPerFrame(s->rateCode, i);
        s->samples[i] = n;
        s->readSize[i] = n * fileFrame;
        switch (s->form) {
            case WAV_FORM_331M:
                s->unitSize[i] = 4 + n * kWordsPerSample * 4;
                break;
            case WAV_FORM_HDMV:
                s->unitSize[i] = 4 + n * fileFrame;
                break;
            default:
                s->unitSize[i] = n * fileFrame;
                break;
        }
    }
}

uint8_t HdmvAssignment(uint32_t channels) {
    switch (channels) {
        case 2:
            return 3;
        case 4:
            return 7;
        case 6:
            return 9;
        default:
            return 11;
    }
}

// Copies the samples of channel k of an interleaved run of n samples to
// out[k * n * bps ...]; each sample width gets a loop of its own.
template <uint32_t kBytes>
void DeinterleaveChannel(const uint8_t* in, uint8_t* out, uint32_t n, uint32_t ch, uint32_t k) {
    const uint8_t* src = in + k * kBytes;
    const size_t step = size_t{ch} * kBytes;
    for (uint32_t j = 0; j < n; j++, src += step, out += kBytes) std::memcpy(out, src, kBytes);
}

void PackPlanar(const uint8_t* in, uint8_t* out, uint32_t n, uint32_t ch, uint32_t bps) {
    if (ch == 1) {
        std::memcpy(out, in, size_t{n} * bps);  // one channel is already planar
        return;
    }
    for (uint32_t k = 0; k < ch; k++) {
        uint8_t* dst = out + size_t{k} * n * bps;
        switch (bps) {
            case 2:
                DeinterleaveChannel<2>(in, dst, n, ch, k);
                break;
            case 3:
                DeinterleaveChannel<3>(in, dst, n, ch, k);
                break;
            case 4:
                DeinterleaveChannel<4>(in, dst, n, ch, k);
                break;
            default:
                for (uint32_t j = 0; j < n; j++) std::memcpy(dst + j * bps, in + (j * ch + k) * bps, bps);
                break;
        }
    }
}

void Pack(WavState* s, int frame) {
    const uint32_t n = s->samples[frame];
    const uint32_t ch = s->fmt.channels;
    const uint32_t bps = s->bytesPerSample;
    const uint8_t* in = s->raw.data();
    uint8_t* out = s->unit.data();
    switch (s->form) {
        case WAV_FORM_PLANAR:
            PackPlanar(in, out, n, ch, bps);
            break;
        case WAV_FORM_331M: {
            const bool cycled = s->rateCode == 4 || s->rateCode == 7;
            out[0] = static_cast<uint8_t>(cycled ? frame + 1 : 0);
            out[1] = static_cast<uint8_t>(n & 0xFF);
            out[2] = static_cast<uint8_t>(n >> 8);
            out[3] = static_cast<uint8_t>((1u << ch) - 1u);  // one valid bit per channel
            uint8_t* w = out + 4;
            for (uint32_t j = 0; j < n; j++) {
                for (uint32_t k = 0; k < kWordsPerSample; k++, w += 4) {
                    if (k >= ch) {
                        std::memset(w, 0, 4);
                        continue;
                    }
                    const uint8_t* b = in + (j * ch + k) * bps;
                    const bool blockStart = k == 0 && j % kAes3FrameBlock == 0;
                    w[0] = static_cast<uint8_t>((b[0] & 0xF0) | k | (blockStart ? 0x08 : 0));
                    w[1] = b[1];
                    w[2] = b[2];
                    w[3] = 0;
                }
            }
            break;
        }
        case WAV_FORM_HDMV: {
            const uint32_t len = s->unitSize[frame] - 4;
            out[0] = static_cast<uint8_t>(len >> 8);
            out[1] = static_cast<uint8_t>(len & 0xFF);
            out[2] = static_cast<uint8_t>((HdmvAssignment(ch) << 4) | 1);
            out[3] = static_cast<uint8_t>((s->fmt.validBits == 16 ? 1 : (s->fmt.validBits == 20 ? 2 : 3)) << 6);
            std::memcpy(out + 4, in, len);
            break;
        }
        default:  // LPCM: every 16-bit sample with its bytes exchanged
            for (uint32_t i = 0; i + 1 < s->readSize[frame]; i += 2) {
                out[i] = in[i + 1];
                out[i + 1] = in[i];
            }
            break;
    }
}

// Makes the next unit current; false at the end of the audio.
bool ProduceUnit(WavState* s) {
    if (s->ended) return false;
    const uint32_t want = s->readSize[s->frame];
    const uint32_t take = static_cast<uint32_t>(std::min<int64_t>(want, s->dataLeft));
    const uint32_t got = take ? static_cast<uint32_t>(std::fread(s->raw.data(), 1, take, s->file)) : 0;
    s->dataLeft -= got;
    if (got == 0) {
        s->ended = true;
        return false;
    }
    std::memset(s->raw.data() + got, 0, want - got);  // a partial last frame is padded with silence
    Pack(s, s->frame);
    s->unitOffset = 0;
    s->unitLength = s->unitSize[s->frame];
    s->frame = (s->frame + 1) % kFrameCycle;
    return true;
}

// Copies up to n unit bytes to p; the count.
uint32_t PullUnits(WavState* s, uint8_t* p, uint32_t n) {
    uint32_t got = 0;
    while (got < n) {
        if (s->unitOffset == s->unitLength && !ProduceUnit(s)) break;
        const uint32_t c = std::min(n - got, s->unitLength - s->unitOffset);
        std::memcpy(p + got, s->unit.data() + s->unitOffset, c);
        s->unitOffset += c;
        got += c;
    }
    return got;
}

uint32_t BUFSTREAM_CALL WavAvailable(bufstream* bs) {
    WavState* s = Wav(bs);
    return s ? s->fill - s->offset : 0;
}

uint8_t* BUFSTREAM_CALL WavRequest(bufstream* bs, uint32_t n) {
    WavState* s = Wav(bs);
    if (!s) return nullptr;
    if (s->fill - s->offset >= n) return s->buffer.data() + s->offset;
    const uint32_t capacity = static_cast<uint32_t>(s->buffer.size());
    if (n > capacity) return nullptr;
    if (s->offset == s->fill) s->offset = s->fill = 0;
    if (s->offset + n > capacity) {
        std::memmove(s->buffer.data(), s->buffer.data() + s->offset, s->fill - s->offset);
        s->fill -= s->offset;
        s->offset = 0;
    }
    s->fill += PullUnits(s, s->buffer.data() + s->fill, capacity - s->fill);
    return s->fill - s->offset >= n ? s->buffer.data() + s->offset : nullptr;
}

uint32_t BUFSTREAM_CALL WavCommit(bufstream* bs, uint32_t n) {
    WavState* s = Wav(bs);
    if (!s) return 0;
    if (n > s->fill - s->offset) n = s->fill - s->offset;
    s->offset += n;
    s->position += n;
    return n;
}

uint32_t BUFSTREAM_CALL WavCopy(bufstream* bs, uint8_t* p, uint32_t n) {
    WavState* s = Wav(bs);
    if (!s || !p) return 0;
    const uint32_t buffered = std::min(n, s->fill - s->offset);
    std::memcpy(p, s->buffer.data() + s->offset, buffered);
    s->offset += buffered;
    const uint32_t got = buffered + PullUnits(s, p + buffered, n - buffered);
    s->position += got;
    return got;
}

uint32_t BUFSTREAM_CALL WavBufferSize(bufstream* bs) {
    WavState* s = Wav(bs);
    return s ? static_cast<uint32_t>(s->buffer.size()) : 0;
}

int32_t BUFSTREAM_CALL WavInfo(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t size) {
    WavState* s = Wav(bs);
    if (!s || !data || size != 8) return 0;
    if (id == BS_INFO_POSITION) std::memcpy(data, &s->position, 8);
    if (id == BS_INFO_FILE_SIZE) std::memcpy(data, &s->fileSize, 8);
    return 0;
}

int32_t BUFSTREAM_CALL WavSplit(bufstream*) {
    return -1;
}

int32_t BUFSTREAM_CALL WavDone(bufstream* bs, int32_t) {
    WavState* s = Wav(bs);
    if (!s) return 0;
    const int closed = s->file ? std::fclose(s->file) : 0;
    delete s;
    bs->state = nullptr;
    return closed == 0 ? 0 : -1;
}

bool Open(WavState* s, const char* name, uint32_t bufferSize) {
    s->file = std::fopen(name, "rb");
    if (!s->file) return false;
    // A frame's samples are a few kilobytes: read ahead in large pieces
    // (without the larger buffer the default one serves, only slower).
    s->fileBuffer.resize(kFileReadAhead);
    (void)std::setvbuf(s->file, s->fileBuffer.data(), _IOFBF, s->fileBuffer.size());
    s->fileSize = mexora::FileSizeOf(s->file);
    if (s->fileSize < 0 || !ReadChunks(s) || !FormFits(s)) return false;
    s->bytesPerSample = ContainerBytes(s->fmt.bits);
    ComputeTables(s);
    uint32_t largest = 0;
    for (uint32_t u : s->unitSize) largest = std::max(largest, u);
    s->buffer.assign(std::max(bufferSize, kHeaderBytes), 0);
    s->unit.assign(largest, 0);
    s->raw.assign(*std::max_element(s->readSize, s->readSize + kFrameCycle), 0);
    WriteStreamHeader(s);
    return true;
}

}  // namespace

extern "C" {

bufstream* bs_wav_open(const char* name, uint32_t buffer_size, const uint8_t* options) {
    if (!name || !options) return nullptr;
    const int form = options[0], code = options[1];
    if (form > WAV_FORM_PLANAR || form == WAV_FORM_302M || code < 1 || code > 8) return nullptr;
    bufstream* bs = static_cast<bufstream*>(std::calloc(1, sizeof(bufstream)));
    if (!bs) return nullptr;
    WavState* s = new (std::nothrow) WavState;
    if (!s) {
        std::free(bs);
        return nullptr;
    }
    s->form = form;
    s->rateCode = code;
    bs->bytes_available = WavAvailable;
    bs->request = WavRequest;
    bs->commit = WavCommit;
    bs->copy_bytes = WavCopy;
    bs->buffer_size = WavBufferSize;
    bs->info = WavInfo;
    bs->split = WavSplit;
    bs->done = WavDone;
    bs->free = bufstream_free;
    bs->state = s;
    bool ok = false;
    try {
        ok = Open(s, name, buffer_size);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        bs->free(bs);
        return nullptr;
    }
    return bs;
}

uint32_t bs_wav_next_unit_size(bufstream* bs) {
    WavState* s = bs ? Wav(bs) : nullptr;
    if (!s || s->position < kHeaderBytes) return 0;
    // Units are produced ahead of delivery: find the unit at the delivery point.
    uint64_t delivered = static_cast<uint64_t>(s->position - kHeaderBytes);
    uint64_t cycle = 0;
    for (uint32_t u : s->unitSize) cycle += u;
    delivered %= cycle;
    for (int i = 0; i < kFrameCycle; i++) {
        if (delivered < s->unitSize[i]) return s->unitSize[i];
        delivered -= s->unitSize[i];
    }
    return s->unitSize[0];
}

}  // extern "C"
