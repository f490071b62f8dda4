#include "codec/multiplexer/FileMux.h"

#include "codec/multiplexer/EsDetect.h"
#include "codec/multiplexer/LpcmFormat.h"
#include "codec/multiplexer/Multiplexer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace muxcore {

namespace {

constexpr size_t kHeadBytes = 64 * 1024;
constexpr int32_t kTransportSampleBytes = 256 * 1024;
constexpr int32_t kLongestPacket = 192;  // a transport packet with its time-stamp prefix

// The output file. An existing file is written over in place and cut to
// length at the end: truncating it first would make the system drop its
// cached pages (waiting for those still being written back) only to
// allocate them again. Small samples are gathered into blocks; a large one
// goes out as it is, after what was gathered (the FILE itself is unbuffered).
class FileSink : public IMuxSink {
public:
    FileSink() : block_(new uint8_t[kBlockBytes]) {}
    ~FileSink() override { Close(); }
    bool Open(const std::string& path) {
        path_ = path;
        f_ = std::fopen(path.c_str(), "r+b");
        if (!f_) f_ = std::fopen(path.c_str(), "wb");
        return f_ && std::setvbuf(f_, nullptr, _IONBF, 0) == 0;
    }
    HRESULT_T Deliver(const OutputSample& s) override {
        bytes_ += s.length;
        if (s.length >= kDirectBytes) return Flush() && Write(s.data, s.length) ? kS_OK : kE_FAIL;
        if (kBlockBytes - used_ < s.length && !Flush()) return kE_FAIL;
        std::memcpy(block_.get() + used_, s.data, s.length);
        used_ += s.length;
        return kS_OK;
    }
    // Writes what is gathered, closes the file and cuts off what an earlier
    // file left behind the bytes delivered; false when any of it failed.
    bool Close() {
        if (!f_) return true;
        const bool flushed = Flush();
        const bool closed = std::fclose(f_) == 0;
        f_ = nullptr;
        return flushed && closed && CutTo(bytes_);
    }
    uint64_t bytes_ = 0;

private:
    static constexpr size_t kBlockBytes = 256 * 1024;
    static constexpr size_t kDirectBytes = 64 * 1024;
    bool Flush() {
        const bool ok = Write(block_.get(), used_);
        used_ = 0;
        return ok;
    }
    bool Write(const uint8_t* p, size_t n) { return n == 0 || (f_ && std::fwrite(p, 1, n, f_) == n); }
    // Only a regular file has a length to cut (not a pipe or a device).
    bool CutTo(uint64_t length) const {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path_, ec)) return true;
        const std::uintmax_t now = std::filesystem::file_size(path_, ec);
        if (!ec && now > length) std::filesystem::resize_file(path_, length, ec);
        return !ec;
    }

    std::string path_;
    FILE* f_ = nullptr;
    std::unique_ptr<uint8_t[]> block_;  // left uninitialised: only written bytes are read
    size_t used_ = 0;
};

struct Source {
    FILE* f = nullptr;
    InputStream* in = nullptr;
    size_t left = SIZE_MAX;
    bool eof = false;
    ~Source() {
        if (f) std::fclose(f);
    }
};

}  // namespace

