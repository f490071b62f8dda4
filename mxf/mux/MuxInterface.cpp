// The exported writer interface: argument checks, presets, the settings
// check, inputs and outputs, the AES3 split, the loop that feeds the engine
// and drains its output, and the clean-up of what the library created.
#include "mxf/mux/MuxInterface.h"
#include "mxf/mux/ByteStreams.h"
#include "mxf/mux/FrameTables.h"
#include "mxf/mux/WavInput.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace mexora {

namespace {

constexpr uint32_t kFileBuffer = 256 * 1024;
constexpr uint32_t kPiece = 64 * 1024;  // largest sample handed to the engine
constexpr uint32_t kPipeSize = 1024 * 1024;
constexpr uint32_t kPipeReserve = kPiece + 1;
constexpr int32_t kFirstStreamId = 10000;
constexpr int kMaxChannels = 8;
constexpr uint32_t kAes3HeaderBytes = 8;
constexpr uint8_t kAes3Planar = 0x0C;
constexpr uint8_t kAes3Element = 0x0B;
constexpr uint32_t kProbeBytes = 64;  // what the frame-rate detection reads
constexpr uint32_t kInputRecordBytes = 2288;
constexpr uint32_t kOutputRecordBytes = 32;
constexpr double kProgressSlack = 0.002;  // how far an input may run ahead of the slowest one

enum MplexType : int32_t { kImx = 28, kHd = 32, kDv = 99, kP2Dvcpro = 100, kP2Avci = 101 };
enum Profile : int32_t { kXdcam = 0, kP2 = 3 };
enum InternalProfile : int32_t { kXdcamHd = 0, kXdcamDv = 1, kXdcamImx = 2, kP2DvcproInt = 3, kP2AvciInt = 4 };

constexpr uint32_t kFlagDropFrame = 0x1;
constexpr uint32_t kFlagSecondVariant = 0x1000;

using MallocFn = void*(BUFSTREAM_CALL*)(size_t);
using FreeFn = void(BUFSTREAM_CALL*)(void*);
using PrintFn = bufstream_printf_t;
using ProgressFn = int(BUFSTREAM_CALL*)(int, const char*, ...);
using YieldFn = int32_t(BUFSTREAM_CALL*)();
using InfoFn = int32_t(BUFSTREAM_CALL*)(bufstream*, uint32_t, uint32_t, void*, uint32_t);

void* BUFSTREAM_CALL DefaultMalloc(size_t n) {
    return std::malloc(n);
}
void BUFSTREAM_CALL DefaultFree(void* p) {
    std::free(p);
}
int BUFSTREAM_CALL Silent(const char*, ...) {
    return 0;
}
int BUFSTREAM_CALL SilentProgress(int, const char*, ...) {
    return 0;
}
int32_t BUFSTREAM_CALL NoYield() {
    return 0;
}

struct Callbacks {
    MallocFn malloc = DefaultMalloc;
    FreeFn free = DefaultFree;
    PrintFn err = Silent;
    ProgressFn prg = SilentProgress;
    PrintFn wrn = Silent;
    PrintFn inf = Silent;
    YieldFn yield = NoYield;
};

template <typename Fn>
void Lookup(get_callback_t get, const char* name, Fn* slot) {
    if (!get) return;
    void* p = get(name);
    if (p) *slot = reinterpret_cast<Fn>(p);
}

Callbacks LookupCallbacks(get_callback_t get) {
    Callbacks c;
    Lookup(get, "malloc", &c.malloc);
    Lookup(get, "free", &c.free);
    Lookup(get, "err_printf", &c.err);
    Lookup(get, "prg_printf", &c.prg);
    Lookup(get, "wrn_printf", &c.wrn);
    Lookup(get, "inf_printf", &c.inf);
    Lookup(get, "yield", &c.yield);
    return c;
}

enum class InputKind { kLibraryFile, kHostRecord, kHostFed };

struct InputRecord {
    int32_t streamId = 0;
    InputKind kind = InputKind::kLibraryFile;
    bufstream* bs = nullptr;
    Instance* instance = nullptr;
    uint32_t pending = 0;  // host-fed bytes not yet given to the engine
    bool started = false;
    uint8_t aes3[kAes3HeaderBytes] = {};
    bool wav = false;
    std::string name;
    bs_pipe* pipes[kMaxChannels] = {};
    int32_t channelIds[kMaxChannels] = {};
    uint32_t channelPending[kMaxChannels] = {};
    int channels = 1;
    int bytesPerSample = 2;
    bool ended = false;
    bool split = false;
    uint64_t total = 0;
    int frame = 0;
    InfoFn savedInfo = nullptr;  // a host-fed record's own notification slot
    void* savedOwner = nullptr;
};

struct OutputRecord {
    bool libraryMain = false;  // the library opened the main record
    bufstream* main = nullptr;
    bufstream* seek = nullptr;  // the seekable layer, when the main names its file
    Instance* instance = nullptr;
};

}  // namespace

