// The in-memory pipe: a ring with a lead-in area in front of it, so that a
// request that crosses the ring's end can still be answered contiguously.
#include "mxf/mux/ByteStreams.h"

#include <cstdlib>
#include <cstring>
#include <new>

struct bs_pipe_ring {
    uint8_t* buffer;
    uint32_t lead;   // lead-in bytes before start (reserve - 1)
    uint32_t start;  // == lead
    uint32_t end;    // start + size
    uint32_t read;   // may lie in the lead-in after a wrapped request
    uint32_t write;
    uint32_t used;         // readable bytes
    uint32_t readGrant;    // bytes of the last read request
    uint32_t writeGrant;   // bytes of the last write request
    uint32_t wrappedHead;  // bytes of a granted write block that lie in the lead-in
};

namespace {

bs_pipe_ring* Ring(bufstream* bs) {
    return static_cast<bs_pipe_ring*>(bs->state);
}

uint32_t Size(const bs_pipe_ring* r) {
    return r->end - r->start;
}

// ---- reading face ----

uint32_t BUFSTREAM_CALL ReadAvailable(bufstream* bs) {
    bs_pipe_ring* r = Ring(bs);
    return r ? r->used : 0;
}

uint8_t* BUFSTREAM_CALL ReadRequest(bufstream* bs, uint32_t n) {
    bs_pipe_ring* r = Ring(bs);
    if (!r) return nullptr;
    r->readGrant = 0;
    if (n > r->used) return nullptr;
    const uint32_t tail = r->end - r->read;
    if (r->read >= r->start && tail < n) {
        // The data wraps: bring the tail in front of start.
        if (tail > r->lead) return nullptr;
        std::memcpy(r->buffer + r->start - tail, r->buffer + r->read, tail);
        r->read = r->start - tail;
    }
    r->readGrant = n;
    return r->buffer + r->read;
}

uint32_t BUFSTREAM_CALL ReadCommit(bufstream* bs, uint32_t n) {
    bs_pipe_ring* r = Ring(bs);
    if (!r) return 0;
    if (n > r->used) n = r->used;
    r->read += n;
    if (r->read >= r->end) r->read -= Size(r);
    r->used -= n;
    r->readGrant = n < r->readGrant ? r->readGrant - n : 0;
    if (r->used == 0) r->read = r->write;
    return n;
}

uint32_t BUFSTREAM_CALL ReadCopy(bufstream* bs, uint8_t* p, uint32_t n) {
    const uint8_t* src = ReadRequest(bs, n);
    if (!src || !p) return 0;
    std::memcpy(p, src, n);
    return ReadCommit(bs, n);
}

uint32_t BUFSTREAM_CALL PipeBufferSize(bufstream* bs) {
    bs_pipe_ring* r = Ring(bs);
    return r ? r->lead : 0;
}

int32_t BUFSTREAM_CALL ReadInfo(bufstream*, uint32_t, uint32_t, void*, uint32_t) {
    return 0;
}

int32_t BUFSTREAM_CALL PipeDone(bufstream*, int32_t) {
    return 0;
}

// ---- writing face ----

uint32_t BUFSTREAM_CALL WriteAvailable(bufstream* bs) {
    bs_pipe_ring* r = Ring(bs);
    return r ? Size(r) - r->used : 0;
}

uint8_t* BUFSTREAM_CALL WriteRequest(bufstream* bs, uint32_t n) {
    bs_pipe_ring* r = Ring(bs);
    if (!r) return nullptr;
    r->writeGrant = 0;
    r->wrappedHead = 0;
    if (n > Size(r) - r->used) return nullptr;
    const uint32_t before = r->end - r->write;
    if (n <= before) {
        r->writeGrant = n;
        return r->buffer + r->write;
    }
    // Free room wraps (write is ahead of read): place the block so that it
    // starts in the lead-in and ends in the ring's first bytes.
    if (before > r->lead) return nullptr;
    r->writeGrant = n;
    r->wrappedHead = before;
    return r->buffer + r->start - before;
}

uint32_t BUFSTREAM_CALL WriteCommit(bufstream* bs, uint32_t n) {
    bs_pipe_ring* r = Ring(bs);
    if (!r) return 0;
    if (n > r->writeGrant) n = r->writeGrant;
    if (r->wrappedHead) {
        const uint32_t head = n < r->wrappedHead ? n : r->wrappedHead;
        std::memcpy(r->buffer + r->write, r->buffer + r->start - r->wrappedHead, head);
        if (n < r->wrappedHead) {
            // The filled part did not reach the ring's start: nothing wrapped.
            r->write += n;
        } else {
            r->write = r->start + (n - r->wrappedHead);
        }
    } else {
        r->write += n;
        if (r->write >= r->end) r->write -= Size(r);
    }
    r->used += n;
    r->writeGrant = 0;
    r->wrappedHead = 0;
    return n;
}

uint32_t BUFSTREAM_CALL WriteCopy(bufstream* bs, uint8_t* p, uint32_t n) {
    bs_pipe_ring* r = Ring(bs);
    if (!r || !p || n == 0) return 0;
    const uint32_t room = Size(r) - r->used;
    if (n > room) n = room;
    const uint32_t before = r->end - r->write;
    const uint32_t first = n < before ? n : before;
    std::memcpy(r->buffer + r->write, p, first);
    std::memcpy(r->buffer + r->start, p + first, n - first);
    r->write += n;
    if (r->write >= r->end) r->write -= Size(r);
    r->used += n;
    r->writeGrant = 0;
    r->wrappedHead = 0;
    return n;
}

// The producer's notifications reach whoever took over the reading face.
int32_t BUFSTREAM_CALL WriteInfo(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size) {
    bs_pipe* pipe = reinterpret_cast<bs_pipe*>(bs);
    bufstream* reader = &pipe->reader;
    return reader->info ? reader->info(reader, offset, id, data, size) : 0;
}

}  // namespace

