#include "codec/audioencoder/OutputRecord.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct RecordState {
    OutputSink* sink = nullptr;
    BYTE* buffer = nullptr;
    uint32_t size = 0;
    uint32_t used = 0;
    uint64_t total = 0;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME nextStart = -1;
    REFERENCE_TIME duration = 0;
    std::vector<BYTE> spare;
    bool usingSpare = false;
};

RecordState* State(bufstream* bs) {
    return static_cast<RecordState*>(bs->state);
}

void DeliverPending(RecordState* s) {
    if (s->used > 0 && !s->usingSpare)
        s->sink->Deliver(s->buffer, static_cast<long>(s->used), s->start, s->start + s->duration);
    if (s->used > 0) s->start = s->nextStart >= 0 ? s->nextStart : s->start + s->duration;
    s->nextStart = -1;
    s->used = 0;
    s->buffer = nullptr;
    s->size = 0;
}

uint32_t BUFSTREAM_CALL BytesAvailable(bufstream* bs) {
    RecordState* s = State(bs);
    return s ? s->size - s->used : 0;
}

uint8_t* BUFSTREAM_CALL Request(bufstream* bs, uint32_t n) {
    RecordState* s = State(bs);
    if (!s) return nullptr;
    if (s->buffer && s->size - s->used >= n) return s->buffer + s->used;
    if (s->buffer) DeliverPending(s);
    BYTE* p = nullptr;
    long size = 0;
    if (SUCCEEDED(s->sink->GetBuffer(&p, &size, s->start)) && p && size > 0) {
        s->buffer = p;
        s->size = static_cast<uint32_t>(size);
        s->usingSpare = false;
    } else {
        s->buffer = s->spare.data();
        s->size = static_cast<uint32_t>(s->spare.size());
        s->usingSpare = true;
    }
    // A request larger than any buffer we can give is refused, never overrun.
    return n <= s->size ? s->buffer : nullptr;
}

uint32_t BUFSTREAM_CALL Commit(bufstream* bs, uint32_t n) {
    RecordState* s = State(bs);
    if (!s || !s->buffer) return 0;
    if (n > s->size - s->used) n = s->size - s->used;
    s->used += n;
    s->total += n;
    return n;
}

uint32_t BUFSTREAM_CALL CopyBytes(bufstream* bs, uint8_t* p, uint32_t n) {
    RecordState* s = State(bs);
    if (!s) return 0;
    uint32_t done = 0;
    while (done < n) {
        uint32_t piece = n - done;
        uint32_t limit = s->spare.size() ? static_cast<uint32_t>(s->spare.size()) : piece;
        if (piece > limit) piece = limit;
        uint8_t* dst = Request(bs, piece);
        if (!dst) return 0;
        std::memcpy(dst, p + done, piece);
        Commit(bs, piece);
        done += piece;
    }
    return n;
}

// Before the first buffer is handed out, the size every buffer will have.
uint32_t BUFSTREAM_CALL BufferSize(bufstream* bs) {
    RecordState* s = State(bs);
    if (!s) return 0;
    return s->buffer ? s->size : static_cast<uint32_t>(s->spare.size());
}

// 0xF0002: the time of what follows, in 27 MHz ticks at byte 8.
int32_t BUFSTREAM_CALL Info(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t size) {
    RecordState* s = State(bs);
    if (!s || id != 0xF0002 || !data || size < 16) return 0;
    int64_t ticks;
    std::memcpy(&ticks, static_cast<const BYTE*>(data) + 8, 8);
    s->nextStart = (ticks * 10000 + 13500) / 27000 + s->duration;
    if (s->used == 0) s->start = s->nextStart;
    return 0;
}

int32_t BUFSTREAM_CALL Split(bufstream*) {
    return 0;
}

int32_t BUFSTREAM_CALL Done(bufstream* bs, int32_t abort_flag) {
    RecordState* s = State(bs);
    if (!s) return 0;
    if (!abort_flag) DeliverPending(s);
    delete s;
    bs->state = nullptr;
    return 0;
}

void BUFSTREAM_CALL FreeRecord(bufstream* bs) {
    if (bs->state) Done(bs, 0);
    std::free(bs);
}

}  // namespace

bufstream* CreateOutputRecord(OutputSink* sink, uint32_t privateSize, REFERENCE_TIME duration,
                              void (*report)(const char* text)) {
    auto* bs = static_cast<bufstream*>(std::calloc(1, sizeof(bufstream)));
    if (!bs) return nullptr;
    RecordState* s = new (std::nothrow) RecordState();
    if (s) s->sink = sink;
    if (s) {
        try {
            s->spare.resize(privateSize);
        } catch (...) {
            delete s;
            s = nullptr;
        }
    }
    if (!s) {
        if (report) report("Unable to allocate memory for deliver buffer.");
        std::free(bs);
        return nullptr;
    }
    s->duration = duration;
    bs->bytes_available = BytesAvailable;
    bs->request = Request;
    bs->commit = Commit;
    bs->copy_bytes = CopyBytes;
    bs->buffer_size = BufferSize;
    bs->info = Info;
    bs->split = Split;
    bs->done = Done;
    bs->free = FreeRecord;
    bs->state = s;
    return bs;
}

void SetOutputRecordDuration(bufstream* bs, REFERENCE_TIME duration) {
    if (bs && bs->state) State(bs)->duration = duration;
}