struct Instance {
    Settings settings;
    EngineSettings engineSettings;
    MuxEngine* engine = nullptr;
    bool streamOutput = false;
    bool registered = false;
    int outputs = 0;
    int inputs = 0;
    int streams = 0;
    InputRecord* in[kMaxInputs] = {};
    OutputRecord* out[kMaxOutputs] = {};
    bool failed = false;
    bool hasWav = false;
    int frameRateCode = 0;
    int64_t unitsWritten = 0;
    Callbacks cb;
    uint8_t block[32] = {};
    char clip[7] = {};
};

namespace {

template <typename... A>
void Err(const Instance* inst, const char* format, A... args) {
    inst->cb.err(format, args...);
}

template <typename T>
T* HostNew(Instance* inst, size_t bytes) {
    (void)bytes;  // the size the 32-bit program allocates; ours is sizeof(T)
    void* p = inst->cb.malloc(sizeof(T));
    if (!p) return nullptr;
    std::memset(p, 0, sizeof(T));
    return new (p) T();
}

template <typename T>
void HostDelete(Instance* inst, T* p) {
    if (!p) return;
    p->~T();
    inst->cb.free(p);
}

int InternalProfileOf(const Settings& s) {
    if (s.profile == kXdcam) {
        if (s.mplexType == kDv) return kXdcamDv;
        if (s.mplexType == kImx) return kXdcamImx;
        return kXdcamHd;
    }
    if (s.profile == kP2) {
        if (s.mplexType == kP2Dvcpro) return kP2DvcproInt;
        if (s.mplexType == kP2Avci) return kP2AvciInt;
    }
    return kXdcamHd;
}

bool EndsWithWav(const char* name) {
    const size_t n = std::strlen(name);
    if (n < 4) return false;
    const char* ext = name + n - 4;
    return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 'w' &&
           std::tolower(static_cast<unsigned char>(ext[2])) == 'a' &&
           std::tolower(static_cast<unsigned char>(ext[3])) == 'v';
}

bool AllStarted(const Instance* inst) {
    for (int i = 0; i < inst->inputs; i++) {
        const InputRecord* r = inst->in[i];
        if (r->kind == InputKind::kHostFed && !r->started) return false;
    }
    return true;
}

// Every stream in order: each channel of a split input, else the input.
template <typename Fn>
bool ForEachStream(Instance* inst, Fn fn) {
    int k = 0;
    for (int i = 0; i < inst->inputs; i++) {
        InputRecord* r = inst->in[i];
        const int n = r->split ? r->channels : 1;
        for (int c = 0; c < n; c++, k++) {
            if (!fn(k, r->split ? r->channelIds[c] : r->streamId)) return false;
        }
    }
    return true;
}

bool RegisterStreams(Instance* inst) {
    if (inst->registered) return true;
    const int profile = InternalProfileOf(inst->settings);
    inst->engine->set_stream_count(inst->streams);
    if (profile == kP2DvcproInt || profile == kP2AvciInt) {
        // P2 keeps one stream per file: stream k goes to output k.
        if (inst->outputs < inst->streams) {
            Err(inst, "M417:%d streams need as many outputs, %d given", inst->streams, inst->outputs);
            return false;
        }
    } else if (profile != kXdcamHd) {
        Err(inst, "M433:Mux type XDCAM IMX, XDCAM DV or P2 AVCI not yet supported");
        return false;
    }
    const bool p2 = profile != kXdcamHd;
    const bool ok = ForEachStream(inst, [&](int k, int32_t id) {
        const int32_t r = inst->engine->add_stream(id, p2 ? k : 0);
        if (r < 0) Err(inst, "M414:add_stream failed, code %d", r);
        return r >= 0;
    });
    inst->registered = ok;
    return ok;
}

// Reads the 8-byte AES3 header at the record's front and splits a planar
// multi-channel input into one pipe per channel.
bool ParseAes3(Instance* inst, InputRecord* r) {
    const uint8_t* h = r->bs->request(r->bs, kAes3HeaderBytes);
    if (!h || std::memcmp(h, "AES3", 4) != 0 || (h[4] != kAes3Planar && h[4] != kAes3Element)) return false;
    std::memcpy(r->aes3, h, kAes3HeaderBytes);
    r->channels = (h[5] & 0x07) + 1;
    r->bytesPerSample = (h[5] & 0x18) ? 3 : 2;
    if (h[4] != kAes3Planar || r->channels == 1) {
        if (r->kind == InputKind::kHostFed) r->pending += kAes3HeaderBytes;  // a single stream's data
        return true;
    }
    uint8_t mono[kAes3HeaderBytes];
    std::memcpy(mono, r->aes3, kAes3HeaderBytes);
    mono[5] &= static_cast<uint8_t>(~0x07);  // each pipe carries one channel
    for (int c = 0; c < r->channels; c++) {
        r->pipes[c] = bs_pipe_open(kPipeSize, kPipeReserve);
        if (!r->pipes[c]) return false;
        if (r->pipes[c]->writer.copy_bytes(&r->pipes[c]->writer, mono, kAes3HeaderBytes) != kAes3HeaderBytes)
            return false;
        r->channelPending[c] = kAes3HeaderBytes;
        r->channelIds[c] = c == 0 ? r->streamId : kFirstStreamId + inst->streams++;
    }
    r->split = true;
    r->bs->commit(r->bs, kAes3HeaderBytes);
    return true;
}

// Moves `bytes` from the input into channel c's pipe; the count moved.
uint32_t MoveToChannel(InputRecord* r, int c, uint32_t bytes) {
    bufstream* w = &r->pipes[c]->writer;
    uint8_t* dst = w->request(w, bytes);
    if (!dst) return 0;
    const uint32_t got = r->bs->copy_bytes(r->bs, dst, bytes);
    w->commit(w, got);
    r->channelPending[c] += got;
    r->total += got;
    return got;
}

bool GiveBytes(Instance* inst, bufstream* src, int32_t streamId, uint32_t* pending) {
    const uint32_t window = src->buffer_size ? src->buffer_size(src) : 0;
    while (*pending > 0) {
        uint32_t n = std::min(*pending, kPiece);
        if (window && n > window) n = window;
        const uint8_t* p = src->request(src, n);
        if (!p) {
            Err(inst, "M415:add_sample failed, code %d", kEngineNullArgument);
            return false;
        }
        const int32_t code = inst->engine->add_sample(streamId, p, n);
        src->commit(src, n);
        *pending -= n;
        if (code < 0) {
            Err(inst, "M415:add_sample failed, code %d", code);
            return false;
        }
    }
    return true;
}

bool GivePending(Instance* inst, InputRecord* r) {
    if (r->split) {
        for (int c = 0; c < r->channels; c++) {
            if (!GiveBytes(inst, &r->pipes[c]->reader, r->channelIds[c], &r->channelPending[c])) return false;
        }
        return true;
    }
    return r->kind != InputKind::kHostFed || GiveBytes(inst, r->bs, r->streamId, &r->pending);
}

bool WriteOneOutput(Instance* inst) {
    OutputInfo info;
    int32_t code = inst->engine->get_output_sample_info(&info);
    if (code != kEngineOk) {
        Err(inst, "M420:get_output_sample_info failed, code %d", code);
        return false;
    }
    bool ok = true;
    if (info.length > 0) {
        const uint8_t* data = nullptr;
        code = inst->engine->get_output_sample_pointer(&data);
        if (code != kEngineOk) {
            Err(inst, "M429:get_output_sample_pointer failed, code %d", code);
            return false;
        }
        if (info.output < 0 || info.output >= inst->outputs) {
            Err(inst, "M427:No output %d", info.output);
            ok = false;
        } else {
            OutputRecord* o = inst->out[info.output];
            if (info.position < 0) {
                ok = o->main->copy_bytes(o->main, const_cast<uint8_t*>(data), info.length) == info.length;
            } else {
                bs_positioned_write w{info.position, data, static_cast<int32_t>(info.length)};
                bufstream* target = o->seek ? o->seek : o->main;
                ok = target->info(target, 0, BS_INFO_POSITIONED_WRITE, &w, sizeof w) == 0;
            }
            if (!ok) Err(inst, "M427:Unable to write output %d", info.output);
        }
    }
    inst->engine->drop_output_sample();
    return ok;
}

bool DrainOutput(Instance* inst, bool report) {
    while (inst->engine->output_available() == kOutputAvailable) {
        if (!WriteOneOutput(inst)) return false;
        if (report) {
            inst->cb.prg(0, "Multiplexing access unit %d", static_cast<int>(++inst->unitsWritten));
            if (inst->cb.yield() != 0) return false;
        }
    }
    return true;
}

// One step of a host-fed input, under the engine lock.
bool HostStep(Instance* inst, InputRecord* r) {
    if (!AllStarted(inst)) return true;
    if (!RegisterStreams(inst)) return false;
    if (!GivePending(inst, r)) return false;
    EngineStatistics stats;
    const int32_t code = inst->engine->get_statistic(&stats);
    if (code != kEngineOk) {
        Err(inst, "M416:get_statistic failed, code %d", code);
        return false;
    }
    return DrainOutput(inst, false);
}

int32_t HandleNotification(Instance* inst, InputRecord* r, uint32_t id, const void* data, uint32_t size) {
    uint32_t count = 0;
    if (data && size == 4) std::memcpy(&count, data, 4);
    if (id == BS_INFO_UNIT) {
        r->pending += count;
        r->started = true;
    } else {
        r->started = true;
        if (count == kAes3HeaderBytes && !r->split && r->total == 0) {
            if (!ParseAes3(inst, r)) return -1;
        } else if (r->split) {
            const uint32_t per = count / static_cast<uint32_t>(r->channels);
            for (int c = 0; c < r->channels; c++) {
                if (MoveToChannel(r, c, per) != per) return -1;
            }
        } else {
            r->pending += count;
        }
    }
    r->total += count;
    return HostStep(inst, r) ? 0 : -1;
}

int32_t BUFSTREAM_CALL InputNotify(bufstream* bs, uint32_t offset, uint32_t id, void* data, uint32_t size) {
    InputRecord* r = static_cast<InputRecord*>(bs->owner);
    if (!r) return 0;
    Instance* inst = r->instance;
    if (id != BS_INFO_UNIT && id != BS_INFO_AES3_UNIT) {
        return r->savedInfo ? r->savedInfo(bs, offset, id, data, size) : 0;
    }
    std::lock_guard<MuxLock> hold(inst->engine->Lock());
    if (inst->failed) return -1;
    const int32_t result = HandleNotification(inst, r, id, data, size);
    if (result != 0) inst->failed = true;
    return result;
}

// One step of a file-driven input; false on failure.
bool FileStep(Instance* inst, InputRecord* r) {
    bufstream* bs = r->bs;
    if (r->split) {
        uint32_t block;
        if (r->wav) {
            block = bs_wav_next_unit_size(bs) / static_cast<uint32_t>(r->channels);
        } else {
            block = SamplesPerFrame(inst->frameRateCode, r->frame) * static_cast<uint32_t>(r->bytesPerSample);
            r->frame = (r->frame + 1) % kFrameCycle;
        }
        bool any = false;
        for (int c = 0; c < r->channels && block > 0; c++) any = MoveToChannel(r, c, block) > 0 || any;
        if (!GivePending(inst, r)) return false;
        if (any) return true;
        r->ended = true;
        for (int c = 0; c < r->channels; c++) {
            const int32_t code = inst->engine->end_of_stream(r->channelIds[c]);
            if (code < 0) {
                Err(inst, "M419:end_of_stream failed, channel %d, code %d", c, code);
                return false;
            }
        }
        return true;
    }
    uint32_t n = kPiece;
    const uint8_t* p = bs->request(bs, n);
    if (!p) {
        n = bs->bytes_available ? std::min(bs->bytes_available(bs), kPiece - 1) : 0;
        p = n ? bs->request(bs, n) : nullptr;
        if (!p && bs->request(bs, 1)) {
            // The largest piece the record still gives (requests that succeed
            // for n succeed for less).
            uint32_t lo = 1, hi = kPiece - 1;
            while (lo < hi) {
                const uint32_t mid = lo + (hi - lo + 1) / 2;
                if (bs->request(bs, mid)) {
                    lo = mid;
                } else {
                    hi = mid - 1;
                }
            }
            n = lo;
            p = bs->request(bs, n);
        }
    }
    if (p && n > 0) {
        const int32_t code = inst->engine->add_sample(r->streamId, p, n);
        bs->commit(bs, n);
        r->total += n;
        if (code < 0) {
            Err(inst, "M418:add_sample failed, code %d", code);
            return false;
        }
        return true;
    }
    r->ended = true;
    const int32_t code = inst->engine->end_of_stream(r->streamId);
    if (code < 0) {
        Err(inst, "M419:end_of_stream failed, code %d", code);
        return false;
    }
    return true;
}

// The share of a library-opened input delivered so far, or -1 when unknown
// (a host's record may give other meanings to these ids: it is not asked).
double Progress(const InputRecord* r) {
    bufstream* bs = r->bs;
    if (r->kind != InputKind::kLibraryFile || !bs || !bs->info) return -1;
    int64_t position = 0, size = 0;
    if (bs->info(bs, 0, BS_INFO_POSITION, &position, sizeof position) != 0 ||
        bs->info(bs, 0, BS_INFO_FILE_SIZE, &size, sizeof size) != 0 || size <= 0)
        return -1;
    return static_cast<double>(position) / static_cast<double>(size);
}

// One round over the file-driven inputs. Inputs that are further through
// their files than the slowest one wait, so that every stream advances at
// about the same pace and its units leave soon after they are cut.
bool FileRound(Instance* inst) {
    double progress[kMaxInputs];
    double slowest = -1;
    for (int i = 0; i < inst->inputs; i++) {
        const InputRecord* r = inst->in[i];
        progress[i] = r->ended || r->kind == InputKind::kHostFed ? -1 : Progress(r);
        if (progress[i] >= 0 && (slowest < 0 || progress[i] < slowest)) slowest = progress[i];
    }
    for (int i = 0; i < inst->inputs; i++) {
        InputRecord* r = inst->in[i];
        if (r->ended || r->kind == InputKind::kHostFed) continue;
        if (progress[i] >= 0 && progress[i] > slowest + kProgressSlack) continue;
        if (!FileStep(inst, r)) return false;
        if (inst->cb.yield() != 0) return false;
    }
    return true;
}

// The MPEG video input's frame-rate code, 0 when none is found.
int DetectFrameRate(Instance* inst) {
    for (int i = 0; i < inst->inputs; i++) {
        bufstream* bs = inst->in[i]->bs;
        const uint8_t* p = bs->request(bs, kProbeBytes);
        if (!p) return 0;
        if (p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == 0xB3) {
            const int code = p[7] & 0x0F;
            return code >= 1 && code <= 8 ? code : 0;
        }
    }
    return 0;
}

bool PrepareWavInputs(Instance* inst) {
    inst->frameRateCode = DetectFrameRate(inst);
    if (inst->frameRateCode == 0) {
        Err(inst, "M411:Unable to find the frame rate of an MPEG video input");
        return false;
    }
    const uint8_t options[2] = {static_cast<uint8_t>(inst->settings.mplexType == kHd ? WAV_FORM_PLANAR : WAV_FORM_331M),
                                static_cast<uint8_t>(inst->frameRateCode)};
    for (int i = 0; i < inst->inputs; i++) {
        InputRecord* r = inst->in[i];
        if (!r->wav) continue;
        BufstreamClose(&r->bs, 0);
        r->bs = bs_wav_open(r->name.c_str(), kFileBuffer, options);
        if (!r->bs || !ParseAes3(inst, r)) {
            Err(inst, "M425:Unable to open input file");
            return false;
        }
    }
    return true;
}

int32_t Stop(Instance* inst) {
    inst->failed = true;
    return 1;
}

bool AllFileInputsEnded(const Instance* inst) {
    for (int i = 0; i < inst->inputs; i++) {
        if (inst->in[i]->kind != InputKind::kHostFed && !inst->in[i]->ended) return false;
    }
    return true;
}

InputRecord* NewInput(Instance* inst) {
    if (inst->inputs >= kMaxInputs) {
        Err(inst, "M423:Maximum input streams have been added");
        return nullptr;
    }
    InputRecord* r = HostNew<InputRecord>(inst, kInputRecordBytes);
    if (!r) Err(inst, "M424:Unable to allocate %d bytes for input stream", static_cast<int>(kInputRecordBytes));
    if (r) r->instance = inst;
    return r;
}

int32_t StoreInput(Instance* inst, InputRecord* r) {
    r->streamId = kFirstStreamId + inst->streams;
    inst->in[inst->inputs++] = r;
    inst->streams++;
    return 0;
}

OutputRecord* NewOutput(Instance* inst) {
    if (inst->outputs >= kMaxOutputs) {
        Err(inst, "M423:Maximum output streams have been added");
        return nullptr;
    }
    OutputRecord* o = HostNew<OutputRecord>(inst, kOutputRecordBytes);
    if (!o) Err(inst, "M424:Unable to allocate %d bytes for output stream", static_cast<int>(kOutputRecordBytes));
    if (o) o->instance = inst;
    return o;
}

bool HasHostFedInput(const Instance* inst) {
    for (int i = 0; i < inst->inputs; i++) {
        if (inst->in[i]->kind == InputKind::kHostFed) return true;
    }
    return false;
}

// Done's last flush for host-fed inputs and stream outputs.
bool FinalFlush(Instance* inst) {
    std::lock_guard<MuxLock> hold(inst->engine->Lock());
    if (inst->failed) return false;
    if (!inst->registered && !AllStarted(inst)) return true;
    if (!RegisterStreams(inst)) return false;
    for (int i = 0; i < inst->inputs; i++) {
        InputRecord* r = inst->in[i];
        if (r->ended) continue;
        if (!GivePending(inst, r)) return false;
        r->ended = true;
        const int n = r->split ? r->channels : 1;
        for (int c = 0; c < n; c++) {
            const int32_t code = inst->engine->end_of_stream(r->split ? r->channelIds[c] : r->streamId);
            if (code < 0) {
                Err(inst, "M419:end_of_stream failed, code %d", code);
                return false;
            }
        }
    }
    return DrainOutput(inst, false);
}

// Closes what the library created; false when finishing a file failed.
bool ReleaseRecords(Instance* inst, int32_t abortFlag) {
    bool ok = true;
    for (int i = 0; i < inst->inputs; i++) {
        InputRecord* r = inst->in[i];
        if (r->kind == InputKind::kHostFed && r->bs) {
            r->bs->info = r->savedInfo;  // the host's record is as it was
            r->bs->owner = r->savedOwner;
        }
        if (r->kind == InputKind::kLibraryFile && r->bs) {
            if (r->bs->done) r->bs->done(r->bs, abortFlag);
            if (r->bs->free) r->bs->free(r->bs);
        }
        for (bs_pipe*& p : r->pipes) {
            bs_pipe_close(p);
            p = nullptr;
        }
        HostDelete(inst, r);
        inst->in[i] = nullptr;
    }
    for (int i = 0; i < inst->outputs; i++) {
        OutputRecord* o = inst->out[i];
        if (o->seek) {
            // Flushes the main record, then applies the positioned writes.
            if (o->seek->done(o->seek, abortFlag) != 0) ok = false;
            o->seek->free(o->seek);
        }
        if (o->libraryMain) {
            if (o->main->done(o->main, abortFlag) != 0) ok = false;
            o->main->free(o->main);
        }
        HostDelete(inst, o);
        inst->out[i] = nullptr;
    }
    return ok;
}

void ResetRun(Instance* inst) {
    inst->streamOutput = false;
    inst->registered = false;
    inst->outputs = inst->inputs = inst->streams = 0;
    inst->failed = false;
    inst->hasWav = false;
    inst->frameRateCode = 0;
    inst->unitsWritten = 0;
}

struct Preset {
    int32_t first, last;
    int32_t profile, mplexType;
    const char* name;
};

constexpr const char* kImxName = "Sony XDCAM IMX, MXF Muxer";
constexpr const char* kHdName = "Sony XDCAM HD, MXF Muxer";
constexpr Preset kPresets[] = {
    {28, 31, kXdcam, kImx, kImxName},
    {0x10000, 0x10003, kXdcam, kImx, kImxName},
    {32, 40, kXdcam, kHd, kHdName},
    {0x10100, 0x10105, kXdcam, kHd, kHdName},
    {0x10110, 0x10116, kXdcam, kHd, kHdName},
    {0x11000, 0x11001, kP2, kP2Dvcpro, "Panasonic P2 DVCPRO, MXF Muxer"},
    {0x11002, 0x11002, kP2, kP2Avci, "Panasonic P2 AVC-I, MXF Muxer"},
};

int32_t Check(const Callbacks& cb, const Settings* s) {
    if (!s) {
        cb.err("M428:Invalid mxf_m_settings parameter");
        return 1;
    }
    if (s->mplexType == kImx || s->mplexType == kDv || s->mplexType == kP2Avci) {
        cb.err("M433:Mux type XDCAM IMX, XDCAM DV or P2 AVCI not yet supported");
        return 1;
    }
    if (s->profile != kXdcam && s->profile != kP2) {
        cb.err("M426:Invalid format type (%d), must be %d or %d", s->profile, kXdcam, kP2);
        return 1;
    }
    if ((s->mplexType == kHd && s->profile == kP2) || (s->mplexType == kP2Dvcpro && s->profile == kXdcam)) {
        cb.err("M426:Invalid combination of profile (%d) and mplex_type %d", s->profile, s->mplexType);
        return 1;
    }
    return 0;
}

}  // namespace

