// The reader's instance and parser records and the source reader that all
// parsing goes through.
#ifndef MXF_DEMUX_INTERNAL_H
#define MXF_DEMUX_INTERNAL_H

#include "mxf/demux/MxfDemux.h"

namespace mxfdemux {

enum class SourceKind { kPlain, kCallbacks, kCallerFed };

struct ReadBuffer {
    uint32_t size = 0;
    uint8_t* data = nullptr;
    int64_t filePos = 0;     // file position of data[0]
    uint32_t valid = 0;      // bytes of data[] that hold file content
    bool seekFirst = false;  // seek the source to filePos + valid before the next read
};

// A consumer bound to a stream of one parser, with what it held before.
struct Binding {
    bufstream* consumer = nullptr;
    uint32_t bufferSize = 0;  // 0: pull delivery
    decltype(bufstream::info) savedInfo = nullptr;
    void* savedOwner = nullptr;
};

struct Parser {
    Instance* in = nullptr;
    int slot = 0;
    ParserSettings settings{};
    struct {
        uint8_t enabled;
        uint8_t stream;
    } itemMap[256]{};
    Binding bindings[kMaxStreams];
    ReadBuffer* buf = nullptr;
    bool ownsBuffer = false;
    uint32_t rp = 0;  // read index into buf->data
    int handle = -1;
    bool error = false;
    bool end = false;
    bool sleeping = false;
    // The current element.
    int64_t keyPos = -1;
    int64_t payloadPos = -1;
    uint64_t remaining = 0;
    int stream = 0;
    uint32_t lastPull = 0;
};

struct RipEntry {
    uint32_t bodySid = 0;
    uint64_t byteOffset = 0;
    int64_t firstSystemItem = -1;
};

struct Instance {
    Settings settings{};
    void* user = nullptr;
    MallocFn mallocFn = nullptr;
    FreeFn freeFn = nullptr;
    PrintfFn errFn = nullptr;
    PrintfFn wrnFn = nullptr;
    PrintfFn infFn = nullptr;
    RecordAdapter adapter{};
    // The stored name: narrow or wide.
    char name[kMaxNameLength + 1];
    char16_t wname[kMaxNameLength + 1];
    bool wide = false;
    int64_t fileSize = 0;  // working size: parsing stops here
    bool open = false;
    Parser* parsers[kMaxParsers]{};
    int parserCount = 0;
    FileInfo info{};
    StreamInfo streams[kMaxStreams]{};
    RipEntry* rip = nullptr;
    uint32_t ripCount = 0;
    uint8_t* index = nullptr;
    ReadBuffer* shared = nullptr;  // caller-fed mode's one read buffer
};

// Allocation and messages through the host's callbacks.
void* Alloc(Instance* in, size_t size);
void Release(Instance* in, void* p);
template <typename... A>
void Error(Instance* in, const char* format, A... args) {
    in->errFn(in->user, format, args...);
}

SourceKind KindOf(const Instance* in);
ReadBuffer* NewBuffer(Instance* in, uint32_t size);
void FreeBuffer(Instance* in, ReadBuffer* b);

// Parser lifetime shared by the exports and the probe's temporary parser.
Parser* CreateParser(Instance* in, const ParserSettings& settings);
void DestroyParser(Parser* p);
bool OpenSource(Parser* p);
bool SourceSeek(Parser* p, int64_t pos);
void CloseSource(Parser* p);
int StatSize(Instance* in, int64_t* size);  // plain-file size of the stored name

// Source reader. Reads past the working size set the end flag, source
// failures the error flag; both return 0 bytes.
inline int64_t Position(const Parser* p) {
    return p->buf->filePos + p->rp;
}
inline uint32_t Buffered(const Parser* p) {
    return p->buf->valid - p->rp;
}
bool Fill(Parser* p);  // refill keeping the unread bytes; false at end or on error
bool ReadBytes(Parser* p, uint8_t* dst, uint32_t n);
uint32_t ReadU8(Parser* p);
uint32_t ReadU16(Parser* p);
uint32_t ReadU32(Parser* p);
uint64_t ReadU64(Parser* p);
uint64_t ReadBer(Parser* p);
void SkipTo(Parser* p, int64_t pos);                       // moves without touching the element state
void Reposition(Parser* p, int64_t pos);                   // resets flags and element state, then moves
void SkipValue(Parser* p, int64_t payload, uint64_t len);  // past a KLV value, bounded by the size
// Scans to the next 06 0E 2B 34 and reads the key's other 12 bytes and the
// length; false at the end or on error (keyPos -1 when no prefix was met).
bool NextKey(Parser* p, uint8_t key[16], uint64_t* length, int64_t* keyPos);

// Probing (open) and element delivery.
int ProbeFile(Instance* in);
int NextElement(Parser* p, ElementRecord* out);

}  // namespace mxfdemux

#endif  // MXF_DEMUX_INTERNAL_H
