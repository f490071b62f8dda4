// Joins the parts of a paused and resumed MPEG recording into one timeline.
// Each part is written by a graph of its own, appended to the same program
// stream file, and each graph's multiplexer starts its clock (SCR) and its
// presentation times (PTS, DTS) near zero again. Once a resumed part is
// complete (its graph stopped and the file closed), its times are moved in
// place to follow the part before it; before the part is appended, the end
// code of the part before it is cut, so the file holds one program stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace recorder {

// The recording file, read and patched in place.
class ByteFile {
public:
    virtual ~ByteFile() = default;
    virtual uint64_t Size() = 0;
    virtual bool Read(uint64_t offset, uint8_t* data, size_t size) = 0;
    virtual bool Write(uint64_t offset, const uint8_t* data, size_t size) = 0;
    // Cuts the file at `size`.
    virtual bool Truncate(uint64_t size) = 0;
};

// Times of a stretch of program stream, in 90 kHz ticks (-1: none seen).
struct StreamTimes {
    int64_t firstScr = -1;
    int64_t lastScr = -1;
    int64_t minPts = -1;
    int64_t maxPts = -1;
};

// Where a resumed part begins and where the recording so far ends.
struct Continuation {
    bool active = false;
    uint64_t offset = 0;  // first byte of the resumed part
    StreamTimes before;   // times of the parts before it
};

// Reads the times of the packets from `from` to the end of the file;
// `shift` (90 kHz ticks), when not 0, is added to every SCR, PTS and DTS on
// the way. False when the bytes are not a program stream.
bool WalkProgramStream(ByteFile& file, uint64_t from, int64_t shift, StreamTimes& times);

// Before a part is appended to `file`: a file with data becomes a
// continuation, its trailing end code is cut. An empty file is none.
Continuation PrepareContinuation(ByteFile& file);

// After the resumed part is complete: moves its times to follow the parts
// before it. The gap between the two parts is `kJoinGap`.
bool JoinContinuation(ByteFile& file, const Continuation& continuation);

constexpr int64_t kJoinGap = 3600;  // 40 ms in 90 kHz ticks

}  // namespace recorder
