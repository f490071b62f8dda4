// The stream scheduler: one access-unit queue per stream, fed by the
// stream's essence handler, and the edit units formed from them. Every
// handler that reaches the file cuts one unit per video frame (sound is cut
// per frame by the frame rate of its header), so an edit unit takes one unit
// of every stream, the picture first; a sound stream alone is paced by its
// own units.
#pragma once

#include "mxf/mux/AccessUnits.h"

#include <map>
#include <memory>
#include <vector>

namespace mexora::mxf {

enum SchedulerCode : int32_t {
    kSchedulerOk = 0,
    kEditUnitReady = 10,
    kUnknownStream = -30,
    kRefusedCodec = -119,
};

struct StreamInfo {
    uint32_t dvFrameSize = 0;
    es::Rate dvRate;
};

struct EditUnitPart {
    int32_t streamId;
    bool picture;
    AccessUnit unit;
};

class StreamScheduler {
public:
    // fourcc "mpg2" and "dv  " (pictures) or "aes3" (sound); H.264,
    // MPEG-4 Part 2, AAC, MPEG audio and anything else are refused (-119).
    int32_t AddStream(int32_t id, const char fourcc[4], const StreamInfo& info = StreamInfo());
    // 10 when an edit unit is complete, 0 when not yet, -30 for an unknown
    // stream, or the handler's negative code.
    int32_t AddSample(int32_t id, const uint8_t* data, uint32_t length, int64_t start = kUnsetTime,
                      int64_t end = kUnsetTime);
    bool EditUnitReady() const;
    // The next edit unit (empty when none is complete).
    std::vector<EditUnitPart> TakeEditUnit();
    // Every handler pushes out its last units; edit units then form from
    // whatever the streams still hold.
    int32_t Flush();
    void Reset();
    EssenceHandler* Handler(int32_t id);
    // The handlers of streams added from now on take their buffers from it.
    void SetPool(BufferPool* pool) { pool_ = pool; }
    int64_t EditUnitCount() const { return editUnits_; }

private:
    struct Stream {
        bool picture;
        std::unique_ptr<EssenceHandler> handler;
    };
    std::map<int32_t, Stream> streams_;
    std::vector<int32_t> order_;  // registration order
    bool flushed_ = false;
    int64_t editUnits_ = 0;
    BufferPool* pool_ = nullptr;
};

}  // namespace mexora::mxf
