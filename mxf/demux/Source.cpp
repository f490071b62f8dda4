// The source reader: one read buffer per parser over a plain file (64-bit
// positions), the host's file callbacks or the caller-fed callbacks.
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "mxf/demux/Internal.h"

namespace mxfdemux {
namespace {

constexpr uint8_t kKeyPrefix[4] = {0x06, 0x0E, 0x2B, 0x34};

#if !defined(_WIN32)
// A wide name becomes UTF-8 for the host's open.
std::string Utf8(const char16_t* w) {
    std::string s;
    for (size_t i = 0; w[i]; ++i) {
        uint32_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}
#endif

int PlainOpen(const Instance* in) {
#if defined(_WIN32)
    const int flags = _O_RDONLY | _O_BINARY | _O_SEQUENTIAL;
    if (in->wide) return _wopen(reinterpret_cast<const wchar_t*>(in->wname), flags);
    return _open(in->name, flags);
#else
    if (in->wide) return ::open(Utf8(in->wname).c_str(), O_RDONLY);
    return ::open(in->name, O_RDONLY);
#endif
}

bool PlainSeek(int fd, int64_t pos) {
#if defined(_WIN32)
    return _lseeki64(fd, pos, SEEK_SET) == pos;
#else
    return ::lseek(fd, static_cast<off_t>(pos), SEEK_SET) == static_cast<off_t>(pos);
#endif
}

int PlainRead(int fd, uint8_t* dst, uint32_t n) {
#if defined(_WIN32)
    return _read(fd, dst, n);
#else
    return static_cast<int>(::read(fd, dst, n));
#endif
}

void PlainClose(int fd) {
#if defined(_WIN32)
    (void)_close(fd);
#else
    (void)::close(fd);
#endif
}

}  // namespace

bool SourceSeek(Parser* p, int64_t pos) {
    Instance* in = p->in;
    const uint32_t lo = static_cast<uint32_t>(static_cast<uint64_t>(pos));
    const uint32_t hi = static_cast<uint32_t>(static_cast<uint64_t>(pos) >> 32);
    switch (KindOf(in)) {
        case SourceKind::kCallerFed:
            return in->settings.fedSeek && in->settings.fedSeek(in->settings.fedUser, lo, hi) == 0;
        case SourceKind::kCallbacks:
            return in->settings.fileSeek && in->settings.fileSeek(in->settings.fileUser, p->handle, lo, hi) == 0;
        case SourceKind::kPlain:
            return PlainSeek(p->handle, pos);
    }
    return false;
}

namespace {

int SourceRead(Parser* p, uint8_t* dst, uint32_t n) {
    Instance* in = p->in;
    switch (KindOf(in)) {
        case SourceKind::kCallerFed:
            return in->settings.fedRead ? in->settings.fedRead(in->settings.fedUser, dst, n) : -1;
        case SourceKind::kCallbacks:
            return in->settings.fileRead ? in->settings.fileRead(in->settings.fileUser, p->handle, dst, n) : -1;
        case SourceKind::kPlain:
            return PlainRead(p->handle, dst, n);
    }
    return -1;
}

}  // namespace

SourceKind KindOf(const Instance* in) {
    if (in->settings.callerFed) return SourceKind::kCallerFed;
    if (in->settings.fileCallbacks) return SourceKind::kCallbacks;
    return SourceKind::kPlain;
}

void* Alloc(Instance* in, size_t size) {
    return in->mallocFn(in->user, size);
}
void Release(Instance* in, void* p) {
    if (p) in->freeFn(in->user, p);
}

ReadBuffer* NewBuffer(Instance* in, uint32_t size) {
    void* rec = Alloc(in, sizeof(ReadBuffer));
    if (!rec) {
        Error(in, "Unable to allocate %d bytes for stream buffer", static_cast<int>(sizeof(ReadBuffer)));
        return nullptr;
    }
    ReadBuffer* b = new (rec) ReadBuffer();
    b->data = static_cast<uint8_t*>(Alloc(in, size));
    if (!b->data) {
        Error(in, "Unable to allocate %d bytes for file buffer", static_cast<int>(size));
        Release(in, rec);
        return nullptr;
    }
    b->size = size;
    return b;
}

void FreeBuffer(Instance* in, ReadBuffer* b) {
    if (!b) return;
    Release(in, b->data);
    Release(in, b);
}

int StatSize(Instance* in, int64_t* size) {
#if defined(_WIN32)
    struct _stati64 st;
    const int rc = in->wide ? _wstati64(reinterpret_cast<const wchar_t*>(in->wname), &st) : _stati64(in->name, &st);
#else
    struct stat st;
    const int rc = in->wide ? ::stat(Utf8(in->wname).c_str(), &st) : ::stat(in->name, &st);
#endif
    if (rc != 0) return kFail;
    *size = static_cast<int64_t>(st.st_size);
    return kOk;
}

bool OpenSource(Parser* p) {
    Instance* in = p->in;
    switch (KindOf(in)) {
        case SourceKind::kCallerFed:
            return true;
        case SourceKind::kCallbacks: {
            const void* name = in->wide ? static_cast<const void*>(in->wname) : static_cast<const void*>(in->name);
            p->handle = in->settings.fileOpen ? in->settings.fileOpen(in->settings.fileUser, name) : -1;
            if (p->handle == -1) {
                Error(in, "Unable to open input file");
                return false;
            }
            return true;
        }
        case SourceKind::kPlain:
            p->handle = PlainOpen(in);
            if (p->handle == -1) {
                Error(in, "Unable to open file %s", in->wide ? "(wide name)" : in->name);
                return false;
            }
            return true;
    }
    return false;
}

void CloseSource(Parser* p) {
    Instance* in = p->in;
    if (p->handle == -1) return;
    if (KindOf(in) == SourceKind::kCallbacks) {
        if (in->settings.fileClose) in->settings.fileClose(in->settings.fileUser, p->handle);
    } else if (KindOf(in) == SourceKind::kPlain) {
        PlainClose(p->handle);
    }
    p->handle = -1;
}

bool Fill(Parser* p) {
    ReadBuffer* b = p->buf;
    const uint32_t keep = Buffered(p);
    if (p->error) return false;
    if (keep) std::memmove(b->data, b->data + p->rp, keep);
    b->filePos += p->rp;
    p->rp = 0;
    b->valid = keep;
    const int64_t at = b->filePos + keep;
    if (at >= p->in->fileSize) {
        p->end = true;
        return false;
    }
    uint64_t want = b->size - keep;
    if (want > static_cast<uint64_t>(p->in->fileSize - at)) want = static_cast<uint64_t>(p->in->fileSize - at);
    if (want == 0) return false;  // the buffer is full of unread bytes
    // The caller-fed source is shared: always say where the bytes come from.
    if (b->seekFirst || KindOf(p->in) == SourceKind::kCallerFed) {
        b->seekFirst = false;
        if (!SourceSeek(p, at)) {
            p->error = true;
            return false;
        }
    }
    const int got = SourceRead(p, b->data + keep, static_cast<uint32_t>(want));
    if (got <= 0) {
        p->error = true;
        return false;
    }
    b->valid = keep + static_cast<uint32_t>(got);
    return true;
}

bool ReadBytes(Parser* p, uint8_t* dst, uint32_t n) {
    while (n) {
        if (Buffered(p) == 0 && !Fill(p)) return false;
        uint32_t run = Buffered(p);
        if (run > n) run = n;
        std::memcpy(dst, p->buf->data + p->rp, run);
        p->rp += run;
        dst += run;
        n -= run;
    }
    return true;
}

uint32_t ReadU8(Parser* p) {
    uint8_t v = 0;
    return ReadBytes(p, &v, 1) ? v : 0;
}

uint32_t ReadU16(Parser* p) {
    uint8_t v[2] = {};
    if (!ReadBytes(p, v, 2)) return 0;
    return static_cast<uint32_t>(v[0]) << 8 | v[1];
}

uint32_t ReadU32(Parser* p) {
    uint8_t v[4] = {};
    if (!ReadBytes(p, v, 4)) return 0;
    return static_cast<uint32_t>(v[0]) << 24 | static_cast<uint32_t>(v[1]) << 16 | static_cast<uint32_t>(v[2]) << 8 |
           v[3];
}

uint64_t ReadU64(Parser* p) {
    const uint64_t hi = ReadU32(p);
    return hi << 32 | ReadU32(p);
}

uint64_t ReadBer(Parser* p) {
    const uint32_t first = ReadU8(p);
    if (first < 0x80) return first;
    const uint32_t n = first & 0x7F;
    // Longer lengths cannot describe a file: they read as "past the end".
    if (n > 8) return UINT64_MAX;
    uint64_t len = 0;
    for (uint32_t i = 0; i < n; ++i) len = len << 8 | ReadU8(p);
    return len;
}

void SkipTo(Parser* p, int64_t pos) {
    ReadBuffer* b = p->buf;
    if (pos >= b->filePos && pos <= b->filePos + b->valid) {
        p->rp = static_cast<uint32_t>(pos - b->filePos);
        return;
    }
    if (pos >= p->in->fileSize || pos < 0) {
        p->end = true;
        if (pos < 0) pos = 0;
    }
    // Repositioned outside the buffer: the next read seeks first.
    b->filePos = pos;
    b->valid = 0;
    p->rp = 0;
    b->seekFirst = true;
}

// Moves past a value of `len` bytes that starts at `payload`.
void SkipValue(Parser* p, int64_t payload, uint64_t len) {
    const int64_t size = p->in->fileSize;
    if (payload >= size || len >= static_cast<uint64_t>(size - payload)) {
        SkipTo(p, size);
        p->end = true;
        return;
    }
    SkipTo(p, payload + static_cast<int64_t>(len));
}

void Reposition(Parser* p, int64_t pos) {
    p->error = false;
    p->end = false;
    p->keyPos = -1;
    p->payloadPos = -1;
    p->remaining = 0;
    p->lastPull = 0;
    SkipTo(p, pos);
}

bool NextKey(Parser* p, uint8_t key[16], uint64_t* length, int64_t* keyPos) {
    uint32_t window = 0xFFFFFFFFu;
    const uint32_t prefix = 0x060E2B34u;
    *keyPos = -1;
    for (;;) {
        if (Buffered(p) == 0 && !Fill(p)) return false;
        window = window << 8 | p->buf->data[p->rp++];
        if (window == prefix) break;
    }
    *keyPos = Position(p) - 4;
    std::memcpy(key, kKeyPrefix, 4);
    if (!ReadBytes(p, key + 4, 12)) return false;
    *length = ReadBer(p);
    return !p->error && !p->end;
}

Parser* CreateParser(Instance* in, const ParserSettings& settings) {
    void* mem = Alloc(in, sizeof(Parser));
    if (!mem) {
        Error(in, "Unable to allocate %d bytes for parser", static_cast<int>(sizeof(Parser)));
        return nullptr;
    }
    Parser* p = new (mem) Parser();
    p->in = in;
    p->settings = settings;
    if (KindOf(in) == SourceKind::kCallerFed) {
        p->buf = in->shared;
    } else {
        p->buf = NewBuffer(in, settings.bufferSize ? settings.bufferSize : kDefaultBufferSize);
        p->ownsBuffer = true;
        if (!p->buf) Error(in, "Unable to create a bitstream buffer");
    }
    if (!p->buf || !OpenSource(p)) {
        DestroyParser(p);
        return nullptr;
    }
    p->buf->filePos = 0;
    p->buf->valid = 0;
    p->buf->seekFirst = true;
    return p;
}

void DestroyParser(Parser* p) {
    Instance* in = p->in;
    if (p->ownsBuffer) FreeBuffer(in, p->buf);
    CloseSource(p);
    p->~Parser();
    Release(in, p);
}

}  // namespace mxfdemux
