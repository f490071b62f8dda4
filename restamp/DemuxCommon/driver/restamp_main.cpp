// restamp IN [OUT]: pushes a file through the time marker's core in its
// 1,000-byte chunks, writes the bytes to OUT and one line per chunk
// ("offset size time", time in 100 ns or "-") to standard output.
#include "restamp/DemuxCommon/TimeMarkerCore.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

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
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: restamp IN [OUT]\n");
        return 2;
    }
    FILE* in = std::fopen(argv[1], "rb");
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    FILE* out = nullptr;
    if (argc == 3) {
        out = std::fopen(argv[2], "wb");
        if (!out) {
            std::perror(argv[2]);
            std::fclose(in);
            return 1;
        }
    }
    std::unique_ptr<CTimeMarkerCore> core(new CTimeMarkerCore());
    std::vector<uint8_t> buf(1 << 20);
    std::vector<char> lines(1 << 20);
    size_t lineFill = 0;
    static char outBuf[1 << 20];
    std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);
    int64_t offset = 0;
    size_t have = 0;
    bool eof = false;
    auto emit = [&](const uint8_t* d, uint32_t n) {
        const int64_t t = core->ProcessChunk(d, n);
        if (out && std::fwrite(d, 1, n, out) != n) return false;
        if (lineFill + 64 > lines.size()) {
            std::fwrite(lines.data(), 1, lineFill, stdout);
            lineFill = 0;
        }
        char* p = lines.data() + lineFill;
        p = FormatInt(p, offset);
        *p++ = ' ';
        p = FormatInt(p, n);
        *p++ = ' ';
        if (t == kNoTime)
            *p++ = '-';
        else
            p = FormatInt(p, t);
        *p++ = '\n';
        lineFill = size_t(p - lines.data());
        offset += n;
        return true;
    };
    bool ok = true;
    while (ok && !eof) {
        size_t r = std::fread(buf.data() + have, 1, buf.size() - have, in);
        if (r == 0) eof = true;
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
        std::memmove(buf.data(), buf.data() + pos, have - pos);
        have -= pos;
    }
    core->EndOfStream();
    std::fwrite(lines.data(), 1, lineFill, stdout);
    std::fflush(stdout);
    if (std::ferror(in)) ok = false;
    std::fclose(in);
    if (out && std::fclose(out) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "restamp: I/O error\n");
        return 1;
    }
    return 0;
}
