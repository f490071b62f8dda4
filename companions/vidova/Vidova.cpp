// The engine's C interface: settings, instances and the output record.
#include "codec/common/engine/vidova.h"

#include "companions/vidova/Config.h"
#include "companions/vidova/Encoder.h"
#include "companions/vidova/PassStats.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

using namespace vidova;

struct VidovaEncoder {
    Config config;
    get_callback_t gc = nullptr;
    std::unique_ptr<Encoder> encoder;
    bufstream* out = nullptr;
    bool started = false, finished = false, havePicture = false;
    std::vector<uint8_t> pending;  // the last coded picture, delivered with the next one
    int64_t pendingTimes[2] = {-1, -1};
    double lastBitrate = 0, lastMinBitrate = 0;
    // Times and preview slots of pictures taken but not yet coded, by tag.
    struct Meta {
        uint64_t tag;
        int64_t times[2];
        VidovaPreviewSlot* preview;
    };
    std::deque<Meta> metas;
    uint64_t nextTag = 0;
    // Two-pass runs: the host's statistics store, and in an analysis pass the
    // records of the pictures coded so far.
    bufstream* stats = nullptr;
    bool analysis = false;
    std::vector<PassRecord> records;
};

namespace {

void report(get_callback_t gc, const std::string& text, const char* kind = "err_printf") {
    if (!gc) return;
    auto print = reinterpret_cast<bufstream_printf_t>(gc(kind));
    if (print) print("%s", text.c_str());
}

// Sets up the pass of a two-pass run that the start flags name; false when
// the host gave no statistics store for it.
bool startPass(VidovaEncoder* h, uint32_t flags, void** options) {
    const bool encodePass = (flags & VIDOVA_START_ENCODE_PASS) == VIDOVA_START_ENCODE_PASS;
    const bool analysisPass = !encodePass && (flags & VIDOVA_START_ANALYSIS) == VIDOVA_START_ANALYSIS;
    if (!encodePass && !analysisPass) return true;
    h->stats = options ? static_cast<bufstream*>(options[0]) : nullptr;
    if (!h->stats || !h->stats->info) {
        report(h->gc, "A two-pass run needs a statistics store.");
        return false;
    }
    if (analysisPass) {
        h->analysis = true;
        h->encoder->onCoded_ = [h](PictureType type, uint64_t bits, double avgQuant) {
            h->records.push_back({int32_t(type), uint32_t(std::min<uint64_t>(bits, 0xFFFFFFFFu)), avgQuant});
        };
        return true;
    }
    std::vector<PassPicture> plan;
    std::string why;
    if (h->config.rcMode != 0) {
        report(h->gc, "The second pass shares bits out at variable rate only; coded as one pass.", "wrn_printf");
    } else if (!readPassStats(h->stats, h->config.width, h->config.height, plan, why)) {
        report(h->gc, "Second pass without its analysis (" + why + "); coded as one pass.", "wrn_printf");
    } else {
        h->encoder->setPlan(plan);
    }
    return true;
}

// The analysis pass hands its records to the store once its pictures are
// coded; an instance that coded nothing leaves an earlier analysis alone.
void finishPass(VidovaEncoder* h) {
    if (!h->analysis || h->records.empty()) return;
    std::string why;
    if (!writePassStats(h->stats, h->config.width, h->config.height, h->records, why))
        report(h->gc, "Analysis pass: " + why + ".");
    h->records.clear();
}

// Hands one picture to the output: its times, its bytes, then the end of the unit.
void deliver(VidovaEncoder* e, const std::vector<uint8_t>& bytes, const int64_t times[2]) {
    bufstream* bs = e->out;
    if (!bs || bytes.empty()) return;
    if (bs->info) {
        int64_t t[2] = {times[0], times[1]};
        bs->info(bs, 0, VIDOVA_INFO_TIMES, t, 16);
    }
    size_t pos = 0;
    while (pos < bytes.size()) {
        uint32_t chunk = uint32_t(std::min<size_t>(bytes.size() - pos, 0x40000000u));
        if (bs->request) {
            uint32_t room = bs->buffer_size ? bs->buffer_size(bs) : 0;
            if (room && chunk > room) chunk = room;
            uint8_t* d = bs->request(bs, chunk);
            if (!d) break;  // nowhere to put it: the rest of this picture is lost
            std::memcpy(d, bytes.data() + pos, chunk);
            if (bs->commit) bs->commit(bs, chunk);
        } else if (bs->copy_bytes) {
            if (bs->copy_bytes(bs, const_cast<uint8_t*>(bytes.data() + pos), chunk) != chunk) break;
        } else {
            break;
        }
        pos += chunk;
    }
    if (bs->info) {
        uint32_t n = uint32_t(bytes.size());
        bs->info(bs, 0, VIDOVA_INFO_UNIT_END, &n, 4);
        VidovaStats stats{};
        stats.overallPsnr = e->encoder->overallPsnr();
        uint32_t pics = e->encoder->pictures();
        stats.realBitrate = pics ? double(e->encoder->totalBits()) * e->config.fps / pics : 0;
        stats.frames = pics;
        stats.lastFrameBytes = n;
        bs->info(bs, 0, VIDOVA_INFO_STATS, &stats, sizeof stats);
    }
}

void flushPending(VidovaEncoder* e) {
    if (!e->pending.empty()) deliver(e, e->pending, e->pendingTimes);
    e->pending.clear();
}

// Takes coded pictures in coded order: each becomes the pending one, the one
// before it goes out.
void takeCoded(VidovaEncoder* e, std::vector<Encoder::Coded>& coded) {
    for (Encoder::Coded& c : coded) {
        flushPending(e);
        e->pending.swap(c.bytes);
        e->encoder->recycle(std::move(c.bytes));
        e->pendingTimes[0] = e->pendingTimes[1] = -1;
        for (auto it = e->metas.begin(); it != e->metas.end(); ++it)
            if (it->tag == c.tag) {
                e->pendingTimes[0] = it->times[0];
                e->pendingTimes[1] = it->times[1];
                e->metas.erase(it);
                break;
            }
    }
}

void fillPreview(VidovaEncoder* e, uint64_t tag, const Frame& recon) {
    const Config& c = e->config;
    for (auto& m : e->metas)
        if (m.tag == tag && m.preview) {
            VidovaPreviewSlot* p = m.preview;
            if (p->data && p->width == c.width && p->height == c.height) {
                frameToUyvy(recon, c.width, c.height, c.chroma, p->data);
                p->fourcc = VIDOVA_FOURCC('U', 'Y', 'V', 'Y');
                p->done = 1;
            }
            m.preview = nullptr;
        }
}

}  // namespace