const char* Defaults(Settings* settings, int32_t preset) {
    if (!settings) return nullptr;
    *settings = Settings();
    for (const Preset& p : kPresets) {
        if (preset >= p.first && preset <= p.last) {
            settings->profile = p.profile;
            settings->mplexType = p.mplexType;
            return p.name;
        }
    }
    settings->profile = kXdcam;
    settings->mplexType = kHd;
    return "Default, MXF Muxer";
}

int32_t CheckSettings(get_callback_t getCallback, const Settings* settings) {
    return Check(LookupCallbacks(getCallback), settings);
}

Instance* New(get_callback_t getCallback, const Settings* settings, const MuxServices& services) {
    const Callbacks cb = LookupCallbacks(getCallback);
    if (!settings || Check(cb, settings) != 0) return nullptr;
    void* raw = cb.malloc(sizeof(Instance));
    if (!raw) return nullptr;
    std::memset(raw, 0, sizeof(Instance));
    Instance* inst = new (raw) Instance();
    inst->cb = cb;
    inst->settings = *settings;
    if (settings->block) std::memcpy(inst->block, settings->block, sizeof inst->block);
    if (settings->clipName) std::strncpy(inst->clip, settings->clipName, 6);
    inst->settings.block = nullptr;  // the host's pointers are not kept
    inst->settings.clipName = nullptr;

    EngineSettings& e = inst->engineSettings;
    e.profile = InternalProfileOf(*settings);
    e.fileNumber = settings->fileNumber;
    std::memcpy(e.clipName, inst->clip, sizeof e.clipName);
    e.hasBlock = settings->block != nullptr;
    std::memcpy(e.block, inst->block, sizeof e.block);
    e.values[0] = settings->startTimecode;
    for (int i = 0; i < 3; i++) e.values[i + 1] = settings->trackValues[i];
    e.dropFrame = (settings->flags & kFlagDropFrame) ? 1 : 0;
    e.secondVariant = (settings->flags & kFlagSecondVariant) ? 1 : 0;

    inst->engine = new (std::nothrow)
        MuxEngine(services.makeWriter, services.writer, services.makeLock ? services.makeLock() : nullptr);
    if (!inst->engine) {
        Err(inst, "M402:Unable to create an mxf muxer object");
        const FreeFn hostFree = inst->cb.free;
        inst->~Instance();
        hostFree(inst);
        return nullptr;
    }
    int32_t code = inst->engine->set_settings(&e);
    if (code != 0) {
        Err(inst, "M403:set_settings failed, code %d", code);
    } else if ((code = inst->engine->init()) != 0) {
        Err(inst, "M404:init failed, code %d", code);
    }
    if (code != 0) {
        delete inst->engine;
        const FreeFn hostFree = inst->cb.free;
        inst->~Instance();
        hostFree(inst);
        return nullptr;
    }
    return inst;
}

