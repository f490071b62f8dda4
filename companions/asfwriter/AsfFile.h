// An ASF file of uncompressed streams: the header object (file properties,
// one stream properties object per stream, the header extension with each
// stream's extended properties, the stream bitrates), the data object of
// fixed-size packets with one payload each, and a simple index when there
// is video. Written front to back; the header's counts and durations are
// filled in when the file is finished. Until then the header says
// "broadcast", which readers take as a file still being written.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace asfstandin {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Append(const std::uint8_t* data, std::size_t size) = 0;
    virtual bool Rewrite(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
};

struct AsfStream {
    bool audio = false;
    int number = 0;             // 1..63
    std::uint32_t bitrate = 0;  // bit/s, as the profile gives it
    // Video: 24-bit RGB, bottom-up rows.
    int width = 0;
    int height = 0;
    std::int64_t timePerFrame = 0;  // 100 ns units
    // Audio: 16-bit PCM.
    int channels = 0;
    int samplesPerSec = 0;
};

constexpr std::uint32_t kAsfPacketSize = 16384;
constexpr std::int64_t kIndexIntervalMs = 1000;

class AsfFileWriter {
public:
    using FileId = std::array<std::uint8_t, 16>;
    AsfFileWriter(ByteSink& sink, std::vector<AsfStream> streams, const FileId& fileId);

    // The header (as of a file being written) and the data object's start.
    bool Begin();
    // One media object (a picture or a run of samples) of stream `number`,
    // presented at `timeMs` for `durationMs`, split over as many packets as
    // it needs.
    bool WriteObject(int number, std::uint32_t timeMs, std::uint32_t durationMs, const std::uint8_t* data,
                     std::size_t size);
    // The index, then the header and data object rewritten with the counts.
    bool Finish();

    std::uint64_t Packets() const { return packets_; }

private:
    std::vector<std::uint8_t> Header(bool finished) const;
    std::vector<std::uint8_t> DataObjectHeader() const;
    const AsfStream* Find(int number) const;
    void NoteVideoObject(std::uint32_t timeMs, std::uint32_t firstPacket, std::uint16_t packetCount);

    ByteSink& sink_;
    std::vector<AsfStream> streams_;
    FileId fileId_;
    std::vector<std::uint8_t> objectNumbers_;  // per stream number, wrapping
    std::uint64_t headerSize_ = 0;
    std::uint64_t packets_ = 0;
    std::uint64_t endMs_ = 0;
    std::uint32_t largestObject_ = 0;
    bool begun_ = false;
    bool failed_ = false;
    // Simple index: per interval, the first packet and packet count of the
    // latest picture at or before it.
    struct IndexEntry {
        std::uint32_t packet;
        std::uint16_t count;
    };
    std::vector<IndexEntry> index_;
    bool haveLastPicture_ = false;
    IndexEntry lastPicture_{0, 0};
    std::uint16_t largestPictureCount_ = 0;
};

// 16-bit PCM of one rate and channel count to another, by linear
// interpolation, keeping its position from one block to the next.
class PcmConverter {
public:
    PcmConverter(int inRate, int inChannels, int outRate, int outChannels);
    void Convert(const std::int16_t* in, std::size_t frames, std::vector<std::int16_t>& out);

private:
    int inChannels_;
    int outChannels_;
    double step_;
    double position_ = 1.0;  // in input frames; 0 is the previous block's last frame
    std::vector<std::int16_t> last_;
};

}  // namespace asfstandin