FileMuxResult MuxFiles(const FileMuxJob& job) {
    FileMuxResult res;
    Multiplexer mux;
    mux.Settings() = job.settings;
    // A file takes samples of any size: transport packets go out in large
    // samples, which the sink writes without another copy.
    if (job.settings.output == kTransportStream) {
        mux.Settings().outputBufferSize = kTransportSampleBytes;
        mux.Settings().tsPacketsToDeliver = kTransportSampleBytes / kLongestPacket;
    }
    const int32_t compat = job.settings.compatibility;
    mux.Settings().compatibility = kCompatNone;
    if (Failed(mux.SetCompatibility(compat))) {
        res.error = "compatibility modes need program-stream output";
        return res;
    }
    std::vector<std::unique_ptr<Source>> sources;
    for (const FileMuxInput& fi : job.inputs) {
        // The output is written over in place: it must not be an input.
        std::error_code ec;
        if (std::filesystem::equivalent(fi.path, job.output, ec)) {
            res.error = "the output " + job.output + " is an input";
            return res;
        }
        auto src = std::make_unique<Source>();
        src->f = std::fopen(fi.path.c_str(), "rb");
        if (!src->f) {
            res.error = "cannot open " + fi.path;
            return res;
        }
        // Enough bytes for several frames of any audio kind.
        std::vector<uint8_t> head(kHeadBytes);
        const size_t n = std::fread(head.data(), 1, head.size(), src->f);
        EsInfo info = DetectElementaryStream(head.data(), n);
        if (fi.streamType != kPinFree) {
            const bool wav = info.streamType == kPinPcm;
            info.streamType = fi.streamType;
            if (!wav) info.dataOffset = 0;
            const size_t at = std::min(info.dataOffset, n);
            if (!BytesFitKind(fi.streamType, fi.streamType == kPinPcm ? head.data() : head.data() + at,
                              fi.streamType == kPinPcm ? n : n - at)) {
                res.error = fi.path + ": the bytes are not a stream of the given kind";
                return res;
            }
        }
        if (info.streamType == kPinFree) {
            res.error = "cannot tell the kind of " + fi.path;
            return res;
        }
        if (info.streamType == kPinPcm) {
            const std::string why = CheckLpcmFormat(info.pcm);
            if (!why.empty()) {
                res.error = fi.path + ": PCM format: " + why;
                return res;
            }
        }
        if (std::fseek(src->f, static_cast<long>(info.dataOffset), SEEK_SET) != 0) {
            res.error = "cannot read " + fi.path;
            return res;
        }
        src->left = info.dataLength;
        StreamSettings s;
        s.streamType = info.streamType;
        s.pcm = info.pcm;
        src->in = mux.AddInput(s);
        if (!src->in) {
            res.error = fi.path + ": " + mux.LastError();
            return res;
        }
        sources.push_back(std::move(src));
    }
    FileSink sink;
    if (!sink.Open(job.output)) {
        res.error = "cannot create " + job.output;
        return res;
    }
    if (Failed(mux.Start(&sink))) {
        res.error = "the multiplexer does not start";
        return res;
    }
    bool finished = false;
    int stalls = 0;
    bool readAll = true;  // every input with room reads, as after a round without progress
    while (!finished) {
        bool fed = false;
        bool skipped = false;
        for (auto& src : sources) {
            // Each input reads one chunk per round straight into its buffer (less
            // when it is full or its file ends): the muxer then takes the bytes
            // while they are still in the cache. One that holds a chunk and
            // queued units already skips a round that follows progress, so that
            // a slowly taken input does not spread over memory never touched.
            if (src->eof) continue;
            if (!readAll && src->in->HeldBytes() >= job.chunkSize && src->in->Units().GetCount() > 0) {
                skipped = true;
                continue;
            }
            const size_t want = std::min(job.chunkSize, src->left);
            uint8_t* room = want ? src->in->BeginWrite(want) : nullptr;
            if (want && !room) continue;  // full: the muxer has to make room first
            const size_t got = want ? std::fread(room, 1, want, src->f) : 0;
            src->left -= got;
            fed = true;
            if (got == 0) {
                src->eof = true;
                src->in->EndOfStream();
            } else if (Failed(src->in->CommitWrite(got))) {
                res.error = "an input refused its data";
                return res;
            }
        }
        const uint64_t before = sink.bytes_;
        finished = mux.RunUntilIdle();
        const bool progress = fed || sink.bytes_ != before || finished;
        readAll = !progress;
        if (progress) {
            stalls = 0;
        } else if (!skipped && ++stalls > 3) {
            res.error = "the multiplexer stalled";
            // An input whose scanner met no sequence-level header in the
            // whole file holds the start back: name it.
            for (size_t i = 0; i < sources.size(); ++i)
                if (sources[i]->eof && !sources[i]->in->Configured())
                    res.error = job.inputs[i].path +
                                ": no stream header (sequence header, parameter sets or "
                                "object layer) in the whole input";
            return res;
        }
    }
    res.ok = sink.Close();
    if (!res.ok) res.error = "cannot write " + job.output;
    res.bytesOut = sink.bytes_;
    res.paddingPackets = mux.PaddingPackets();
    res.lateUnits = mux.LateUnits();
    res.programMuxRate = mux.ProgramMuxRate();
    return res;
}

}  // namespace muxcore