int32_t AddInputFile(Instance* inst, int32_t, const char* name) {
    if (!inst) return 1;
    if (!name || !name[0]) {
        Err(inst, "M405:Invalid input filename parameter");
        return 1;
    }
    InputRecord* r = NewInput(inst);
    if (!r) return 1;
    if (EndsWithWav(name) && (inst->settings.mplexType == kHd || inst->settings.mplexType == kImx)) {
        r->wav = true;
        r->name = name;
    }
    r->bs = bs_file_reader_open(name, kFileBuffer, nullptr);
    if (!r->bs) {
        HostDelete(inst, r);
        Err(inst, "M425:Unable to open input file");
        return 1;
    }
    if (r->wav) inst->hasWav = true;
    return StoreInput(inst, r);
}

int32_t AddInputFileBS(Instance* inst, int32_t, bufstream* bs) {
    if (!inst) return 1;
    if (!bs) {
        Err(inst, "M406:Invalid input bufstream parameter");
        return 1;
    }
    InputRecord* r = NewInput(inst);
    if (!r) return 1;
    r->kind = InputKind::kHostRecord;
    r->bs = bs;
    return StoreInput(inst, r);
}

int32_t AddInputStream(Instance* inst, int32_t, bufstream* bs) {
    if (!inst) return 1;
    if (!bs) {
        Err(inst, "M413:Invalid input stream parameter");
        return 1;
    }
    InputRecord* r = NewInput(inst);
    if (!r) return 1;
    r->kind = InputKind::kHostFed;
    r->bs = bs;
    r->savedInfo = bs->info;
    r->savedOwner = bs->owner;
    bs->info = InputNotify;
    bs->owner = r;
    return StoreInput(inst, r);
}

