// restamp IN [OUT]: pushes a file through the time marker's core in its
// 1,000-byte chunks, writes what goes out to OUT and one line per piece
// ("offset size time", time in 100 ns or "-") to standard output. A chunk is
// one piece, or three when a sequence header goes in: that piece's line is
// "offset size - inserted", offset being the input offset it goes in front of.
#include "restamp/DemuxCommon/TimeMarkerCore.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr size_t kOutputBuffer = 1 << 20;

const char kUsage[] =
    "usage: restamp [--help] [--] IN [OUT]\n"
    "Runs IN through the time marker's core in 1,000-byte chunks and prints one\n"
    "line per piece to standard output: \"offset size time\" (time in 100 ns,\n"
    "\"-\" when the piece has none). A chunk is one piece, or three when a video\n"
    "sequence header goes in front of a GOP of an MPEG-1 system stream; that\n"
    "header's line is \"offset size - inserted\". OUT, when given, receives the\n"
    "bytes as they go out.\n";

// The first failure of the run, with the file it concerns.
struct Failure {
    bool failed = false;
    std::string what;
    void Set(const char* action, const char* name, int error) {
        if (failed) return;
        failed = true;
        what = std::string("cannot ") + action + " " + name + ": " + std::strerror(error);
    }
};

// IN and OUT from the command line; false (with a message) when they do not fit.
bool ParseArguments(int argc, char** argv, std::vector<const char*>* files, bool* help) {
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (options && std::strcmp(a, "--") == 0) {
            options = false;
        } else if (options && (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0)) {
            *help = true;
        } else if (options && a[0] == '-' && a[1] != '\0') {
            std::fprintf(stderr, "restamp: unknown option '%s'\n", a);
            return false;
        } else {
            files->push_back(a);
        }
    }
    if (*help) return true;
    if (files->empty()) {
        std::fprintf(stderr, "restamp: no input file\n");
        return false;
    }
    if (files->size() > 2) {
        std::fprintf(stderr, "restamp: unexpected argument '%s'\n", (*files)[2]);
        return false;
    }
    return true;
}

char* FormatInt(char* p, int64_t v) {
    char tmp[24];
    int n = 0;
    uint64_t u = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
    do {
        tmp[n++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0) *p++ = '-';
    while (n) *p++ = tmp[--n];
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> files;
    bool help = false;
    if (!ParseArguments(argc, argv, &files, &help)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : kExitFailure;
    }
    const char* inName = files[0];
    const char* outName = files.size() > 1 ? files[1] : nullptr;
    FILE* in = std::fopen(inName, "rb");
    if (!in) {
        std::fprintf(stderr, "restamp: cannot open %s: %s\n", inName, std::strerror(errno));
        return kExitFailure;
    }
    FILE* out = nullptr;
    if (outName) {
        out = std::fopen(outName, "wb");
        if (!out) {
            std::fprintf(stderr, "restamp: cannot create %s: %s\n", outName, std::strerror(errno));
            std::fclose(in);
            return kExitFailure;
        }
    }
    Failure failure;
    std::unique_ptr<CTimeMarkerCore> core(new CTimeMarkerCore());
    std::vector<uint8_t> buf(1 << 20);
    std::vector<char> lines(1 << 20);
    size_t lineFill = 0;
    static char outBuf[kOutputBuffer];
    std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);
    // The output file's bytes go out in large writes straight from the input
    // buffer (runs of pieces, below), so the file itself is unbuffered.
    if (out && std::setvbuf(out, nullptr, _IONBF, 0) != 0) {
        std::fprintf(stderr, "restamp: cannot set up %s\n", outName);
        std::fclose(out);
        std::fclose(in);
        return kExitFailure;
    }
    int64_t offset = 0;
    size_t have = 0;
    bool eof = false;
    auto line = [&](int64_t at, uint32_t n, int64_t t, bool inserted) {
        if (lineFill + 64 > lines.size()) {
            if (std::fwrite(lines.data(), 1, lineFill, stdout) != lineFill) {
                failure.Set("write", "standard output", errno);
                return false;
            }
            lineFill = 0;
        }
        char* p = lines.data() + lineFill;
        p = FormatInt(p, at);
        *p++ = ' ';
        p = FormatInt(p, n);
        *p++ = ' ';
        if (t == kNoTime)
            *p++ = '-';
        else
            p = FormatInt(p, t);
        if (inserted) {
            std::memcpy(p, " inserted", 9);
            p += 9;
        }
        *p++ = '\n';
        lineFill = size_t(p - lines.data());
        return true;
    };
    // Pieces that follow each other in the input buffer gather into one run,
    // written when something else comes (an inserted header, which lives in
    // the core and may change with the next chunk) or before the buffer moves.
    const uint8_t* run = nullptr;
    size_t runLength = 0;
    auto write = [&](const uint8_t* p, size_t n) {
        if (n && std::fwrite(p, 1, n, out) != n) {
            failure.Set("write", outName, errno);
            return false;
        }
        return true;
    };
    auto flushRun = [&]() {
        const bool done = write(run, runLength);
        runLength = 0;
        return done;
    };
    auto emit = [&](uint8_t* d, uint32_t n) {
        CChunkPiece pieces[CTimeMarkerCore::kMaxPieces];
        const uint32_t count = core->ProcessChunk(d, n, pieces);
        int64_t at = offset;
        for (uint32_t i = 0; i < count; ++i) {
            const CChunkPiece& piece = pieces[i];
            const bool inBuffer = piece.data >= buf.data() && piece.data + piece.length <= buf.data() + have;
            if (out && inBuffer && runLength && piece.data == run + runLength) {
                runLength += piece.length;
            } else if (out) {
                if (!flushRun()) return false;
                if (inBuffer) {
                    run = piece.data;
                    runLength = piece.length;
                } else if (!write(piece.data, piece.length)) {
                    return false;
                }
            }
            if (!line(at, piece.length, piece.time, piece.inserted)) return false;
            if (!piece.inserted) at += piece.length;
        }
        offset += n;
        return true;
    };
    bool ok = true;
    while (ok && !eof) {
        size_t r = std::fread(buf.data() + have, 1, buf.size() - have, in);
        if (r == 0) {
            eof = true;
            if (std::ferror(in)) {
                failure.Set("read", inName, errno);
                ok = false;
            }
        }
        have += r;
        size_t pos = 0;
        while (ok && have - pos >= CTimeMarkerCore::kChunkSize) {
            ok = emit(buf.data() + pos, CTimeMarkerCore::kChunkSize);
            pos += CTimeMarkerCore::kChunkSize;
        }
        if (eof && ok && have > pos) {
            ok = emit(buf.data() + pos, uint32_t(have - pos));
            pos = have;
        }
        if (ok && out) ok = flushRun();
        std::memmove(buf.data(), buf.data() + pos, have - pos);
        have -= pos;
    }
    core->EndOfStream();
    if (ok && (std::fwrite(lines.data(), 1, lineFill, stdout) != lineFill || std::fflush(stdout) != 0))
        failure.Set("write", "standard output", errno);
    std::fclose(in);
    // Buffered bytes reach the disk only here: a full disk may show up now.
    if (out && std::fclose(out) != 0) failure.Set("write", outName, errno);
    if (failure.failed) {
        std::fprintf(stderr, "restamp: %s\n", failure.what.c_str());
        return kExitFailure;
    }
    return 0;
}
