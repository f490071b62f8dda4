// mxfdemux IN.mxf OUTDIR [--pull]: prints what the reader finds in a file and
// writes its essence: OUTDIR/v.m2v for the picture, OUTDIR/a<k>.raw for each
// sound element number k (D-10 sound without its 4-byte element headers).
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "mxf/demux/MxfDemux.h"
#include "mxf/mux/BackgroundWriter.h"
#include "mxf/mux/driver/OldOutputs.h"

namespace {

using namespace mxfdemux;

constexpr uint32_t kSmallStreamBuffer = 64 * 1024;

int MXFDEMUX_CALL PrintError(void*, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::fputs("mxfdemux: ", stderr);
    std::vfprintf(stderr, format, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    return 0;
}

void* MXFDEMUX_CALL Lookup(void*, const char* name) {
    return std::strcmp(name, "err_printf_ex") == 0 ? reinterpret_cast<void*>(&PrintError) : nullptr;
}

// One output file, written in large blocks from a thread of its own while
// the reading goes on.
struct OutputFile {
    FILE* file = nullptr;
    mexora::BackgroundWriter writer;
};

// Writes what it gets to one file per element number (the picture: one file).
struct Output {
    bufstream bs{};
    std::string dir;
    bool sound = false;
    bool failed = false;
    uint32_t size = 0;
    std::vector<uint8_t> pending;  // pushed bytes wait for their record
    uint32_t number = 0;
    std::map<uint32_t, std::unique_ptr<OutputFile>> files;
    mexora::OldOutputs* old = nullptr;  // older files of the outputs' names
    OutputFile* current = nullptr;      // the file of `number`

    OutputFile* File(uint32_t n) {
        auto it = files.find(n);
        if (it != files.end()) return it->second.get();
        const std::string name = dir + (sound ? "/a" + std::to_string(n) + ".raw" : "/v.m2v");
        auto out = std::make_unique<OutputFile>();
        old->Replace(name);
        out->file = std::fopen(name.c_str(), "wb");
        if (!out->file) {
            std::fprintf(stderr, "mxfdemux: cannot create %s\n", name.c_str());
            failed = true;
        } else if (!out->writer.Attach(out->file)) {
            std::fprintf(stderr, "mxfdemux: cannot start writing %s\n", name.c_str());
            failed = true;
        }
        OutputFile* f = out.get();
        files[n] = std::move(out);
        return f;
    }
    void Write(const ElementRecord& r, const uint8_t* p, size_t n) {
        if ((r.flags & kFirstPiece) || !current) {
            if (r.flags & kFirstPiece) number = sound ? r.elementNumber : 0;
            current = File(number);
        }
        if (current->writer.Attached() && n && !current->writer.Write(p, n)) failed = true;
    }
    bool Close() {
        for (auto& kv : files) {
            OutputFile& f = *kv.second;
            if (!f.writer.Detach()) failed = true;
            if (f.file && std::fclose(f.file) != 0) failed = true;
        }
        files.clear();
        current = nullptr;
        return !failed;
    }
};

Output* Of(bufstream* bs) {
    return static_cast<Output*>(bs->state);
}
uint32_t BUFSTREAM_CALL Size(bufstream* bs) {
    return Of(bs)->size;
}
// The picture has one file: its bytes go there at once. Sound bytes wait
// for their record, which names the element (and so the file).
uint32_t BUFSTREAM_CALL Copy(bufstream* bs, uint8_t* p, uint32_t n) {
    Output* o = Of(bs);
    if (!o->sound) {
        o->Write(ElementRecord{}, p, n);
    } else {
        o->pending.insert(o->pending.end(), p, p + n);
    }
    return n;
}
int32_t BUFSTREAM_CALL Info(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t size) {
    if (id != kElementInfoId || size != sizeof(ElementRecord)) return 0;
    Output* o = Of(bs);
    // (A picture's record only makes sure its file exists.)
    o->Write(*static_cast<ElementRecord*>(data), o->pending.data(), o->pending.size());
    o->pending.clear();
    return 0;
}

// Pulls a stream to its end; false when a pull failed.
bool PullAll(Output& o) {
    for (;;) {
        ElementRecord r{};
        if (o.bs.info(&o.bs, 0, kElementInfoId, &r, sizeof r) != 0) return false;
        if (r.endOfData) return true;
        o.Write(r, r.data, r.length);
    }
}

const char* KindName(int32_t k) {
    switch (k) {
        case kPicture:
            return "picture";
        case kD10Sound:
            return "D-10 sound";
        case kGenericSound:
            return "generic sound";
    }
    return "?";
}

int Usage() {
    std::fputs("usage: mxfdemux IN.mxf OUTDIR [--pull]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::puts(
            "usage: mxfdemux IN.mxf OUTDIR [--pull]\n"
            "Prints the file, stream and index information and writes OUTDIR/v.m2v and one\n"
            "OUTDIR/a<k>.raw per sound element number; --pull reads by pulling instead of pushing.");
        return 0;
    }
    if (argc < 3 || argc > 4) return Usage();
    const bool pull = argc == 4 && std::strcmp(argv[3], "--pull") == 0;
    if (argc == 4 && !pull) return Usage();
    Settings settings{};
    Instance* in = New(Lookup, nullptr, &settings);
    if (!in || Open(in, argv[1]) != 0) {
        Free(in);
        return 1;
    }
    FileInfo fi{};
    (void)GetFileInfo(in, &fi);
    std::printf("file: kind %d, %d streams, duration %" PRId64 ", size %" PRId64 ", edit unit bytes %u\n", fi.fileKind,
                fi.streamCount, fi.duration, fi.fileSize, fi.editUnitByteCount);
    std::printf("index: %d entries of %d bytes\n", fi.indexCount, fi.indexEntryLength);
    mexora::OldOutputs old;
    std::vector<Output> outs(static_cast<size_t>(fi.streamCount));
    for (int k = 0; k < fi.streamCount; ++k) {
        StreamInfo si{};
        (void)GetStreamInfo(in, &si, k);
        std::printf("stream %d: %s, item type 0x%02X", k, KindName(si.kind), static_cast<unsigned>(si.itemType));
        if (si.kind != kPicture)
            std::printf(", %d bits, %d Hz, %d channels", si.bitsPerSample, si.sampleRate, si.channels);
        std::printf("\n");
        Output& o = outs[static_cast<size_t>(k)];
        o.dir = argv[2];
        o.old = &old;
        o.sound = si.kind != kPicture;
        o.size = pull ? 0 : 1u << 20;
        o.bs.buffer_size = Size;
        o.bs.copy_bytes = Copy;
        o.bs.info = Info;
        o.bs.state = &o;
    }
    bool ok = true;
    ParserSettings ps{};
    if (!pull) {
        const int p = NewParser(in, &ps);
        for (int k = 0; k < fi.streamCount && p; ++k) {
            StreamSettings ss{k, &outs[static_cast<size_t>(k)].bs};
            ok = ok && AddStream(in, p, &ss) == 0;
        }
        int r = 0;
        while (p && ok && (r = Push(in, p)) == 0) {}
        ok = ok && p && r == 2;
    } else {
        // One parser per stream: each pull then answers with its own stream.
        // The streams are pulled side by side, each on a thread of its own,
        // as a player's streams are.
        std::vector<int> parsers;
        for (int k = 0; k < fi.streamCount && ok; ++k) {
            Output& o = outs[static_cast<size_t>(k)];
            // Sound is a small share of each edit unit: a small buffer lets
            // the parser pass the pictures by seeking instead of reading them.
            ps.bufferSize = o.sound ? kSmallStreamBuffer : 0;
            const int p = NewParser(in, &ps);
            StreamSettings ss{k, &o.bs};
            ok = p && AddStream(in, p, &ss) == 0;
            if (p) parsers.push_back(p);
        }
        std::vector<char> pulled(outs.size(), 1);
        std::vector<std::thread> pulls;
        for (size_t k = 0; k < outs.size() && ok; ++k) {
            auto work = [&outs, &pulled, k] { pulled[k] = PullAll(outs[k]); };
            try {
                pulls.emplace_back(work);
            } catch (const std::system_error&) {
                work();
            }
        }
        for (std::thread& t : pulls) t.join();
        for (char p : pulled) ok = ok && p;
        for (int p : parsers) FreeParser(in, p);
    }
    for (Output& o : outs) ok = o.Close() && ok;
    Free(in);
    return ok ? 0 : 1;
}