int32_t AddOutputFile(Instance* inst, int32_t, const char* name) {
    if (!inst) return 1;
    if (!name || !name[0]) {
        Err(inst, "M405:Invalid output filename parameter");
        return 1;
    }
    OutputRecord* o = NewOutput(inst);
    if (!o) return 1;
    o->main = bs_file_writer_open(name, kFileBuffer, nullptr);
    if (!o->main) {
        HostDelete(inst, o);
        Err(inst, "M425:Unable to open output file");
        return 1;
    }
    o->libraryMain = true;
    o->seek = bseek_open_file_buf(o->main, nullptr);
    if (!o->seek) {
        BufstreamClose(&o->main, 1);
        HostDelete(inst, o);
        Err(inst, "M408:Unable to attach mxf bufstream");
        return 1;
    }
    inst->out[inst->outputs++] = o;
    return 0;
}

int32_t AddOutputFileBS(Instance* inst, int32_t, bufstream* bs) {
    if (!inst) return 1;
    if (!bs) {
        Err(inst, "M406:Invalid output bufstream parameter");
        return 1;
    }
    OutputRecord* o = NewOutput(inst);
    if (!o) return 1;
    o->main = bs;
    // A record that names its file gets the seekable layer, so positioned
    // rewrites land in the file instead of being dropped.
    if (bs->info) {
        static constexpr uint32_t kProbe = 2048;
        char probe[kProbe] = {0};
        if (bs->info(bs, 0, BS_INFO_FILE_NAME, probe, kProbe) == 0 && probe[0]) {
            o->seek = bseek_open_file_buf(bs, nullptr);
            if (!o->seek) {
                HostDelete(inst, o);
                Err(inst, "M408:Unable to attach mxf bufstream");
                return 1;
            }
        }
    }
    inst->out[inst->outputs++] = o;
    return 0;
}

