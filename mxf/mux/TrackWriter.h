// The writer of one MXF output file: its header metadata, its partitions
// (header, body, footer), index table segments and random index pack, and
// the edit units or clip-wrapped essence between them. XDCAM HD files are
// OP1a with frame-wrapped content packages on a 512-byte KAG; P2 files are
// OP-Atom with one clip-wrapped essence element. Pieces go to a sink: appended
// ones in file order, then, at the end, rewrites of what was written before
// at their file positions.
#pragma once

#include "mxf/mux/Descriptors.h"
#include "mxf/mux/MxfWriter.h"
#include "mxf/mux/Scheduler.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace mexora::mxf {

enum TrackWriterCode : int32_t {
    kTrackWriterOk = 0,
    kTrackWriterNoMemory = -29,
    kTrackWriterMissingNode = -30,
    kTrackWriterBadMode = -25,  // a step the file's profile does not have
};

enum class EssenceKind { kMpeg2, kDv, kAes3 };

// What a track is made from: the stream's kind and the headers of its first
// sample.
struct TrackFormat {
    int32_t streamId = 0;
    EssenceKind kind = EssenceKind::kMpeg2;
    es::Mpeg2Sequence sequence;
    es::Mpeg2SequenceExtension extension;
    bool closedGop = false;
    es::DvFrame dv;
    es::Aes3Header aes3;
    int aes3RateCode = 0;  // 1-8, the header's frame-rate code
};

struct FileSettings {
    int32_t profile = kXdcamProfile;
    bool flagB = false;      // the second XDCAM variant: old MPEG label, no body partitions in the RIP
    bool dropFrame = false;  // flag A
    int64_t startTimecode = 0;
    int32_t output = 0;
    Umid materialUmid{}, fileUmid{};
    std::string clipName;
};

// Metadata dates from local time in 100 ns units since 1601.
Timestamp TimestampOf(int64_t ticks);

class TrackWriter {
public:
    using Sink = std::function<void(OutputPiece)>;
    TrackWriter(const FileSettings& settings, const SetServices& services, Sink sink);

    void AddTrack(const TrackFormat& format);
    // Content packages are built in buffers from it.
    void SetPool(BufferPool* pool) { pool_ = pool; }
    // The header partition with its metadata and the first body partition.
    int32_t Start();
    // XDCAM: one content package from the edit unit's parts, the picture first.
    int32_t WriteEditUnit(const std::vector<EditUnitPart>& parts);
    // P2: one access unit of the file's single stream, appended to its element.
    int32_t WriteClipUnit(const AccessUnit& unit);
    // The footer and random index pack, then the rewrites.
    int32_t Finish();

    bool Started() const { return started_; }
    int64_t EditUnits() const { return editUnits_; }
    int64_t BytesWritten() const { return written_; }
    Rational EditRate() const { return editRate_; }
    // The continuity count of system metadata packs made by every file of
    // the process so far; tests set it to get fixed bytes.
    static void SetContinuity(uint16_t value);

private:
    struct Partition {
        std::unique_ptr<PartitionPack> pack;
    };
    int32_t Emit(BitIo& io, int64_t position = -1);
    int32_t BuildHeader();
    void FillMpegDescriptor(const TrackFormat& format);
    void FillDvDescriptor(const TrackFormat& format, CdciDescriptor* d);
    void FillAes3Descriptor(const TrackFormat& format, Aes3Descriptor* d);
    std::unique_ptr<PartitionPack> NewPartition(const char* kind);
    std::unique_ptr<IndexTableSegment> NewSegment();
    int32_t OpenBodyPartition(bool withIndex);
    void SetDurations(int64_t duration);
    int32_t Rewrite();
    const TrackFormat* Picture() const;
    int SoundTracks() const;

    FileSettings settings_;
    SetServices services_;
    Sink sink_;
    FormatProfile profile_;
    std::vector<TrackFormat> tracks_;
    std::unique_ptr<HeaderMetadata> header_;
    std::vector<Label> containers_;
    std::vector<Partition> partitions_;  // header first, then the body partitions
    std::unique_ptr<IndexTableSegment> segment_;
    Rational editRate_;
    bool started_ = false, finished_ = false;
    int64_t written_ = 0;       // bytes appended to the file
    int64_t essenceBytes_ = 0;  // bytes of the essence container so far
    int64_t editUnits_ = 0, unitsInPartition_ = 0;
    // P2: where the clip's element key sits, its bytes and its edit units.
    int64_t elementPosition_ = 0;
    int64_t clipBytes_ = 0, clipUnits_ = 0;
    uint32_t clipUnitBytes_ = 0;
    BufferPool* pool_ = nullptr;
};

}  // namespace mexora::mxf
