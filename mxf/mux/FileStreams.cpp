// The buffered file reader and writer.
#include "mxf/mux/BackgroundWriter.h"
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/FileIo.h"
#include "mxf/mux/NavPacks.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

using mexora::FileSizeOf;
using namespace mexora;  // the navigation tables and their ids

namespace {

constexpr size_t kNameMax = 2048;

void Report(bs_error_fn err, const char* text) {
    if (err) err(text);
}

void ClearRecord(bufstream* bs) {
    std::memset(bs, 0, sizeof *bs);
}

// ---- reader ----

struct ReaderState {
    FILE* file = nullptr;
    uint8_t* buffer = nullptr;
    uint32_t offset = 0;  // read offset into the buffer
    uint32_t fill = 0;    // bytes buffered
    uint32_t capacity = 0;
    int64_t position = 0;  // bytes delivered
    int64_t fileSize = 0;
    bool swap = false;  // exchange the bytes of every 16-bit word
    bool hasCarry = false;
    uint8_t carry = 0;
};

ReaderState* Reader(bufstream* bs) {
    return static_cast<ReaderState*>(bs->state);
}

// Reads up to n bytes in delivery order (swapped when asked).
uint32_t ReadFile(ReaderState* s, uint8_t* dst, uint32_t n) {
    if (!s->swap) return static_cast<uint32_t>(std::fread(dst, 1, n, s->file));
    uint32_t got = 0;
    if (n == 0) return 0;
    if (s->hasCarry) {
        dst[got++] = s->carry;
        s->hasCarry = false;
    }
    const uint32_t r = static_cast<uint32_t>(std::fread(dst + got, 1, n - got, s->file));
    for (uint32_t i = 0; i + 1 < r; i += 2) std::swap(dst[got + i], dst[got + i + 1]);
    if (r & 1u) {
        // The last byte opens a pair: fetch its partner and keep it back.
        const int next = std::fgetc(s->file);
        if (next != EOF) {
            s->carry = dst[got + r - 1];
            s->hasCarry = true;
            dst[got + r - 1] = static_cast<uint8_t>(next);
        }
    }
    return got + r;
}

uint32_t BUFSTREAM_CALL ReaderAvailable(bufstream* bs) {
    ReaderState* s = Reader(bs);
    return s ? s->fill - s->offset : 0;
}

uint8_t* BUFSTREAM_CALL ReaderRequest(bufstream* bs, uint32_t n) {
    ReaderState* s = Reader(bs);
    if (!s) return nullptr;
    if (s->fill - s->offset >= n) return s->buffer + s->offset;
    if (n > s->capacity) return nullptr;
    if (s->offset == s->fill) s->offset = s->fill = 0;
    if (s->offset + n > s->capacity) {
        std::memmove(s->buffer, s->buffer + s->offset, s->fill - s->offset);
        s->fill -= s->offset;
        s->offset = 0;
    }
    s->fill += ReadFile(s, s->buffer + s->fill, s->capacity - s->fill);
    return s->fill - s->offset >= n ? s->buffer + s->offset : nullptr;
}

uint32_t BUFSTREAM_CALL ReaderCommit(bufstream* bs, uint32_t n) {
    ReaderState* s = Reader(bs);
    if (!s) return 0;
    if (n > s->fill - s->offset) n = s->fill - s->offset;  // never past what was buffered
    s->offset += n;
    s->position += n;
    return n;
}

uint32_t BUFSTREAM_CALL ReaderCopy(bufstream* bs, uint8_t* p, uint32_t n) {
    ReaderState* s = Reader(bs);
    if (!s || !p) return 0;
    const uint32_t buffered = s->fill - s->offset;
    uint32_t got;
    if (buffered >= n) {
        std::memcpy(p, s->buffer + s->offset, n);
        s->offset += n;
        got = n;
    } else {
        std::memcpy(p, s->buffer + s->offset, buffered);
        s->offset = s->fill = 0;
        got = buffered + ReadFile(s, p + buffered, n - buffered);
    }
    s->position += got;
    return got;
}

uint32_t BUFSTREAM_CALL ReaderBufferSize(bufstream* bs) {
    ReaderState* s = Reader(bs);
    return s ? s->capacity : 0;
}

int32_t BUFSTREAM_CALL ReaderInfo(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t size) {
    ReaderState* s = Reader(bs);
    if (!s) return 0;
    if (id == BS_INFO_POSITION && data && size == 8) std::memcpy(data, &s->position, 8);
    if (id == BS_INFO_FILE_SIZE && data && size == 8) std::memcpy(data, &s->fileSize, 8);
    if (id == BS_INFO_SWAP_BYTES) s->swap = true;
    return 0;
}

int32_t BUFSTREAM_CALL ReaderDone(bufstream* bs, int32_t) {
    ReaderState* s = Reader(bs);
    if (!s) return 0;
    const int closed = std::fclose(s->file);
    std::free(s->buffer);
    delete s;
    bs->state = nullptr;
    return closed == 0 ? 0 : -1;
}

// ---- writer ----

struct WriterState {
    FILE* file = nullptr;
    uint8_t* buffer = nullptr;
    uint32_t pending = 0;
    uint32_t capacity = 0;
    uint32_t granted = 0;  // room of the last request
    int64_t position = 0;  // bytes written to the current file
    int32_t splits = 0;
    bool failed = false;  // a write of this file came up short
    std::string name;
    std::string base;  // name without its extension, once split
    std::string extension;
    NavTables nav;                // DVD navigation packs to patch at the end
    BackgroundWriter background;  // takes the bytes while the file is open
};

WriterState* Writer(bufstream* bs) {
    return static_cast<WriterState*>(bs->state);
}

// Appends n bytes to the file (by its background writer when it has one);
// false once the file took fewer.
bool Put(WriterState* s, const uint8_t* p, size_t n) {
    const bool ok = s->background.Attached() ? s->background.Write(p, n) : std::fwrite(p, 1, n, s->file) == n;
    if (!ok) s->failed = true;
    return !s->failed;
}

// Opens the background writer on the current file; without one the bytes
// are written directly.
void StartBackground(WriterState* s) {
    (void)s->background.Attach(s->file);
}

// Writes the pending bytes; false when the file took fewer.
bool WritePending(WriterState* s) {
    const uint32_t n = s->pending;
    s->pending = 0;
    s->granted = 0;
    if (n == 0) return true;
    return Put(s, s->buffer, n);
}

uint32_t BUFSTREAM_CALL WriterAvailable(bufstream* bs) {
    WriterState* s = Writer(bs);
    return s ? s->capacity - s->pending : 0;
}

uint8_t* BUFSTREAM_CALL WriterRequest(bufstream* bs, uint32_t n) {
    WriterState* s = Writer(bs);
    if (!s || n > s->capacity) return nullptr;
    if (s->pending + n > s->capacity && !WritePending(s)) return nullptr;
    s->granted = s->capacity - s->pending;
    return s->buffer + s->pending;
}

uint32_t BUFSTREAM_CALL WriterCommit(bufstream* bs, uint32_t n) {
    WriterState* s = Writer(bs);
    if (!s) return 0;
    if (n > s->granted) n = s->granted;  // only room that was handed out
    s->granted -= n;
    s->pending += n;
    s->position += n;
    return n;
}

uint32_t BUFSTREAM_CALL WriterCopy(bufstream* bs, uint8_t* p, uint32_t n) {
    WriterState* s = Writer(bs);
    if (!s || (!p && n)) return 0;
    if (!WritePending(s)) return 0;
    if (n && !Put(s, p, n)) return 0;
    s->position += n;
    return n;
}

uint32_t BUFSTREAM_CALL WriterBufferSize(bufstream* bs) {
    WriterState* s = Writer(bs);
    return s ? s->capacity : 0;
}

// Flushes to the file; false when anything failed so far.
bool Flush(WriterState* s) {
    const bool written = WritePending(s);
    if (s->background.Attached() && !s->background.Flush()) s->failed = true;
    return written && std::fflush(s->file) == 0 && !s->failed;
}

// Flushes, then gives the file back from the background writer.
bool FlushAndStop(WriterState* s) {
    const bool flushed = Flush(s);
    return s->background.Detach() && flushed;
}

// The number of the next file, zero-padded to at least three digits.
std::string NumberedName(const WriterState* s, int32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return s->base + digits + s->extension;
}

int32_t BUFSTREAM_CALL WriterSplit(bufstream* bs) {
    WriterState* s = Writer(bs);
    if (!s || s->splits < 0 || s->splits == INT32_MAX) return -1;
    const bool flushed = FlushAndStop(s);
    const bool closed = std::fclose(s->file) == 0;
    s->file = nullptr;
    if (s->splits == 0) {
        // The extension is what follows the last dot of the file's own name,
        // not a dot in one of its folders.
        const size_t slash = s->name.find_last_of("/\\");
        const size_t dot = s->name.rfind('.');
        const bool inName = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        s->base = inName ? s->name.substr(0, dot) : s->name;
        s->extension = inName ? s->name.substr(dot) : std::string();
    }
    const std::string next = NumberedName(s, s->splits + 1);
    s->file = std::fopen(next.c_str(), "wb");
    if (!s->file) return -1;
    s->name = next;
    s->nav.NewFile(next);
    StartBackground(s);
    s->splits++;
    s->position = 0;
    s->failed = false;
    return flushed && closed ? 0 : -1;
}

int32_t Int32At(const void* data, uint32_t size, uint32_t index) {
    int32_t v = 0;
    if (data && size >= 4 * (index + 1)) std::memcpy(&v, static_cast<const uint8_t*>(data) + 4 * index, 4);
    return v;
}

// The navigation ids a DVD producer sends; anything else answers 0.
int32_t NavInfo(WriterState* s, uint32_t offset, uint32_t id, void* data, uint32_t size) {
    NavTables& nav = s->nav;
    switch (id) {
        case kNavStart:
            nav.Start(s->name);
            return 0;
        case kNavEntry:
            if (size < 12) return -1;
            nav.AddEntry({Int32At(data, size, 0), Int32At(data, size, 1), Int32At(data, size, 2)});
            return 0;
        case kNavFileValue:
            nav.SetFileValue(Int32At(data, size, 0));
            return 0;
        case kNavSuppress:
            nav.Suppress();
            return 0;
        case kNavTimecode:
            nav.EnableTimecode();
            return 0;
        case kNavSegment:
            nav.AddSegmentStart();
            return 0;
        case kNavAudioTable:
        case kNavSubTable:
            return nav.AddStreamTable(id == kNavAudioTable);
        case kNavAudioValue:
        case kNavSubValue:
            if (size != 8) return -1;
            return nav.AppendStreamValue(id == kNavAudioValue, Int32At(data, size, 0), Int32At(data, size, 1)) ? 0 : -1;
        case kNavAudioAdjust:
            nav.SetAudioAdjust(static_cast<int32_t>(offset));
            return 0;
        default:
            return 0;
    }
}

int32_t BUFSTREAM_CALL WriterInfo(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size) {
    WriterState* s = Writer(bs);
    if (!s) return 0;
    switch (id) {
        case BS_INFO_POSITION:
            if (data && size == 8) std::memcpy(data, &s->position, 8);
            return 0;
        case BS_INFO_FLUSH:
            return Flush(s) ? 0 : -1;
        case BS_INFO_SPLIT:
            return WriterSplit(bs);
        case BS_INFO_SPLIT_COUNT:
            if (data && size == 4) std::memcpy(data, &s->splits, 4);
            return 0;
        case BS_INFO_FILE_NAME:
            if (!data || s->name.size() + 1 > size) return -1;
            std::memcpy(data, s->name.c_str(), s->name.size() + 1);
            return 0;
        default:
            return NavInfo(s, offset, id, data, size);
    }
}

int32_t BUFSTREAM_CALL WriterDone(bufstream* bs, int32_t) {
    WriterState* s = Writer(bs);
    if (!s) return 0;
    bool ok = true;
    if (s->file) {
        ok = FlushAndStop(s);
        ok = std::fclose(s->file) == 0 && ok;
    }
    // The navigation packs are rewritten once every file is complete.
    if (s->nav.Collecting() && !s->nav.Suppressed() && !s->nav.PatchFiles()) ok = false;
    std::free(s->buffer);
    delete s;
    bs->state = nullptr;
    return ok ? 0 : -1;
}

}  // namespace