int32_t AddOutputStream(Instance* inst, int32_t, bufstream* bs) {
    if (!inst) return 1;
    if (!bs) {
        Err(inst, "M413:Invalid output stream parameter");
        return 1;
    }
    OutputRecord* o = NewOutput(inst);
    if (!o) return 1;
    o->main = bs;
    inst->streamOutput = true;
    inst->out[inst->outputs++] = o;
    return 0;
}

int32_t Mux(Instance* inst) {
    if (!inst) return 1;
    if (inst->inputs == 0) {
        Err(inst, "M410:No input streams were specified");
        return 1;
    }
    if (inst->failed) return 1;
    if (inst->hasWav && !PrepareWavInputs(inst)) return Stop(inst);
    if (!RegisterStreams(inst)) return Stop(inst);
    while (!inst->failed && inst->engine->get_state() != kStateFinished) {
        if (!FileRound(inst)) return Stop(inst);
        EngineStatistics stats;
        const int32_t code = inst->engine->get_statistic(&stats);
        if (code != kEngineOk) {
            Err(inst, "M412:get_statistic failed, code %d", code);
            return Stop(inst);
        }
        if (!DrainOutput(inst, true)) return Stop(inst);
        // Every input is done but the muxer still waits: it never will finish.
        if (AllFileInputsEnded(inst) && inst->engine->get_state() != kStateFinished &&
            inst->engine->output_available() != kOutputAvailable) {
            Err(inst, "M421:All inputs ended but the muxer did not finish");
            return Stop(inst);
        }
    }
    return inst->failed ? 1 : 0;
}

int32_t Done(Instance* inst, int32_t abortFlag) {
    if (!inst) return 1;
    bool ok = true;
    if (inst->inputs > 0 && (inst->streamOutput || HasHostFedInput(inst)) && !abortFlag) ok = FinalFlush(inst);
    if (!ReleaseRecords(inst, abortFlag)) {
        Err(inst, "M432:Unable to finish an output file");
        ok = false;
    }
    inst->engine->release_writer();
    const int32_t code = inst->engine->init();  // ready for another run
    if (code != 0) {
        Err(inst, "M404:init failed, code %d", code);
        ok = false;
    }
    ResetRun(inst);
    return ok ? 0 : 1;
}

void Free(Instance* inst) {
    if (!inst) return;
    if (inst->inputs > 0 || inst->outputs > 0) ReleaseRecords(inst, 1);
    delete inst->engine;
    const FreeFn hostFree = inst->cb.free;
    inst->~Instance();
    hostFree(inst);
}

MuxEngine* EngineOf(Instance* inst) {
    return inst ? inst->engine : nullptr;
}

}  // namespace mexora
