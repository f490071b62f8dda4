// The seekable layer: passes the stream through to its main record and keeps
// positioned writes, which it applies to the file by name at the end.
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/FileIo.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNameBuffer = 2048;
constexpr int64_t kRelocationFloor = 5120;     // below this sum the block stays
constexpr int64_t kRelocationPiece = 1 << 20;  // bytes moved per step

struct Deferred {
    int64_t position;
    std::vector<uint8_t> data;
};

struct SeekState {
    bufstream* main = nullptr;
    std::string name;
    std::vector<Deferred> writes;
    std::vector<uint8_t> relocation;
};

SeekState* Seek(bufstream* bs) {
    return static_cast<SeekState*>(bs->state);
}

uint32_t BUFSTREAM_CALL SeekAvailable(bufstream* bs) {
    SeekState* s = Seek(bs);
    return s ? s->main->bytes_available(s->main) : 0;
}
uint8_t* BUFSTREAM_CALL SeekRequest(bufstream* bs, uint32_t n) {
    SeekState* s = Seek(bs);
    return s ? s->main->request(s->main, n) : nullptr;
}
uint32_t BUFSTREAM_CALL SeekCommit(bufstream* bs, uint32_t n) {
    SeekState* s = Seek(bs);
    return s ? s->main->commit(s->main, n) : 0;
}
uint32_t BUFSTREAM_CALL SeekCopy(bufstream* bs, uint8_t* p, uint32_t n) {
    SeekState* s = Seek(bs);
    return s ? s->main->copy_bytes(s->main, p, n) : 0;
}
uint32_t BUFSTREAM_CALL SeekBufferSize(bufstream* bs) {
    SeekState* s = Seek(bs);
    return s ? s->main->buffer_size(s->main) : 0;
}
int32_t BUFSTREAM_CALL SeekSplit(bufstream* bs) {
    SeekState* s = Seek(bs);
    return s && s->main->split ? s->main->split(s->main) : -1;
}

int32_t BUFSTREAM_CALL SeekInfo(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size) {
    SeekState* s = Seek(bs);
    if (!s) return 0;
    if (id == BS_INFO_POSITIONED_WRITE) {
        if (!data || size != sizeof(bs_positioned_write)) return -1;
        bs_positioned_write w;
        std::memcpy(&w, data, sizeof w);
        if (w.position < 0 || w.length < 0 || (!w.data && w.length)) return -1;
        Deferred d{w.position, std::vector<uint8_t>(w.data, w.data + w.length)};
        s->writes.push_back(std::move(d));
        return 0;
    }
    if (id == BS_INFO_RELOCATION) {
        if (!data) return -1;
        const uint8_t* p = static_cast<const uint8_t*>(data);
        s->relocation.assign(p, p + size);
        return 0;
    }
    return s->main->info(s->main, offset, id, data, size);
}

int64_t Field(const std::vector<uint8_t>& block, size_t at) {
    int64_t v = 0;
    if (block.size() >= at + 8) std::memcpy(&v, block.data() + at, 8);
    return v;
}

// Moves [shiftStart, source) up so that it ends at target + length + extra,
// then writes the block taken from the source position at the target.
bool ApplyRelocation(FILE* f, const std::vector<uint8_t>& block) {
    const int64_t target = Field(block, 8), source = Field(block, 24), length = Field(block, 32);
    const int64_t shiftStart = Field(block, 48), extra = Field(block, 56);
    const int64_t end = target + length + extra;
    if (end <= kRelocationFloor) return true;
    if (length < 0 || source < shiftStart || shiftStart < 0) return false;
    std::vector<uint8_t> saved(static_cast<size_t>(length));
    if (!mexora::SeekTo(f, source) || std::fread(saved.data(), 1, saved.size(), f) != saved.size()) return false;
    std::vector<uint8_t> piece;
    int64_t remaining = source - shiftStart;
    while (remaining > 0) {
        const int64_t n = remaining < kRelocationPiece ? remaining : kRelocationPiece;
        const int64_t from = shiftStart + remaining - n;
        const int64_t to = end - (source - shiftStart) + remaining - n;
        piece.resize(static_cast<size_t>(n));
        if (!mexora::SeekTo(f, from) || std::fread(piece.data(), 1, piece.size(), f) != piece.size()) return false;
        if (!mexora::SeekTo(f, to) || std::fwrite(piece.data(), 1, piece.size(), f) != piece.size()) return false;
        remaining -= n;
    }
    return mexora::SeekTo(f, target) && std::fwrite(saved.data(), 1, saved.size(), f) == saved.size();
}

int32_t BUFSTREAM_CALL SeekDone(bufstream* bs, int32_t abort_flag) {
    SeekState* s = Seek(bs);
    if (!s) return 0;
    bool ok = true;
    // The main record may still hold bytes the positioned writes land on.
    if (s->main->state && s->main->info(s->main, 0, BS_INFO_FLUSH, nullptr, 0) != 0) ok = false;
    const bool work = (!abort_flag && !s->writes.empty()) || !s->relocation.empty();
    if (work || !abort_flag) {
        // "r+b" never creates: a file that went away is a failure, not a new file.
        FILE* f = std::fopen(s->name.c_str(), "r+b");
        if (!f) {
            ok = false;
        } else {
            if (!abort_flag) {
                for (const Deferred& d : s->writes) {
                    if (!mexora::SeekTo(f, d.position) ||
                        std::fwrite(d.data.data(), 1, d.data.size(), f) != d.data.size()) {
                        ok = false;
                        break;
                    }
                }
            }
            if (!s->relocation.empty() && !ApplyRelocation(f, s->relocation)) ok = false;
            if (std::fclose(f) != 0) ok = false;
        }
    }
    delete s;
    bs->state = nullptr;
    return ok ? 0 : -1;
}

}  // namespace

extern "C" {

int32_t bseek_init_file_buf(bufstream* bs, bufstream* main_bs, bs_error_fn err) {
    if (!bs) return -1;
    std::memset(bs, 0, sizeof *bs);
    if (!main_bs) {
        if (err) err("No main stream buffer .");
        return -1;
    }
    SeekState* s = new (std::nothrow) SeekState;
    if (!s) {
        if (err) err("Unable to allocate memory for bseek_init_file_buf.");
        return -1;
    }
    char name[kNameBuffer] = {0};
    if (!main_bs->info || main_bs->info(main_bs, 0, BS_INFO_FILE_NAME, name, sizeof name) != 0 || !name[0]) {
        if (err) err("Unable to get filename from main bufstream.");
        delete s;
        return -1;
    }
    s->main = main_bs;
    s->name = name;
    bs->bytes_available = SeekAvailable;
    bs->request = SeekRequest;
    bs->commit = SeekCommit;
    bs->copy_bytes = SeekCopy;
    bs->buffer_size = SeekBufferSize;
    bs->info = SeekInfo;
    bs->split = SeekSplit;
    bs->done = SeekDone;
    bs->free = bufstream_free;
    bs->state = s;
    return 0;
}

bufstream* bseek_open_file_buf(bufstream* main_bs, bs_error_fn err) {
    bufstream* bs = static_cast<bufstream*>(std::malloc(sizeof(bufstream)));
    if (!bs) return nullptr;
    if (bseek_init_file_buf(bs, main_bs, err) != 0) {
        std::free(bs);
        return nullptr;
    }
    return bs;
}

}  // extern "C"