extern "C" {

void BUFSTREAM_CALL bufstream_free(bufstream* bs) {
    if (!bs) return;
    if (bs->state && bs->done) bs->done(bs, 0);
    std::free(bs);
}

int32_t bs_file_reader_init(bufstream* bs, const char* name, uint32_t buffer_size, bs_error_fn err) {
    if (!bs || !name || buffer_size == 0) return -1;
    ClearRecord(bs);
    ReaderState* s = new (std::nothrow) ReaderState;
    if (!s) {
        Report(err, "BUFSTRM:Unable to allocate 5544 bytes for bufstream object");
        return -1;
    }
    s->file = std::fopen(name, "rb");
    if (!s->file) {
        Report(err, "BUFSTRM:Unable to open file for reading.");
        delete s;
        return -1;
    }
    s->fileSize = FileSizeOf(s->file);
    if (s->fileSize < 0) {
        Report(err, "BUFSTRM:Unable to get the size of the file.");
        std::fclose(s->file);
        delete s;
        return -1;
    }
    s->buffer = static_cast<uint8_t*>(std::malloc(buffer_size));
    if (!s->buffer) {
        Report(err, "BUFSTRM:Unable to allocate the bufstream buffer.");
        std::fclose(s->file);
        delete s;
        return -1;
    }
    s->capacity = buffer_size;
    bs->bytes_available = ReaderAvailable;
    bs->request = ReaderRequest;
    bs->commit = ReaderCommit;
    bs->copy_bytes = ReaderCopy;
    bs->buffer_size = ReaderBufferSize;
    bs->info = ReaderInfo;
    bs->done = ReaderDone;
    bs->free = bufstream_free;
    bs->state = s;
    return 0;
}

bufstream* bs_file_reader_open(const char* name, uint32_t buffer_size, bs_error_fn err) {
    bufstream* bs = static_cast<bufstream*>(std::malloc(sizeof(bufstream)));
    if (!bs) return nullptr;
    if (bs_file_reader_init(bs, name, buffer_size, err) != 0) {
        std::free(bs);
        return nullptr;
    }
    return bs;
}

int32_t bs_file_writer_init(bufstream* bs, const char* name, uint32_t buffer_size, bs_error_fn err) {
    if (!bs || !name || buffer_size == 0 || std::strlen(name) >= kNameMax) return -1;
    ClearRecord(bs);
    WriterState* s = new (std::nothrow) WriterState;
    if (!s) {
        Report(err, "BUFSTRM:Unable to allocate 5544 bytes for bufstream object");
        return -1;
    }
    s->file = std::fopen(name, "wb");
    if (!s->file) {
        Report(err, "BUFSTRM:Unable to open file for writing");
        delete s;
        return -1;
    }
    s->buffer = static_cast<uint8_t*>(std::malloc(buffer_size));
    if (!s->buffer) {
        std::fclose(s->file);
        delete s;
        return -1;
    }
    s->capacity = buffer_size;
    s->name = name;
    StartBackground(s);
    bs->bytes_available = WriterAvailable;
    bs->request = WriterRequest;
    bs->commit = WriterCommit;
    bs->copy_bytes = WriterCopy;
    bs->buffer_size = WriterBufferSize;
    bs->info = WriterInfo;
    bs->split = WriterSplit;
    bs->done = WriterDone;
    bs->free = bufstream_free;
    bs->reserved[1] = 1;
    bs->state = s;
    return 0;
}

bufstream* bs_file_writer_open(const char* name, uint32_t buffer_size, bs_error_fn err) {
    bufstream* bs = static_cast<bufstream*>(std::malloc(sizeof(bufstream)));
    if (!bs) return nullptr;
    if (bs_file_writer_init(bs, name, buffer_size, err) != 0) {
        std::free(bs);
        return nullptr;
    }
    return bs;
}

}  // extern "C"