extern "C" {

void VIDOVA_CALL VidovaFree(vidova_handle h) {
    delete h;
}

int32_t VIDOVA_CALL VidovaDefaults(VidovaSettings* s, int32_t videoType, int32_t pal) {
    if (!s) return -1;
    fillDefaults(*s, videoType, pal != 0);
    return 0;
}

int32_t VIDOVA_CALL VidovaSetPerformance(VidovaSettings* s, int32_t kind, int32_t level, int32_t) {
    if (!s) return -1;
    switch (kind) {
        case 0:
            s->w[VIDOVA_W_OFFLINE_LEVEL] = uint32_t(level < 0 ? 0 : level);
            return 0;
        case 1:
            s->w[VIDOVA_W_ONLINE_LEVEL] = uint32_t(level < 0 ? 0 : level);
            return 0;
        case 2:
            s->w[VIDOVA_W_SEARCH_RANGE] = uint32_t(level < 0 ? 0 : (level > 31 ? 31 : level));
            return 0;
        default:
            return -1;
    }
}

int32_t VIDOVA_CALL VidovaCheckSettings(get_callback_t gc, const VidovaSettings* s, int32_t, int32_t) {
    if (!s) {
        report(gc, "No settings.");
        return 1;
    }
    Config c;
    std::string error;
    if (!configFromSettings(*s, c, error, true)) {
        report(gc, error);
        return 1;
    }
    return 0;
}

vidova_handle VIDOVA_CALL VidovaCreate(get_callback_t gc, const VidovaSettings* s, int32_t, int32_t, int32_t, int32_t) {
    if (!s) return nullptr;
    std::unique_ptr<VidovaEncoder> e(new (std::nothrow) VidovaEncoder);
    if (!e) return nullptr;
    std::string error;
    if (!configFromSettings(*s, e->config, error, false)) {
        report(gc, error);
        return nullptr;
    }
    e->gc = gc;
    return e.release();
}

int32_t VIDOVA_CALL VidovaStart(vidova_handle h, bufstream* out, uint32_t flags, void** options) {
    if (!h || !out || h->started) return 1;
    try {
        h->encoder.reset(new Encoder(h->config));
        h->encoder->onPicture_ = [h](uint64_t tag, const Frame& recon) { fillPreview(h, tag, recon); };
        if (!startPass(h, flags, options)) return 1;
    } catch (...) {
        report(h->gc, "Out of memory.");
        return 1;
    }
    h->out = out;
    h->started = true;
    return 0;
}

int32_t VIDOVA_CALL VidovaPutFrame(vidova_handle h, const uint8_t* picture, int32_t stride, int32_t width,
                                   int32_t height, uint32_t fourcc, uint32_t flags, void** options) {
    if (!h) return 1;
    int opt = 0;
    VidovaPreviewSlot* preview = nullptr;
    VidovaCaption* caption = nullptr;
    const VidovaTimes* times = nullptr;
    const VidovaRates* rates = nullptr;
    if (options) {
        if (flags & VIDOVA_FRAME_PREVIEW) preview = static_cast<VidovaPreviewSlot*>(options[opt++]);
        if (flags & VIDOVA_FRAME_CAPTION) caption = static_cast<VidovaCaption*>(options[opt++]);
        if (flags & VIDOVA_FRAME_TIMES) times = static_cast<const VidovaTimes*>(options[opt++]);
        if (flags & VIDOVA_FRAME_RATES) rates = static_cast<const VidovaRates*>(options[opt++]);
    }
    std::vector<uint8_t> userData;
    if (caption) {
        // Captions that could imitate a start code are dropped.
        if (caption->bytes && caption->count > 0 && caption->count <= 4096) {
            bool safe = true;
            for (int i = 0; i + 2 < caption->count && safe; i++)
                safe = !(caption->bytes[i] == 0 && caption->bytes[i + 1] == 0);
            if (safe) userData.assign(caption->bytes, caption->bytes + caption->count);
        }
        if (caption->release) caption->release(caption);
    }
    if (!h->started || h->finished || !h->encoder) return 1;
    const Config& c = h->config;
    bool repeat = !picture;
    if (!preview || !preview->data) preview = nullptr;
    if (repeat) {
        if (!(flags & VIDOVA_FRAME_REPEAT) || !h->havePicture) return 1;
    } else if (!convertPicture(picture, stride, width, height, fourcc, c.width, c.height, c.chroma,
                               h->encoder->source(copiedStraight(fourcc, c.chroma)), &h->encoder->inputChanges())) {
        return 1;
    }
    if (rates && rates->bitrate > 0 && (rates->bitrate != h->lastBitrate || rates->minBitrate != h->lastMinBitrate)) {
        h->lastBitrate = rates->bitrate;
        h->lastMinBitrate = rates->minBitrate;
        h->encoder->setTargetBitrate(rates->bitrate, rates->minBitrate > 0 ? rates->minBitrate : 0);
    }
    std::vector<Encoder::Coded> coded;
    try {
        uint64_t tag = h->nextTag++;
        h->metas.push_back({tag, {times ? times->start : -1, times ? times->stop : -1}, preview});
        h->encoder->submit(repeat, userData.empty() ? nullptr : userData.data(), int(userData.size()), tag, coded);
        h->havePicture = true;
        takeCoded(h, coded);
    } catch (...) {
        return 1;
    }
    return 0;
}

int32_t VIDOVA_CALL VidovaDone(vidova_handle h, int32_t) {
    // Finishing and aborting both deliver every picture taken: a stream that
    // ends on whole pictures is worth more to the host than the few pictures
    // an abort could save.
    if (!h) return 1;
    if (!h->started || h->finished) return 0;
    h->finished = true;
    try {
        if (h->havePicture && h->encoder) {
            // Pictures held for reordering are coded too, on abort as well.
            std::vector<Encoder::Coded> coded;
            h->encoder->flush(coded);
            takeCoded(h, coded);
            if (h->config.endCode) h->encoder->writeEndCode(h->pending);
        }
        flushPending(h);
        finishPass(h);
    } catch (...) {
        return 1;
    }
    h->out = nullptr;
    return 0;
}

}  // extern "C"
