// The MXF file writer behind the engine: recognises each stream from its
// first bytes, starts every output's file once all announced streams are
// known, and writes edit units (XDCAM HD, one OP1a file) or clip-wrapped
// access units (P2, one OP-Atom file per stream) while complete ones exist.
#pragma once

#include "mxf/mux/FileValues.h"
#include "mxf/mux/MxfWriter.h"
#include "mxf/mux/TrackWriter.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace mexora::mxf {

enum FileWriterCode : int32_t {
    kFileWriterOk = 0,
    kFileWriterNoMemory = -29,
    kFileWriterBadArgument = -30,
    kFileWriterRefused = -119,  // a codec, or a codec in a profile, without an MXF mapping here
    kFileWriterBadMode = -25,   // an engine profile this writer has no files for
};

// Bytes taken in and not yet handed out above which the engine reports
// state 4 (over its limit).
constexpr int64_t kOutputLimit = 50LL * 1024 * 1024;

class MxfFileWriter : public MxfWriter {
public:
    explicit MxfFileWriter(WriterHost& host);
    int32_t start() override;
    int32_t add_stream(int32_t streamId, int32_t output) override;
    int32_t add_sample(int32_t streamId, const uint8_t* data, uint32_t length) override;
    int32_t end_of_stream(int32_t streamId) override;
    void output_taken(uint32_t length) override;
    void recycle(std::vector<uint8_t>&& buffer) override;
    int32_t reset() override;
    bool finished() const override { return finished_; }

    // Edit units written so far (XDCAM) and access units still held by the
    // streams' handlers (tests watch the backlog).
    int64_t EditUnitsWritten() const;
    size_t UnitsHeld();

private:
    struct Stream {
        int32_t output = 0;
        bool known = false, ended = false;
        std::vector<uint8_t> probe;  // first bytes, until the kind is known
        TrackFormat format;
    };
    int32_t Classify(int32_t id, Stream& s, bool atEnd);
    int32_t StartFiles();
    int32_t WriteReady();
    bool AllKnown() const;
    int32_t Finish();

    WriterHost& host_;
    std::mutex lock_;
    int32_t profile_ = kXdcamProfile;
    EngineSettings settings_;
    BufferPool pool_;  // unit and piece buffers, used again frame after frame
    std::unique_ptr<StreamScheduler> scheduler_;
    std::map<int32_t, Stream> streams_;
    std::vector<int32_t> order_;
    std::map<int32_t, std::unique_ptr<TrackWriter>> files_;  // by output
    std::unique_ptr<UmidMaker> umids_;
    Umid clipUmid_{};
    std::string clipName_;
    SetServices services_;
    bool started_ = false, finished_ = false;
    int64_t pending_ = 0;  // bytes taken in, not yet handed out
};

// The engine's writer factory for this writer.
WriterFactory FileWriterFactory();

}  // namespace mexora::mxf
