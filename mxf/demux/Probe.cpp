// What open finds in a file: the probe, the header scan (streams, file kind,
// duration), the random index pack and the index table segments. Every
// length taken from the file is checked in 64 bits against the file size.
#include <cstring>
#include <vector>

#include "mxf/demux/Internal.h"

namespace mxfdemux {
namespace {

constexpr uint32_t kPrefix = 0x060E2B34u;
constexpr uint32_t kPartitionFixedBytes = 80;
constexpr uint32_t kLabelLength = 16;
constexpr uint32_t kD10Channels = 8;
constexpr uint32_t kD10Rate = 48000;
constexpr uint32_t kD10Bits = 24;
constexpr int64_t kPartitionSearchBytes = 65536;
constexpr uint32_t kMinIndexEntryLength = 11;
constexpr uint32_t kRipEntryBytes = 12;

enum Tag : uint32_t {
    kTagDuration = 0x0202,
    kTagSampleRate = 0x3001,
    kTagAudioSamplingRate = 0x3D03,
    kTagQuantizationBits = 0x3D01,
    kTagChannelCount = 0x3D07,
    kTagEditUnitByteCount = 0x3F05,
    kTagIndexEntryArray = 0x3F0A,
    kTagIndexStartPosition = 0x3F0C,
    kTagIndexDuration = 0x3F0D,
};

uint32_t Be32(const uint8_t* k) {
    return static_cast<uint32_t>(k[0]) << 24 | static_cast<uint32_t>(k[1]) << 16 | static_cast<uint32_t>(k[2]) << 8 |
           k[3];
}

bool Is(const uint8_t* key, uint32_t w1, uint32_t w2, uint32_t w3) {
    return Be32(key + 4) == w1 && Be32(key + 8) == w2 && Be32(key + 12) == w3;
}

bool IsHeaderPartition(const uint8_t* k) {
    return Be32(k + 4) == 0x02050101 && Be32(k + 8) == 0x0D010201 && k[12] == 0x01 && k[13] == 0x02;
}
bool IsRip(const uint8_t* k) {
    return Is(k, 0x02050101, 0x0D010201, 0x01110100);
}
bool IsSystemPack(const uint8_t* k) {
    return Is(k, 0x02050101, 0x0D010301, 0x04010100);
}
bool IsIndexSegment(const uint8_t* k) {
    return Is(k, 0x02530101, 0x0D010201, 0x01100100);
}
bool IsTimecode(const uint8_t* k) {
    return Is(k, 0x02530101, 0x0D010101, 0x01011400);
}
bool IsAes3Descriptor(const uint8_t* k) {
    return Is(k, 0x02530101, 0x0D010101, 0x01014700);
}
bool IsLocalSet(const uint8_t* k) {
    return k[4] == 0x02 && k[5] == 0x53;
}

// Container labels in the EssenceContainers batch.
bool IsContainerLabel(const uint8_t* l) {
    const uint32_t w1 = Be32(l + 4);
    return Be32(l) == kPrefix && (w1 == 0x04010101 || w1 == 0x04010102) && Be32(l + 8) == 0x0D010301;
}
bool IsMpegEsLabel(const uint8_t* l) {
    return IsContainerLabel(l) && Be32(l + 12) == 0x02046001;
}
bool IsAes3Label(const uint8_t* l) {
    return IsContainerLabel(l) && Be32(l + 12) == 0x02060300;
}
bool IsD10Label(const uint8_t* l) {
    return IsContainerLabel(l) && l[12] == 0x02 && l[13] == 0x01;
}

// Calls f(tag, length, valueStart) for each item of a local set; false when
// the reader failed or f refused.
template <typename F>
bool ForEachTag(Parser* p, int64_t payload, uint64_t len, F f) {
    const int64_t size = p->in->fileSize;
    const int64_t stop = len < static_cast<uint64_t>(size - payload) ? payload + static_cast<int64_t>(len) : size;
    while (Position(p) + 4 <= stop) {
        const uint32_t tag = ReadU16(p);
        const uint32_t tagLen = ReadU16(p);
        const int64_t value = Position(p);
        if (p->error || p->end || value + tagLen > stop) return !p->error;
        if (!f(tag, tagLen, value)) return false;
        if (p->error) return false;
        SkipTo(p, value + tagLen);
    }
    return true;
}

struct HeaderScan {
    bool partitionSeen = false;
    bool durationKnown = false;
    bool mpegPicture = false;
    bool lookForAes3 = false;
    bool d10 = false;
    bool soundKnown = false;
    bool descriptorChannels = false;  // a descriptor's count replaces the default
    bool rateFromAudioSampling = false;
    int32_t bits = 0;
    int32_t rate = 0;
    int32_t channels = 0;
    bool havePicture = false;
    bool haveSound = false;
};

bool ReadPartition(Parser* p, HeaderScan& s, int64_t payload, uint64_t len) {
    const uint64_t fixed = kPartitionFixedBytes + 8;
    if (len < fixed) return false;
    SkipTo(p, payload + kPartitionFixedBytes);
    const uint32_t count = ReadU32(p);
    const uint32_t itemLength = ReadU32(p);
    if (p->error || itemLength != kLabelLength) return false;
    if (static_cast<uint64_t>(count) * kLabelLength > len - fixed) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t label[kLabelLength];
        if (!ReadBytes(p, label, kLabelLength)) return false;
        if (IsMpegEsLabel(label)) s.mpegPicture = true;
        if (IsAes3Label(label)) s.lookForAes3 = true;
        if (IsD10Label(label)) {
            s.d10 = true;
            s.channels = kD10Channels;
            s.rate = kD10Rate;
            s.bits = kD10Bits;
            s.soundKnown = true;
            s.lookForAes3 = true;
        }
    }
    s.partitionSeen = true;
    return true;
}

bool ReadAes3Descriptor(Parser* p, HeaderScan& s, int64_t payload, uint64_t len) {
    const bool ok = ForEachTag(p, payload, len, [&](uint32_t tag, uint32_t tagLen, int64_t) {
        if ((tag == kTagSampleRate || tag == kTagAudioSamplingRate) && tagLen >= 8) {
            const uint32_t num = ReadU32(p);
            const uint32_t den = ReadU32(p);
            // The audio sampling rate wins over the container's edit rate.
            const bool take = tag == kTagAudioSamplingRate || !s.rateFromAudioSampling;
            if (den != 0 && take) s.rate = static_cast<int32_t>(num / den);
            if (den != 0 && tag == kTagAudioSamplingRate) s.rateFromAudioSampling = true;
        } else if (tag == kTagQuantizationBits && tagLen >= 4) {
            s.bits = static_cast<int32_t>(ReadU32(p));
        } else if (tag == kTagChannelCount && tagLen >= 4) {
            const int32_t n = static_cast<int32_t>(ReadU32(p));
            s.channels = s.descriptorChannels ? s.channels + n : n;
            s.descriptorChannels = true;
        }
        return true;
    });
    s.soundKnown = true;
    return ok;
}

void AddStream(Instance* in, int32_t kind, int32_t itemType, const HeaderScan* sound) {
    StreamInfo& st = in->streams[in->info.streamCount++];
    st = StreamInfo{};
    st.kind = kind;
    st.itemType = itemType;
    if (sound) {
        st.bitsPerSample = sound->bits;
        st.sampleRate = sound->rate;
        st.channels = sound->channels;
    }
}

bool ParseHeader(Parser* p) {
    Instance* in = p->in;
    HeaderScan s;
    in->info.streamCount = 0;
    Reposition(p, 0);
    while (!(s.havePicture && s.haveSound)) {
        uint8_t key[16];
        uint64_t len = 0;
        int64_t keyPos = 0;
        if (!NextKey(p, key, &len, &keyPos)) break;
        const int64_t payload = Position(p);
        if (!s.durationKnown) {
            if (IsHeaderPartition(key)) {
                if (!ReadPartition(p, s, payload, len)) return false;
            } else if (s.partitionSeen && IsTimecode(key)) {
                ForEachTag(p, payload, len, [&](uint32_t tag, uint32_t tagLen, int64_t) {
                    if (tag == kTagDuration && tagLen >= 8) {
                        in->info.duration = static_cast<int64_t>(ReadU64(p));
                        s.durationKnown = true;
                    }
                    return true;
                });
            }
        } else if (Be32(key + 4) >> 8 == 0x010201 && Be32(key + 8) == 0x0D010301) {
            const uint8_t itemType = key[12];
            if (s.soundKnown && !s.haveSound && itemType == 0x16 && key[14] == 0x03) {
                AddStream(in, kGenericSound, itemType, &s);
                s.haveSound = true;
            } else if (s.soundKnown && !s.haveSound && itemType == 0x06) {
                AddStream(in, kD10Sound, itemType, &s);
                s.haveSound = true;
            } else if (!s.havePicture && ((s.mpegPicture && itemType == 0x15) || (s.d10 && itemType == 0x05))) {
                AddStream(in, kPicture, itemType, nullptr);
                s.havePicture = true;
            }
        } else if (s.lookForAes3 && IsAes3Descriptor(key)) {
            if (!ReadAes3Descriptor(p, s, payload, len)) return false;
        } else if (IsLocalSet(key) && s.d10 && IsIndexSegment(key)) {
            ForEachTag(p, payload, len, [&](uint32_t tag, uint32_t tagLen, int64_t) {
                if (tag == kTagEditUnitByteCount && tagLen >= 4) in->info.editUnitByteCount = ReadU32(p);
                return true;
            });
        }
        if (p->error) return false;
        SkipValue(p, payload, len);
    }
    if (p->error) return false;
    in->info.fileKind = s.d10 ? kD10File : kGenericFile;
    return true;
}

// One index table segment: where its entries are and what it says.
struct Segment {
    int64_t entries = -1;
    uint32_t count = 0;
    uint32_t length = 0;
    uint64_t start = 0;
    uint64_t duration = 0;
};

bool ReadSegment(Parser* p, int64_t payload, uint64_t len, Segment* seg) {
    return ForEachTag(p, payload, len, [&](uint32_t tag, uint32_t tagLen, int64_t value) {
        if (tag == kTagIndexStartPosition && tagLen >= 8) seg->start = ReadU64(p);
        if (tag == kTagIndexDuration && tagLen >= 8) seg->duration = ReadU64(p);
        if (tag == kTagIndexEntryArray && tagLen >= 8) {
            seg->count = ReadU32(p);
            seg->length = ReadU32(p);
            seg->entries = value + 8;
            // The entries must lie inside the item.
            if (static_cast<uint64_t>(seg->count) * seg->length > tagLen - 8u) return false;
        }
        return true;
    });
}

// Searches the first 64 KiB after `from` for a KLV that `want` accepts.
template <typename W>
bool FindNear(Parser* p, int64_t from, W want, uint8_t key[16], uint64_t* len, int64_t* keyPos) {
    Reposition(p, from);
    while (NextKey(p, key, len, keyPos)) {
        if (*keyPos - from >= kPartitionSearchBytes) return false;
        if (want(key)) return true;
        SkipValue(p, Position(p), *len);
    }
    return false;
}

uint64_t StreamOffset(const uint8_t* e) {
    uint64_t v = 0;
    for (int i = 3; i < 11; ++i) v = v << 8 | e[i];
    return v;
}

void SetStreamOffset(uint8_t* e, uint64_t v) {
    for (int i = 10; i >= 3; --i) {
        e[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

// Rebases `count` entries of `length` bytes so the first lands on `target`.
void RebaseEntries(uint8_t* entries, uint32_t count, uint32_t length, int64_t target) {
    if (count == 0) return;
    const uint64_t delta = static_cast<uint64_t>(target) - StreamOffset(entries);
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t* e = entries + i * length;
        SetStreamOffset(e, StreamOffset(e) + delta);
    }
}

// Copies the segments' entries, each rebased to its partition's first
// system item; false leaves the file without an index.
bool GatherIndex(Parser* p, const std::vector<Segment>& segs, const std::vector<int64_t>& targets) {
    Instance* in = p->in;
    uint64_t total = 0;
    uint32_t length = 0;
    for (const Segment& s : segs) {
        if (s.count == 0) continue;
        if (s.length < kMinIndexEntryLength || (length && s.length != length)) return false;
        length = s.length;
        total += s.count;
    }
    if (total == 0) return false;
    const uint64_t bytes = total * length;
    if (bytes > static_cast<uint64_t>(in->fileSize) || total > INT32_MAX) return false;
    uint8_t* buf = static_cast<uint8_t*>(Alloc(in, static_cast<size_t>(bytes)));
    if (!buf) return false;
    uint64_t at = 0;
    for (size_t k = 0; k < segs.size(); ++k) {
        const Segment& s = segs[k];
        if (s.count == 0) continue;
        const uint32_t n = s.count * s.length;
        Reposition(p, s.entries);
        if (targets[k] < 0 || !ReadBytes(p, buf + at, n)) {
            Release(in, buf);
            return false;
        }
        RebaseEntries(buf + at, s.count, s.length, targets[k]);
        at += n;
    }
    in->index = buf;
    in->info.index = buf;
    in->info.indexCount = static_cast<int32_t>(total);
    in->info.indexEntryLength = static_cast<int32_t>(length);
    return true;
}

// The footer's segments, rebased segment k to body partition k + 1. False
// when the footer holds no usable index (the caller then tries per partition).
bool ReadFooterIndex(Parser* p, bool* abandoned) {
    Instance* in = p->in;
    std::vector<Segment> segs;
    std::vector<int64_t> targets;
    Reposition(p, static_cast<int64_t>(in->rip[in->ripCount - 1].byteOffset));
    uint8_t key[16];
    uint64_t len = 0;
    int64_t keyPos = 0;
    uint64_t counted = 0;
    while (NextKey(p, key, &len, &keyPos)) {
        const int64_t payload = Position(p);
        if (IsIndexSegment(key)) {
            Segment s;
            if (!ReadSegment(p, payload, len, &s)) return false;
            if (s.start != 0 && counted == 0) {
                *abandoned = true;
                return false;
            }
            if (s.count) {
                const size_t k = targets.size();
                targets.push_back(k + 1 < in->ripCount - 1 ? in->rip[k + 1].firstSystemItem : -1);
                segs.push_back(s);
                counted += s.count;
            }
        }
        SkipValue(p, payload, len);
    }
    if (p->error) return false;
    return GatherIndex(p, segs, targets);
}

// Each partition's segment, found near its start, indexes the partition before.
bool ReadPartitionIndexes(Parser* p) {
    Instance* in = p->in;
    std::vector<Segment> segs;
    std::vector<int64_t> targets;
    for (uint32_t j = 2; j < in->ripCount; ++j) {
        uint8_t key[16];
        uint64_t len = 0;
        int64_t keyPos = 0;
        if (!FindNear(p, static_cast<int64_t>(in->rip[j].byteOffset), IsIndexSegment, key, &len, &keyPos)) continue;
        Segment s;
        if (!ReadSegment(p, Position(p), len, &s)) return false;
        if (s.count == 0) continue;
        segs.push_back(s);
        targets.push_back(in->rip[j - 1].firstSystemItem);
    }
    return GatherIndex(p, segs, targets);
}

bool ReadRip(Parser* p) {
    Instance* in = p->in;
    const int64_t size = in->fileSize;
    if (size < 4) return false;
    Reposition(p, size - 4);
    const uint32_t overall = ReadU32(p);
    if (p->error || overall > size || overall < 20) return false;
    Reposition(p, size - overall);
    uint8_t key[16];
    uint64_t len = 0;
    int64_t keyPos = 0;
    if (!NextKey(p, key, &len, &keyPos) || keyPos != size - overall || !IsRip(key)) return false;
    const int64_t payload = Position(p);
    if (len < 4 || len > static_cast<uint64_t>(size - payload)) return false;
    const uint64_t count = (len - 4) / kRipEntryBytes;
    if (count <= 2) return false;
    in->rip = static_cast<RipEntry*>(Alloc(in, static_cast<size_t>(count * sizeof(RipEntry))));
    if (!in->rip) return false;
    in->ripCount = static_cast<uint32_t>(count);
    for (uint32_t i = 0; i < count; ++i) {
        RipEntry& e = in->rip[i];
        e = RipEntry{};
        e.bodySid = ReadU32(p);
        e.byteOffset = ReadU64(p);
        if (p->error || e.byteOffset >= static_cast<uint64_t>(size)) return false;
    }
    for (uint32_t i = 1; i + 1 < count; ++i) {
        uint64_t klvLen = 0;
        int64_t at = 0;
        if (FindNear(p, static_cast<int64_t>(in->rip[i].byteOffset), IsSystemPack, key, &klvLen, &at))
            in->rip[i].firstSystemItem = at;
    }
    return true;
}

void ReadIndex(Parser* p) {
    if (!ReadRip(p)) return;
    bool abandoned = false;
    if (!ReadFooterIndex(p, &abandoned) && abandoned) (void)ReadPartitionIndexes(p);
}

// The first three KLVs must follow each other from offset 0.
bool LooksLikeMxf(Parser* p) {
    Reposition(p, 0);
    for (int i = 0; i < 3; ++i) {
        const int64_t at = Position(p);
        if (ReadU32(p) != kPrefix || p->end || p->error) return false;
        if (i == 2) return true;
        uint8_t rest[12];
        if (!ReadBytes(p, rest, sizeof rest)) return false;
        const uint64_t len = ReadBer(p);
        if (p->error || p->end) return false;
        SkipValue(p, Position(p), len);
        if (p->end || Position(p) <= at) return false;
    }
    return true;
}

}  // namespace

int ProbeFile(Instance* in) {
    ParserSettings settings{};
    Parser* p = CreateParser(in, settings);
    if (!p) return kFail;
    bool ok = LooksLikeMxf(p) && ParseHeader(p);
    if (ok && in->info.fileKind == kGenericFile) ReadIndex(p);
    DestroyParser(p);
    return ok ? kOk : kFail;
}

}  // namespace mxfdemux
