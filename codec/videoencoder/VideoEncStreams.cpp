#include "codec/videoencoder/VideoEncStreams.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace vidcore {
namespace {

// ---- bitstream output ----

struct OutputState {
    OutputSink* sink;
    uint8_t* buffer;
    uint32_t used;
    uint32_t size;
    uint64_t total;
    int32_t times[4];
    bool failed;
    uint32_t bufferSize;  // the size every buffer of the sink has
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(OutputState) == 48, "output state is 48 bytes");
#endif

OutputState* Out(bufstream* bs) {
    return bs ? static_cast<OutputState*>(bs->state) : nullptr;
}

void DeliverHeld(OutputState* s) {
    if (s->buffer) s->sink->Deliver(s->buffer, s->used, s->times);
    s->buffer = nullptr;
    s->used = 0;
    s->size = 0;
}

uint32_t BUFSTREAM_CALL OutBytesAvailable(bufstream* bs) {
    OutputState* s = Out(bs);
    return s && s->buffer ? s->size - s->used : 0;
}

uint8_t* BUFSTREAM_CALL OutRequest(bufstream* bs, uint32_t n) {
    OutputState* s = Out(bs);
    if (!s) return nullptr;
    if (!s->failed && s->buffer && n <= s->size - s->used) return s->buffer + s->used;
    const bool continued = s->buffer && s->used > 0;
    DeliverHeld(s);
    if (continued) {
        // The rest of a picture: its time went out with its first part.
        const int64_t none = -1;
        std::memcpy(s->times, &none, 8);
        std::memcpy(s->times + 2, &none, 8);
    }
    uint8_t* p = nullptr;
    uint32_t size = 0;
    if (s->sink->GetBuffer(&p, &size) && p) {
        s->buffer = p;
        s->size = size;
        s->failed = false;
    } else {
        s->buffer = nullptr;
        s->size = 0;
        s->failed = true;
    }
    s->used = 0;
    return s->buffer && n <= s->size ? s->buffer : nullptr;
}

uint32_t BUFSTREAM_CALL OutCommit(bufstream* bs, uint32_t n) {
    OutputState* s = Out(bs);
    if (!s || !s->buffer) return 0;
    if (n > s->size - s->used) n = s->size - s->used;  // never past the buffer
    s->used += n;
    s->total += n;
    return n;
}

uint32_t BUFSTREAM_CALL OutCopyBytes(bufstream*, uint8_t*, uint32_t) {
    return 0;
}

uint32_t BUFSTREAM_CALL OutBufferSize(bufstream* bs) {
    OutputState* s = Out(bs);
    if (!s) return 0;
    // Known before any buffer is held: the engine cuts pictures by it.
    return s->bufferSize ? s->bufferSize : s->size;
}

int32_t BUFSTREAM_CALL OutInfo(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t size) {
    OutputState* s = Out(bs);
    if (!s) return 0;
    s->sink->Notify(id, data, size);
    if (id == kInfoUnitEnd) {
        if (s->buffer && s->used > 0) DeliverHeld(s);
    } else if (id == kInfoTimes && data && size >= sizeof s->times) {
        std::memcpy(s->times, data, sizeof s->times);
    }
    return 0;
}

int32_t BUFSTREAM_CALL OutSplit(bufstream*) {
    return 0;
}

int32_t BUFSTREAM_CALL OutDone(bufstream* bs, int32_t) {
    OutputState* s = Out(bs);
    if (!s) return 0;
    DeliverHeld(s);
    std::free(s);
    bs->state = nullptr;  // a second done or free finds nothing to release
    return 0;
}

void BUFSTREAM_CALL OutFree(bufstream* bs) {
    if (!bs) return;
    if (bs->state) OutDone(bs, 0);
    std::free(bs);
}

// ---- statistics store ----

struct StatsBlock {
    bufstream bs;
    bufstream* chained;
    int32_t opened[kStatsFiles];  // the file was opened during this run
    FILE* files[kStatsFiles];
    char path[kStatsPathMax];
    int32_t deleteFlag;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(StatsBlock) == 2176, "statistics record is 2,176 bytes");
#endif

StatsBlock* Stats(bufstream* bs) {
    return reinterpret_cast<StatsBlock*>(bs);
}

int32_t OpenStats(StatsBlock* b, int i, const char* mode) {
    if (b->files[i]) return -1;
    std::string name = StatsFileName(b->path, i);
    if (name.empty()) return -1;
    b->files[i] = std::fopen(name.c_str(), mode);
    if (!b->files[i]) return -1;
    b->opened[i] = 1;
    return 0;
}

void CloseAll(StatsBlock* b) {
    for (int i = 0; i < kStatsFiles; ++i) {
        if (b->files[i]) {
            std::fclose(b->files[i]);
            b->files[i] = nullptr;
        }
        if (b->deleteFlag) DeleteStatsFile(b->path, i);
    }
}

int32_t BUFSTREAM_CALL StatsInfo(bufstream* bs, uint32_t index, uint32_t id, void* data, uint32_t size) {
    StatsBlock* b = Stats(bs);
    if (id < kStatsOpenWrite || id > kStatsSize) {
        if (b->chained && b->chained->info) return b->chained->info(b->chained, index, id, data, size);
        return -1;
    }
    if (index >= static_cast<uint32_t>(kStatsFiles)) return -1;
    const int i = static_cast<int>(index);
    FILE* f = b->files[i];
    switch (id) {
        case kStatsOpenWrite:
            return OpenStats(b, i, "wb");
        case kStatsOpenRead:
            return OpenStats(b, i, "rb");
        case kStatsClose:
            if (f) std::fclose(f);
            b->files[i] = nullptr;
            return 0;
        case kStatsWrite:
            if (!f || (size && !data)) return -1;
            return size == 0 || std::fwrite(data, size, 1, f) == 1 ? 0 : -1;
        case kStatsRead:
            if (!f || (size && !data)) return -1;
            return size == 0 || std::fread(data, size, 1, f) == 1 ? 0 : -1;
        case kStatsRewind:
            if (!f) return -1;
            std::rewind(f);
            return 0;
        case kStatsDelete:
            // An open file is still in use: refused, and it stays open.
            if (f) return -1;
            DeleteStatsFile(b->path, i);
            b->deleteFlag = 1;
            return 0;
        case kStatsDeleteLater:
            b->deleteFlag = 1;
            return 0;
        case kStatsSize: {
            if (!f || !data) return -1;
            long here = std::ftell(f);
            if (here < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
            long end = std::ftell(f);
            std::fseek(f, here, SEEK_SET);
            int32_t n = static_cast<int32_t>(end < 0 ? 0 : end);
            std::memcpy(data, &n, sizeof n);
            return 0;
        }
        default:
            return -1;
    }
}

int32_t BUFSTREAM_CALL StatsDone(bufstream* bs, int32_t abort_flag) {
    StatsBlock* b = Stats(bs);
    CloseAll(b);
    if (b->chained && b->chained->done) b->chained->done(b->chained, abort_flag);
    return 0;
}

void BUFSTREAM_CALL StatsFree(bufstream* bs) {
    if (!bs) return;
    StatsBlock* b = Stats(bs);
    CloseAll(b);
    if (b->chained && b->chained->free) b->chained->free(b->chained);
    std::free(b);
}

// ---- messages ----

char g_message[1024];

int BUFSTREAM_CALL Quiet(const char*, ...) {
    return 0;
}

}  // namespace

bufstream* CreateBitstreamOutput(OutputSink* sink, uint32_t bufferSize, void (*report)(const char*)) {
    auto* bs = static_cast<bufstream*>(std::calloc(1, sizeof(bufstream)));
    if (!bs) return nullptr;
    auto* s = static_cast<OutputState*>(std::calloc(1, sizeof(OutputState)));
    if (!s) {
        if (report) report("Unable to allocate memory for deliver buffer.");
        std::free(bs);
        return nullptr;
    }
    s->sink = sink;
    s->size = 0;
    s->bufferSize = bufferSize;
    bs->bytes_available = OutBytesAvailable;
    bs->request = OutRequest;
    bs->commit = OutCommit;
    bs->copy_bytes = OutCopyBytes;
    bs->buffer_size = OutBufferSize;
    bs->info = OutInfo;
    bs->split = OutSplit;
    bs->done = OutDone;
    bs->free = OutFree;
    bs->state = s;
    return bs;
}

uint64_t BitstreamOutputTotal(bufstream* bs) {
    OutputState* s = Out(bs);
    return s ? s->total : 0;
}

std::string StatsFileName(const char* basePath, int index) {
    if (!basePath) return std::string();
    char name[kStatsPathMax + 16];
    int n = std::snprintf(name, sizeof name, "%s.md%d", basePath, index);
    if (n < 0 || static_cast<size_t>(n) >= sizeof name) return std::string();
    return name;
}

void DeleteStatsFile(const char* basePath, int index) {
    std::string name = StatsFileName(basePath, index);
    if (!name.empty()) std::remove(name.c_str());
}

bufstream* CreateStatsFile(const char* basePath) {
    if (!basePath || !*basePath) return nullptr;
    size_t len = std::strlen(basePath);
    if (len >= kStatsPathMax) return nullptr;
    auto* b = static_cast<StatsBlock*>(std::calloc(1, sizeof(StatsBlock)));
    if (!b) return nullptr;
    std::memcpy(b->path, basePath, len + 1);
    b->bs.info = StatsInfo;
    b->bs.done = StatsDone;
    b->bs.free = StatsFree;
    b->bs.state = &b->chained;
    return &b->bs;
}

std::string DefaultStatsBase(const char* folder, int number) {
    char path[260];
    int n = std::snprintf(path, sizeof path, "%s\\Vidrel_stat_%d", folder ? folder : "", number);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) n = std::snprintf(path, sizeof path, "Vidrel_stat_%d", number);
    return n < 0 ? std::string() : std::string(path);
}

int BUFSTREAM_CALL FormatEngineMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(g_message, sizeof g_message - 1, format ? format : "", args);
    va_end(args);
    if (n < 0) g_message[0] = '\0';
    size_t len = std::strlen(g_message);
    g_message[len] = '\n';
    g_message[len + 1] = '\0';
    return n;
}

const char* LastEngineMessage() {
    return g_message;
}
void ClearEngineMessage() {
    g_message[0] = '\0';
}

void* BUFSTREAM_CALL VideoEncGetCallback(const char* name) {
    if (!name) return nullptr;
    if (std::strcmp(name, "err_printf") == 0) return reinterpret_cast<void*>(&FormatEngineMessage);
    if (std::strcmp(name, "prg_printf") == 0 || std::strcmp(name, "wrn_printf") == 0 ||
        std::strcmp(name, "inf_printf") == 0 || std::strcmp(name, "dbg_printf") == 0)
        return reinterpret_cast<void*>(&Quiet);
    return nullptr;
}

}  // namespace vidcore
