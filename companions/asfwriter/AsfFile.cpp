#include "companions/asfwriter/AsfFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace asfstandin {

namespace {

struct Guid {
    std::uint32_t d1;
    std::uint16_t d2;
    std::uint16_t d3;
    std::uint8_t d4[8];
};

const Guid kHeaderObject = {0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const Guid kDataObject = {0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
const Guid kSimpleIndexObject = {0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
const Guid kFilePropertiesObject = {0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kStreamPropertiesObject = {0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kHeaderExtensionObject = {0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kReserved1 = {0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
const Guid kExtendedStreamPropertiesObject = {
    0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};
const Guid kStreamBitratePropertiesObject = {
    0x7BF875CE, 0x468D, 0x11D1, {0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2}};
const Guid kAudioMedia = {0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
const Guid kVideoMedia = {0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
const Guid kNoErrorCorrection = {0x20FB5700, 0x5B55, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};

const std::uint32_t kFlagBroadcast = 0x01;
const std::uint32_t kFlagSeekable = 0x02;
const std::uint16_t kPcmTag = 1;
const std::uint32_t kBitmapHeaderSize = 40;
const std::int64_t kHundredNsPerMs = 10000;

// Packet layout: error correction (3), length type flags, property flags,
// padding length (WORD), send time (DWORD), duration (WORD); then one
// payload: stream number, object number (BYTE), offset (DWORD), replicated
// data length (BYTE) and 8 bytes of it (object size, presentation time).
const std::uint8_t kErrorCorrectionFlags = 0x82;
const std::uint8_t kLengthTypeFlags = 0x10;  // one payload, padding length as WORD
const std::uint8_t kPropertyFlags = 0x5D;    // replicated BYTE, offset DWORD, object BYTE, stream BYTE
const std::uint8_t kKeyFrame = 0x80;
const std::size_t kPacketHeaderSize = 13;
const std::size_t kPayloadHeaderSize = 15;
const std::size_t kPayloadCapacity = kAsfPacketSize - kPacketHeaderSize - kPayloadHeaderSize;

class Bytes {
public:
    std::vector<std::uint8_t> v;
    void U8(std::uint32_t x) { v.push_back(static_cast<std::uint8_t>(x)); }
    void U16(std::uint32_t x) {
        for (int i = 0; i < 2; ++i) U8(x >> (8 * i));
    }
    void U32(std::uint32_t x) {
        for (int i = 0; i < 4; ++i) U8(x >> (8 * i));
    }
    void U64(std::uint64_t x) {
        for (int i = 0; i < 8; ++i) U8(static_cast<std::uint32_t>(x >> (8 * i)));
    }
    void G(const Guid& g) {
        U32(g.d1);
        U16(g.d2);
        U16(g.d3);
        for (std::uint8_t b : g.d4) U8(b);
    }
    void Raw(const std::uint8_t* p, std::size_t n) { v.insert(v.end(), p, p + n); }
    void Append(const Bytes& other) { v.insert(v.end(), other.v.begin(), other.v.end()); }
    // An object: its GUID, its 64-bit size, then the body.
    void Object(const Guid& g, const Bytes& body) {
        G(g);
        U64(24 + body.v.size());
        Append(body);
    }
};

std::uint32_t FrameBytes(const AsfStream& s) {
    return static_cast<std::uint32_t>(s.width) * static_cast<std::uint32_t>(s.height) * 3;
}

Bytes TypeSpecific(const AsfStream& s) {
    Bytes t;
    if (s.audio) {
        const std::uint32_t blockAlign = static_cast<std::uint32_t>(s.channels) * 2;
        t.U16(kPcmTag);
        t.U16(static_cast<std::uint32_t>(s.channels));
        t.U32(static_cast<std::uint32_t>(s.samplesPerSec));
        t.U32(static_cast<std::uint32_t>(s.samplesPerSec) * blockAlign);
        t.U16(blockAlign);
        t.U16(16);
        t.U16(0);  // no extra format bytes
        return t;
    }
    t.U32(static_cast<std::uint32_t>(s.width));
    t.U32(static_cast<std::uint32_t>(s.height));
    t.U8(2);  // reserved flags
    t.U16(kBitmapHeaderSize);
    t.U32(kBitmapHeaderSize);
    t.U32(static_cast<std::uint32_t>(s.width));
    t.U32(static_cast<std::uint32_t>(s.height));
    t.U16(1);   // planes
    t.U16(24);  // bits per pixel
    t.U32(0);   // BI_RGB
    t.U32(FrameBytes(s));
    t.U32(0);
    t.U32(0);
    t.U32(0);
    t.U32(0);
    return t;
}

}  // namespace

AsfFileWriter::AsfFileWriter(ByteSink& sink, std::vector<AsfStream> streams, const FileId& fileId)
    : sink_(sink), streams_(std::move(streams)), fileId_(fileId), objectNumbers_(64, 0) {}

const AsfStream* AsfFileWriter::Find(int number) const {
    for (const AsfStream& s : streams_)
        if (s.number == number) return &s;
    return nullptr;
}

std::vector<std::uint8_t> AsfFileWriter::Header(bool finished) const {
    const std::uint64_t dataSize = 50 + packets_ * kAsfPacketSize;
    const std::uint64_t indexSize = finished && !index_.empty() ? 56 + 6 * index_.size() : 0;
    std::uint32_t maxBitrate = 0;
    for (const AsfStream& s : streams_) maxBitrate += s.bitrate;

    Bytes file;
    for (std::uint8_t b : fileId_) file.U8(b);
    file.U64(finished ? headerSize_ + dataSize + indexSize : 0);
    file.U64(0);  // creation date
    file.U64(finished ? packets_ : 0);
    file.U64(finished ? endMs_ * kHundredNsPerMs : 0);  // play duration (no preroll)
    file.U64(finished ? endMs_ * kHundredNsPerMs : 0);  // send duration
    file.U64(0);                                        // preroll, ms
    file.U32(finished ? kFlagSeekable : kFlagBroadcast);
    file.U32(kAsfPacketSize);
    file.U32(kAsfPacketSize);
    file.U32(maxBitrate);

    Bytes objects;
    objects.Object(kFilePropertiesObject, file);
    for (const AsfStream& s : streams_) {
        const Bytes specific = TypeSpecific(s);
        Bytes stream;
        stream.G(s.audio ? kAudioMedia : kVideoMedia);
        stream.G(kNoErrorCorrection);
        stream.U64(0);  // time offset
        stream.U32(static_cast<std::uint32_t>(specific.v.size()));
        stream.U32(0);  // no error correction data
        stream.U16(static_cast<std::uint32_t>(s.number));
        stream.U32(0);
        stream.Append(specific);
        objects.Object(kStreamPropertiesObject, stream);
    }
    Bytes extensions;
    for (const AsfStream& s : streams_) {
        Bytes ext;
        ext.U64(0);  // start time
        ext.U64(finished ? endMs_ : 0);
        ext.U32(s.bitrate);
        ext.U32(0);  // buffer size, ms
        ext.U32(0);  // initial buffer fullness
        ext.U32(s.bitrate);
        ext.U32(0);
        ext.U32(0);
        ext.U32(finished ? largestObject_ : 0);
        ext.U32(0);  // flags
        ext.U16(static_cast<std::uint32_t>(s.number));
        ext.U16(0);  // language index
        ext.U64(s.audio ? 0 : static_cast<std::uint64_t>(s.timePerFrame));
        ext.U16(0);  // stream names
        ext.U16(0);  // payload extension systems
        extensions.Object(kExtendedStreamPropertiesObject, ext);
    }
    Bytes extension;
    extension.G(kReserved1);
    extension.U16(6);
    extension.U32(static_cast<std::uint32_t>(extensions.v.size()));
    extension.Append(extensions);
    objects.Object(kHeaderExtensionObject, extension);
    Bytes bitrates;
    bitrates.U16(static_cast<std::uint32_t>(streams_.size()));
    for (const AsfStream& s : streams_) {
        bitrates.U16(static_cast<std::uint32_t>(s.number));
        bitrates.U32(s.bitrate);
    }
    objects.Object(kStreamBitratePropertiesObject, bitrates);

    Bytes header;
    header.U32(static_cast<std::uint32_t>(streams_.size()) + 3);
    header.U8(1);
    header.U8(2);
    header.Append(objects);
    Bytes out;
    out.Object(kHeaderObject, header);
    return out.v;
}

std::vector<std::uint8_t> AsfFileWriter::DataObjectHeader() const {
    Bytes d;
    d.G(kDataObject);
    d.U64(50 + packets_ * kAsfPacketSize);
    for (std::uint8_t b : fileId_) d.U8(b);
    d.U64(packets_);
    d.U16(0x0101);
    return d.v;
}

bool AsfFileWriter::Begin() {
    if (begun_ || streams_.empty()) return false;
    for (const AsfStream& s : streams_) {
        const bool valid =
            s.number >= 1 && s.number <= 63 &&
            (s.audio ? s.channels > 0 && s.samplesPerSec > 0 : s.width > 0 && s.height > 0 && s.timePerFrame > 0);
        if (!valid) return false;
    }
    const std::vector<std::uint8_t> header = Header(false);
    headerSize_ = header.size();
    const std::vector<std::uint8_t> data = DataObjectHeader();
    begun_ = sink_.Append(header.data(), header.size()) && sink_.Append(data.data(), data.size());
    failed_ = !begun_;
    return begun_;
}

void AsfFileWriter::NoteVideoObject(std::uint32_t timeMs, std::uint32_t firstPacket, std::uint16_t packetCount) {
    const IndexEntry picture{firstPacket, packetCount};
    // Intervals before this picture point at the one before it.
    while (static_cast<std::int64_t>(index_.size()) * kIndexIntervalMs < static_cast<std::int64_t>(timeMs))
        index_.push_back(haveLastPicture_ ? lastPicture_ : picture);
    lastPicture_ = picture;
    haveLastPicture_ = true;
    largestPictureCount_ = std::max(largestPictureCount_, packetCount);
}

bool AsfFileWriter::WriteObject(int number, std::uint32_t timeMs, std::uint32_t durationMs, const std::uint8_t* data,
                                std::size_t size) {
    const AsfStream* stream = Find(number);
    if (!begun_ || failed_ || !stream || size == 0 || size > 0xFFFFFFFFu) return false;
    const std::uint64_t firstPacket = packets_;
    const std::uint8_t objectNumber = objectNumbers_[static_cast<std::size_t>(number)]++;
    std::vector<std::uint8_t> packet(kAsfPacketSize);
    for (std::size_t offset = 0; offset < size; offset += kPayloadCapacity) {
        const std::size_t part = std::min(kPayloadCapacity, size - offset);
        const std::uint32_t padding = static_cast<std::uint32_t>(kPayloadCapacity - part);
        Bytes p;
        p.U8(kErrorCorrectionFlags);
        p.U8(0);
        p.U8(0);
        p.U8(kLengthTypeFlags);
        p.U8(kPropertyFlags);
        p.U16(padding);
        p.U32(timeMs);  // send time
        p.U16(0);       // duration
        // Every picture and every run of samples stands on its own.
        p.U8(static_cast<std::uint32_t>(number) | kKeyFrame);
        p.U8(objectNumber);
        p.U32(static_cast<std::uint32_t>(offset));
        p.U8(8);
        p.U32(static_cast<std::uint32_t>(size));
        p.U32(timeMs);  // presentation time
        std::fill(packet.begin(), packet.end(), 0);
        std::memcpy(packet.data(), p.v.data(), p.v.size());
        std::memcpy(packet.data() + p.v.size(), data + offset, part);
        if (!sink_.Append(packet.data(), packet.size())) {
            failed_ = true;
            return false;
        }
        ++packets_;
    }
    if (!stream->audio) {
        const std::uint64_t count = packets_ - firstPacket;
        NoteVideoObject(timeMs, static_cast<std::uint32_t>(firstPacket),
                        static_cast<std::uint16_t>(std::min<std::uint64_t>(count, 0xFFFF)));
    }
    largestObject_ = std::max(largestObject_, static_cast<std::uint32_t>(size));
    endMs_ = std::max<std::uint64_t>(endMs_, static_cast<std::uint64_t>(timeMs) + durationMs);
    return true;
}

bool AsfFileWriter::Finish() {
    if (!begun_) return false;
    bool ok = !failed_;
    if (ok && haveLastPicture_) {
        // The intervals up to the end point at the last picture.
        while (static_cast<std::int64_t>(index_.size()) * kIndexIntervalMs <= static_cast<std::int64_t>(endMs_))
            index_.push_back(lastPicture_);
        Bytes index;
        for (std::uint8_t b : fileId_) index.U8(b);
        index.U64(static_cast<std::uint64_t>(kIndexIntervalMs) * kHundredNsPerMs);
        index.U32(largestPictureCount_);
        index.U32(static_cast<std::uint32_t>(index_.size()));
        for (const IndexEntry& e : index_) {
            index.U32(e.packet);
            index.U16(e.count);
        }
        Bytes object;
        object.Object(kSimpleIndexObject, index);
        ok = sink_.Append(object.v.data(), object.v.size());
    }
    if (!ok) index_.clear();
    // A file whose tail failed still gets the counts of what it holds.
    const std::vector<std::uint8_t> header = Header(true);
    const std::vector<std::uint8_t> data = DataObjectHeader();
    const bool rewritten = header.size() == headerSize_ && sink_.Rewrite(0, header.data(), header.size()) &&
                           sink_.Rewrite(headerSize_, data.data(), data.size());
    begun_ = false;
    return ok && rewritten;
}

PcmConverter::PcmConverter(int inRate, int inChannels, int outRate, int outChannels)
    : inChannels_(inChannels > 0 ? inChannels : 1),
      outChannels_(outChannels > 0 ? outChannels : 1),
      step_(outRate > 0 && inRate > 0 ? static_cast<double>(inRate) / outRate : 1.0),
      last_(static_cast<std::size_t>(inChannels_), 0) {}

void PcmConverter::Convert(const std::int16_t* in, std::size_t frames, std::vector<std::int16_t>& out) {
    out.clear();
    if (frames == 0) return;
    // Frame k of the block extended by the last frame of the one before.
    auto sample = [&](std::size_t k, int channel) -> double {
        const int c = inChannels_ == 1 ? 0 : channel % inChannels_;
        return k == 0 ? last_[static_cast<std::size_t>(c)] : in[(k - 1) * static_cast<std::size_t>(inChannels_) + c];
    };
    // A position past the last frame waits for the next block.
    while (position_ <= static_cast<double>(frames) + 1e-9) {
        const std::size_t k = std::min(static_cast<std::size_t>(position_), frames);
        const double f = position_ - static_cast<double>(k);
        for (int c = 0; c < outChannels_; ++c) {
            double v;
            if (outChannels_ == 1 && inChannels_ > 1) {
                double a = 0;
                double b = 0;
                for (int i = 0; i < inChannels_; ++i) {
                    a += sample(k, i);
                    b += k + 1 <= frames ? sample(k + 1, i) : sample(k, i);
                }
                v = (a + (b - a) * f) / inChannels_;
            } else {
                const double a = sample(k, c);
                const double b = k + 1 <= frames ? sample(k + 1, c) : a;
                v = a + (b - a) * f;
            }
            out.push_back(static_cast<std::int16_t>(std::lround(std::max(-32768.0, std::min(32767.0, v)))));
        }
        position_ += step_;
    }
    position_ -= static_cast<double>(frames);
    for (int c = 0; c < inChannels_; ++c)
        last_[static_cast<std::size_t>(c)] = in[(frames - 1) * static_cast<std::size_t>(inChannels_) + c];
}

}  // namespace asfstandin
