// The writer interface the engine drives, and the engine side the writer
// talks back to. The MXF file writer (MxfFileWriter.h) fills it; an engine
// made without a writer answers kNoWriter.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace mexora {

// Settings the interface builds for the engine.
struct EngineSettings {
    int32_t liveMode = 0;
    int32_t profile = 0;  // internal profile 0-4
    int16_t fileNumber = 0;
    char clipName[7] = {};
    bool hasBlock = false;
    uint8_t block[32] = {};
    int32_t values[4] = {};  // start time code, three track values
    int32_t dropFrame = 0;
    int32_t secondVariant = 0;
};

// One finished piece of output: appended when position is negative, else
// written at that file position.
struct OutputPiece {
    std::vector<uint8_t> data;
    int64_t position = -1;
    int32_t output = 0;
};

// Outside facts the writer needs, injected so tests can fix them.
struct WriterServices {
    std::function<void(uint8_t guid[16])> newGuid;
    std::function<int64_t()> localTime;  // 100 ns units since 1601, local time
};

class WriterHost {
public:
    virtual ~WriterHost() = default;
    virtual void QueueOutput(OutputPiece piece) = 0;
    // The output grew past its limit, and fell below it again.
    virtual void SetOverLimit() = 0;
    virtual void ClearOverLimit() = 0;
    virtual const EngineSettings& Settings() const = 0;
    virtual int32_t StreamCount() const = 0;
    virtual const WriterServices& Services() const = 0;
};

class MxfWriter {
public:
    virtual ~MxfWriter() = default;
    virtual int32_t start() = 0;
    virtual int32_t add_stream(int32_t streamId, int32_t output) = 0;
    virtual int32_t add_sample(int32_t streamId, const uint8_t* data, uint32_t length) = 0;
    virtual int32_t end_of_stream(int32_t streamId) = 0;
    // The host took a piece of that many bytes.
    virtual void output_taken(uint32_t length) = 0;
    // The buffer of a piece the host took, for the writer to fill again.
    virtual void recycle(std::vector<uint8_t>&& buffer) { (void)buffer; }
    virtual int32_t reset() = 0;
    // Every stream ended and every piece was queued.
    virtual bool finished() const = 0;
};

using WriterFactory = std::function<std::unique_ptr<MxfWriter>(WriterHost&)>;

}  // namespace mexora
