// The reader's entry points: instance, open and close, information, parsers,
// stream binding, seeking, sleeping and growing files.
#include <cstdlib>
#include <cstring>
#include <new>

#include "mxf/demux/Internal.h"

namespace mxfdemux {
namespace {

void* MXFDEMUX_CALL CrtMalloc(void*, size_t size) {
    return std::malloc(size);
}
void MXFDEMUX_CALL CrtFree(void*, void* p) {
    std::free(p);
}
int MXFDEMUX_CALL Silent(void*, const char*, ...) {
    return 0;
}

void NativePush(bufstream* consumer, const ElementRecord& record) {
    ElementRecord copy = record;
    (void)consumer->info(consumer, 0, kElementInfoId, &copy, sizeof copy);
}

int32_t BUFSTREAM_CALL NativePullInfo(bufstream* consumer, uint32_t, uint32_t id, void* data, uint32_t size) {
    if (id != kElementInfoId) return -1;
    if (size != sizeof(ElementRecord)) return 0;
    return Pull(consumer, static_cast<ElementRecord*>(data));
}

template <typename T>
T Lookup(GetCallbackFn get, void* user, const char* name, T fallback) {
    void* f = get ? get(user, name) : nullptr;
    return f ? reinterpret_cast<T>(f) : fallback;
}

// The parser behind a number, after the checks every parser export makes.
Parser* ParserOf(Instance* in, int n) {
    if (!in->open) {
        Error(in, "A file is not open");
        return nullptr;
    }
    if (n < 1 || n > kMaxParsers || !in->parsers[n - 1]) {
        Error(in, "Invalid parser number");
        return nullptr;
    }
    return in->parsers[n - 1];
}

// Hands a consumer back what it held before it was bound.
void Unbind(Parser* p, int stream) {
    Binding& b = p->bindings[stream];
    if (b.consumer && b.bufferSize == 0) {
        b.consumer->info = b.savedInfo;
        b.consumer->owner = b.savedOwner;
    }
    b = Binding{};
    p->itemMap[p->in->streams[stream].itemType & 0xFF] = {0, 0};
}

void ReleaseParser(Instance* in, int slot) {
    Parser* p = in->parsers[slot];
    if (!p) return;
    for (int s = 0; s < kMaxStreams; ++s)
        if (p->bindings[s].consumer) Unbind(p, s);
    DestroyParser(p);
    in->parsers[slot] = nullptr;
    --in->parserCount;
}

int DoOpen(Instance* in) {
    in->info = FileInfo{};
    std::memset(in->streams, 0, sizeof in->streams);
    if (KindOf(in) == SourceKind::kPlain) {
        int64_t size = 0;
        if (StatSize(in, &size) != kOk) {
            if (in->wide)
                Error(in, "Unable to get the file size of the input file");
            else
                Error(in, "Unable to get the file size of file %s", in->name);
            return kFail;
        }
        in->fileSize = size;
    } else {
        in->fileSize = in->settings.fileSize;
    }
    in->info.fileSize = in->fileSize;
    if (ProbeFile(in) != kOk) {
        Error(in, "Unknown file type");
        Release(in, in->rip);
        in->rip = nullptr;
        in->ripCount = 0;
        Release(in, in->index);
        in->index = nullptr;
        in->info.index = nullptr;
        return kFail;
    }
    in->open = true;
    return kOk;
}

}  // namespace

Instance* New(GetCallbackFn getCallback, void* user, const Settings* settings) {
    const MallocFn m = Lookup<MallocFn>(getCallback, user, "malloc_ex", CrtMalloc);
    void* mem = m(user, sizeof(Instance));
    if (!mem) return nullptr;
    std::memset(mem, 0, sizeof(Instance));
    Instance* in = new (mem) Instance();
    in->user = user;
    in->mallocFn = m;
    in->freeFn = Lookup<FreeFn>(getCallback, user, "free_ex", CrtFree);
    in->errFn = Lookup<PrintfFn>(getCallback, user, "err_printf_ex", Silent);
    in->wrnFn = Lookup<PrintfFn>(getCallback, user, "wrn_printf_ex", Silent);
    in->infFn = Lookup<PrintfFn>(getCallback, user, "inf_printf_ex", Silent);
    in->adapter = RecordAdapter{NativePush, NativePullInfo};
    if (!settings) {
        Error(in, "Invalid settings parameter");
        Free(in);
        return nullptr;
    }
    in->settings = *settings;
    if (settings->callerFed) {
        in->shared = NewBuffer(in, kDefaultBufferSize);
        if (!in->shared) {
            Error(in, "Unable to create a splitter buffer");
            Free(in);
            return nullptr;
        }
    }
    return in;
}

void Free(Instance* in) {
    if (!in) return;
    Close(in);
    FreeBuffer(in, in->shared);
    const FreeFn f = in->freeFn;
    void* user = in->user;
    in->~Instance();
    f(user, in);
}

void SetRecordAdapter(Instance* in, const RecordAdapter& adapter) {
    if (in) in->adapter = adapter;
}

int Open(Instance* in, const char* name) {
    if (!in) return kFail;
    if (in->open) {
        Error(in, "A file is already open");
        return kFail;
    }
    if (KindOf(in) != SourceKind::kCallerFed) {
        if (!name || !*name) {
            Error(in, "Invalid filename parameter");
            return kFail;
        }
        const size_t n = std::strlen(name);
        if (n > kMaxNameLength) {
            Error(in, "Unable to handle filename length");
            return kFail;
        }
        std::memcpy(in->name, name, n + 1);
        in->wide = false;
    }
    return DoOpen(in);
}

int OpenW(Instance* in, const char16_t* name) {
    if (!in) return kFail;
    if (in->open) {
        Error(in, "A file is already open");
        return kFail;
    }
    if (!name || !*name) {
        Error(in, "Invalid filename parameter");
        return kFail;
    }
    size_t n = 0;
    while (name[n] && n <= kMaxNameLength) ++n;
    if (n > kMaxNameLength) {
        Error(in, "Unable to handle filename length");
        return kFail;
    }
    std::memcpy(in->wname, name, (n + 1) * sizeof(char16_t));
    in->wide = true;
    return DoOpen(in);
}

void Close(Instance* in) {
    if (!in) return;
    for (int i = 0; i < kMaxParsers; ++i) ReleaseParser(in, i);
    in->parserCount = 0;
    Release(in, in->rip);
    in->rip = nullptr;
    in->ripCount = 0;
    Release(in, in->index);
    in->index = nullptr;
    in->info.index = nullptr;
    in->open = false;
}

int GetFileInfo(Instance* in, FileInfo* out) {
    if (!in) return kFail;
    if (!out) {
        Error(in, "Invalid file_info_struct paramater");
        return kFail;
    }
    if (!in->open) {
        Error(in, "A file is not open");
        return kFail;
    }
    *out = in->info;
    return kOk;
}

int GetStreamInfo(Instance* in, StreamInfo* out, int stream) {
    if (!in) return kFail;
    if (!out) {
        Error(in, "Invalid stream_info_struct paramater");
        return kFail;
    }
    if (!in->open) {
        Error(in, "A file is not open");
        return kFail;
    }
    if (stream < 0 || stream >= in->info.streamCount) {
        Error(in, "Invalid stream number %d, range is 0 .. %d", stream, in->info.streamCount);
        return kFail;
    }
    *out = in->streams[stream];
    return kOk;
}

int NewParser(Instance* in, const ParserSettings* settings) {
    if (!in) return 0;
    if (!in->open) {
        Error(in, "A file is not open");
        return 0;
    }
    if (!settings) {
        Error(in, "Invalid mxfdmux_parser_settings parameter");
        return 0;
    }
    // Caller-fed sources share one read buffer: one parser at a time.
    const int limit = KindOf(in) == SourceKind::kCallerFed ? 1 : kMaxParsers;
    if (in->parserCount >= limit) {
        Error(in, "The maximum (%d) number or parsers have been created", limit);
        return 0;
    }
    int slot = 0;
    while (slot < kMaxParsers && in->parsers[slot]) ++slot;
    if (slot == kMaxParsers) {
        Error(in, "No free parser slot could be found");
        return 0;
    }
    Parser* p = CreateParser(in, *settings);
    if (!p) return 0;
    p->slot = slot;
    in->parsers[slot] = p;
    ++in->parserCount;
    return slot + 1;
}

void FreeParser(Instance* in, int parser) {
    if (!in || !ParserOf(in, parser)) return;
    ReleaseParser(in, parser - 1);
}

namespace {

Parser* BindingChecks(Instance* in, int parser, const StreamSettings* settings) {
    Parser* p = ParserOf(in, parser);
    if (!p) return nullptr;
    if (!settings) {
        Error(in, "Invalid mxfdmux_stream_settings parameter");
        return nullptr;
    }
    if (settings->stream < 0 || settings->stream >= in->info.streamCount) {
        Error(in, "Invalid stream number, range is 0 .. %d", in->info.streamCount);
        return nullptr;
    }
    return p;
}

}  // namespace

int AddStream(Instance* in, int parser, const StreamSettings* settings) {
    if (!in) return kFail;
    Parser* p = BindingChecks(in, parser, settings);
    if (!p) return kFail;
    if (!settings->consumer) {
        Error(in, "Invalid info bufstream field");
        return kFail;
    }
    const int n = settings->stream;
    if (p->bindings[n].consumer) Unbind(p, n);
    bufstream* c = settings->consumer;
    Binding& b = p->bindings[n];
    b.consumer = c;
    b.bufferSize = c->buffer_size ? c->buffer_size(c) : 0;
    p->itemMap[in->streams[n].itemType & 0xFF] = {1, static_cast<uint8_t>(n)};
    if (b.bufferSize == 0) {
        b.savedInfo = c->info;
        b.savedOwner = c->owner;
        c->owner = p;
        c->info = in->adapter.pullInfo;
    }
    return kOk;
}

int RemoveStream(Instance* in, int parser, const StreamSettings* settings) {
    if (!in) return kFail;
    Parser* p = BindingChecks(in, parser, settings);
    if (!p) return kFail;
    Unbind(p, settings->stream);
    return kOk;
}

int Seek(Instance* in, int parser, int64_t position) {
    if (!in) return kFail;
    Parser* p = ParserOf(in, parser);
    if (!p) return kFail;
    if (position < 0 || position >= in->fileSize) {
        Error(in, "Invalid file position");
        return kFail;
    }
    Reposition(p, position);
    if (p->end) return kEnd;
    return p->error ? kFail : kOk;
}

int Push(Instance* in, int parser) {
    if (!in) return kFail;
    Parser* p = ParserOf(in, parser);
    if (!p) return kFail;
    if (p->error) return kFail;
    if (p->end) return kEnd;
    return NextElement(p, nullptr);
}

int SleepParser(Instance* in, int parser) {
    if (!in) return kFail;
    Parser* p = ParserOf(in, parser);
    if (!p) return kFail;
    // The buffer remembers where the next read goes: nothing else to save.
    if (KindOf(in) != SourceKind::kCallerFed) CloseSource(p);
    p->sleeping = true;
    return kOk;
}

int WakeParser(Instance* in, int parser) {
    if (!in) return kFail;
    Parser* p = ParserOf(in, parser);
    if (!p) return kFail;
    if (!p->sleeping) return kOk;
    if (KindOf(in) != SourceKind::kCallerFed && !OpenSource(p)) return kFail;
    // The buffer stays valid: the source goes on where its next read starts.
    if (!SourceSeek(p, p->buf->filePos + p->buf->valid)) {
        p->error = true;
        return kFail;
    }
    p->buf->seekFirst = false;
    p->sleeping = false;
    return kOk;
}

int UpdateFilesize(Instance* in, int parser, int64_t size) {
    if (!in) return kFail;
    if (!ParserOf(in, parser)) return kFail;
    if (KindOf(in) != SourceKind::kPlain) {
        if (size <= 0) {
            Error(in, "Invalid 0 file size");
            return kFail;
        }
        in->fileSize = size;
    } else {
        int64_t now = 0;
        if (StatSize(in, &now) != kOk) {
            Error(in, "Unable to get the size of the input file");
            return kFail;
        }
        in->fileSize = now;
    }
    in->info.fileSize = in->fileSize;
    // Parsers stopped at the old size may read on.
    for (Parser* q : in->parsers)
        if (q && q->end && Position(q) < in->fileSize) q->end = false;
    return kOk;
}

int SetFirstSplitRead(Instance* in, int parser, void* value) {
    if (!in) return kFail;
    Parser* p = ParserOf(in, parser);
    if (!p) return kFail;
    p->buf->seekFirst = true;
    if (value) in->settings.fedUser = value;
    return kOk;
}

}  // namespace mxfdemux
