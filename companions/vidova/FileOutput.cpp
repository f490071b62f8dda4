#include "companions/vidova/FileOutput.h"

#include "codec/common/engine/vidova.h"

#include <cerrno>
#include <cstring>

namespace vidova {
namespace {

MemoryOutput* self(bufstream* bs) {
    return static_cast<MemoryOutput*>(bs->state);
}

uint32_t BUFSTREAM_CALL avail(bufstream* bs) {
    MemoryOutput* m = self(bs);
    return m->capacity - m->used;
}
uint8_t* BUFSTREAM_CALL request(bufstream* bs, uint32_t n) {
    MemoryOutput* m = self(bs);
    if (n > m->capacity - m->used) m->deliverHeld();
    if (n > m->capacity) return nullptr;
    return m->buffer.get() + m->used;
}
uint32_t BUFSTREAM_CALL commit(bufstream* bs, uint32_t n) {
    self(bs)->used += n;
    return n;
}
uint32_t BUFSTREAM_CALL size(bufstream* bs) {
    return self(bs)->capacity;
}
int32_t BUFSTREAM_CALL info(bufstream* bs, uint32_t, uint32_t id, void* data, uint32_t n) {
    MemoryOutput* m = self(bs);
    m->infoCalls++;
    if (id == VIDOVA_INFO_TIMES && data && n >= 16) std::memcpy(m->times, data, 16);
    if (id == VIDOVA_INFO_UNIT_END) m->deliverHeld();
    if (id == VIDOVA_INFO_STATS && data && n >= sizeof(VidovaStats)) {
        const VidovaStats* s = static_cast<const VidovaStats*>(data);
        m->lastPsnr = s->overallPsnr;
        m->lastBitrate = s->realBitrate;
    }
    return 0;
}

}  // namespace

MemoryOutput::MemoryOutput(uint32_t sz) : buffer(new uint8_t[sz]), capacity(sz) {
    bs.bytes_available = avail;
    bs.request = request;
    bs.commit = commit;
    bs.buffer_size = size;
    bs.info = info;
    bs.state = this;
}

void MemoryOutput::deliverHeld() {
    if (!used) return;
    if (file) {
        errno = 0;
        if (std::fwrite(buffer.get(), 1, used, file) != used && !writeError) writeError = errno ? errno : EIO;
        units.emplace_back();  // keep the count only
    } else {
        units.emplace_back(buffer.get(), buffer.get() + used);
    }
    unitStart.push_back(times[0]);
    used = 0;
}

uint64_t MemoryOutput::bytes() const {
    uint64_t n = 0;
    for (const auto& u : units) n += u.size();
    return n;
}

}  // namespace vidova