extern "C" {

bs_pipe* bs_pipe_open(uint32_t size, uint32_t reserve) {
    if (reserve == 0 || size < reserve) return nullptr;
    bs_pipe* pipe = static_cast<bs_pipe*>(std::calloc(1, sizeof(bs_pipe)));
    bs_pipe_ring* ring = static_cast<bs_pipe_ring*>(std::calloc(1, sizeof(bs_pipe_ring)));
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(size_t{size} + reserve - 1));
    if (!pipe || !ring || !buffer) {
        std::free(pipe);
        std::free(ring);
        std::free(buffer);
        return nullptr;
    }
    ring->buffer = buffer;
    ring->lead = reserve - 1;
    ring->start = ring->lead;
    ring->end = ring->start + size;
    ring->read = ring->write = ring->start;
    pipe->ring = ring;

    bufstream* w = &pipe->writer;
    w->bytes_available = WriteAvailable;
    w->request = WriteRequest;
    w->commit = WriteCommit;
    w->copy_bytes = WriteCopy;
    w->buffer_size = PipeBufferSize;
    w->info = WriteInfo;
    w->done = PipeDone;
    w->reserved[1] = 1;
    w->state = ring;

    bufstream* rd = &pipe->reader;
    rd->bytes_available = ReadAvailable;
    rd->request = ReadRequest;
    rd->commit = ReadCommit;
    rd->copy_bytes = ReadCopy;
    rd->buffer_size = PipeBufferSize;
    rd->info = ReadInfo;
    rd->done = PipeDone;
    rd->state = ring;
    return pipe;
}

void bs_pipe_close(bs_pipe* pipe) {
    if (!pipe) return;
    if (pipe->ring) std::free(pipe->ring->buffer);
    std::free(pipe->ring);
    std::free(pipe);
}

}  // extern "C"
