#include "mxf/mux/MxfFileWriter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace mexora::mxf {

namespace {

constexpr int32_t kInternalXdcamHd = 0;
constexpr int32_t kInternalP2Dvcpro = 3;
constexpr size_t kAes3HeaderBytes = 8;
constexpr size_t kStartCodeBytes = 4;
constexpr size_t kSequenceHeaderBytes = 12;
constexpr size_t kMpegProbeBytes = 4096;  // the sequence extension and GOP header follow within these
constexpr size_t kLargestDvFrame = 576000;
constexpr uint8_t kDvHeaderByte = 0x1F;  // header DIF block: section 0, sequence 0

bool StartCodeAt(const std::vector<uint8_t>& b, size_t at, uint8_t code) {
    return at + kStartCodeBytes <= b.size() && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1 && b[at + 3] == code;
}

// The first start code `code` in b[from, limit), or npos.
size_t FindStartCode(const std::vector<uint8_t>& b, size_t from, size_t limit, uint8_t code) {
    for (size_t at = from; at + kStartCodeBytes <= limit && at + kStartCodeBytes <= b.size(); at++) {
        if (StartCodeAt(b, at, code)) return at;
    }
    return std::string::npos;
}

}  // namespace

MxfFileWriter::MxfFileWriter(WriterHost& host) : host_(host) {}

int32_t MxfFileWriter::start() {
    std::lock_guard<std::mutex> hold(lock_);
    settings_ = host_.Settings();
    if (settings_.profile == kInternalXdcamHd) {
        profile_ = kXdcamProfile;
    } else if (settings_.profile == kInternalP2Dvcpro) {
        profile_ = kP2Profile;
    } else {
        return kFileWriterBadMode;
    }
    const WriterServices& ws = host_.Services();
    auto guid = [&ws] {
        Label l{};
        if (ws.newGuid) ws.newGuid(l.data());
        return l;
    };
    services_.newUid = guid;
    services_.localTime = [&ws] { return TimestampOf(ws.localTime ? ws.localTime() : 0); };
    try {
        umids_ = std::make_unique<UmidMaker>(guid);
        scheduler_ = std::make_unique<StreamScheduler>();
        scheduler_->SetPool(&pool_);
    } catch (const std::bad_alloc&) {
        return kFileWriterNoMemory;
    }
    if (profile_ == kP2Profile) {
        if (settings_.hasBlock) {
            std::memcpy(clipUmid_.data(), settings_.block, clipUmid_.size());
        } else {
            clipUmid_ = umids_->Make(kP2Profile);
        }
        if (settings_.clipName[0]) {
            clipName_.assign(settings_.clipName, strnlen(settings_.clipName, 6));
        } else {
            const std::optional<std::string> name = P2ClipName(clipUmid_, settings_.fileNumber);
            if (!name) return kFileWriterBadArgument;  // the file number does not fit the name
            clipName_ = *name;
        }
    }
    return kFileWriterOk;
}

int32_t MxfFileWriter::add_stream(int32_t streamId, int32_t output) {
    std::lock_guard<std::mutex> hold(lock_);
    if (output < 0) return kFileWriterBadArgument;
    if (streams_.count(streamId)) return kFileWriterOk;
    if (started_) return kFileWriterBadMode;  // the files are laid out already
    Stream s;
    s.output = output;
    s.format.streamId = streamId;
    streams_.emplace(streamId, std::move(s));
    order_.push_back(streamId);
    return kFileWriterOk;
}

int32_t MxfFileWriter::Classify(int32_t id, Stream& s, bool atEnd) {
    const std::vector<uint8_t>& b = s.probe;
    TrackFormat& format = s.format;
    const char* fourcc = nullptr;
    StreamInfo info;
    if (b.size() < kStartCodeBytes) return atEnd ? kFileWriterRefused : kFileWriterOk;
    if (std::memcmp(b.data(), "AES3", 4) == 0) {
        if (b.size() < kAes3HeaderBytes) return atEnd ? kFileWriterRefused : kFileWriterOk;
        if (!format.aes3.Parse(b.data(), b.size())) return kFileWriterRefused;
        format.kind = EssenceKind::kAes3;
        format.aes3RateCode = ((b[5] >> 5) & 7) + 1;
        fourcc = "aes3";
    } else if (StartCodeAt(b, 0, 0xB3)) {
        if (b.size() < kSequenceHeaderBytes && !atEnd) return kFileWriterOk;
        if (!format.sequence.Parse(b.data(), b.size()) || format.sequence.FrameRateRational().numerator == 0)
            return kFileWriterRefused;
        const size_t limit = std::min(b.size(), kMpegProbeBytes);
        if (limit < kMpegProbeBytes && !atEnd) return kFileWriterOk;  // wait for the extension
        for (size_t at = FindStartCode(b, 4, limit, 0xB5); at != std::string::npos;
             at = FindStartCode(b, at + 4, limit, 0xB5)) {
            if (format.extension.Parse(b.data() + at, b.size() - at)) break;
        }
        const size_t gop = FindStartCode(b, 4, limit, 0xB8);
        es::Mpeg2Gop g;
        if (gop != std::string::npos && g.Parse(b.data() + gop, b.size() - gop)) format.closedGop = g.closed;
        format.kind = EssenceKind::kMpeg2;
        fourcc = "mpg2";
    } else if (b[0] == 0 && b[1] == 0 && (b[2] == 1 || (b[2] == 0 && b[3] == 1))) {
        return kFileWriterRefused;  // H.264, MPEG-4 Part 2 or other start-code video
    } else if (b[0] == kDvHeaderByte) {
        if (!format.dv.Parse(b.data(), b.size())) {
            return b.size() < kLargestDvFrame && !atEnd ? kFileWriterOk : kFileWriterRefused;
        }
        format.kind = EssenceKind::kDv;
        info.dvFrameSize = format.dv.frameSize;
        info.dvRate = format.dv.frameRate;
        fourcc = "dv  ";
    } else {
        return kFileWriterRefused;  // AAC, MPEG audio and anything unknown
    }
    // Each profile maps its own picture codec only.
    if ((format.kind == EssenceKind::kDv && profile_ != kP2Profile) ||
        (format.kind == EssenceKind::kMpeg2 && profile_ != kXdcamProfile))
        return kFileWriterRefused;
    int32_t r = scheduler_->AddStream(id, fourcc, info);
    if (r < 0) return r;
    s.known = true;
    std::vector<uint8_t> first;
    first.swap(s.probe);
    r = scheduler_->AddSample(id, first.data(), static_cast<uint32_t>(first.size()));
    return r < 0 ? r : 1;
}

bool MxfFileWriter::AllKnown() const {
    const int32_t announced = host_.StreamCount();
    if (announced > 0 && static_cast<int32_t>(streams_.size()) < announced) return false;
    for (const auto& s : streams_) {
        if (!s.second.known) return false;
    }
    return !streams_.empty();
}

int32_t MxfFileWriter::StartFiles() {
    if (started_) return kFileWriterOk;
    const bool xdcam = profile_ == kXdcamProfile;
    for (int32_t id : order_) {
        const Stream& s = streams_.at(id);
        const int32_t output = xdcam ? 0 : s.output;
        auto& file = files_[output];
        if (!file) {
            FileSettings f;
            f.profile = profile_;
            f.flagB = xdcam && settings_.secondVariant != 0;
            f.dropFrame = settings_.dropFrame != 0;
            f.startTimecode = settings_.values[0];
            f.output = output;
            f.materialUmid = xdcam ? umids_->Make(kXdcamProfile) : clipUmid_;
            f.fileUmid = umids_->Make(profile_);
            f.clipName = clipName_;
            try {
                file = std::make_unique<TrackWriter>(f, services_,
                                                     [this](OutputPiece p) { host_.QueueOutput(std::move(p)); });
            } catch (const std::bad_alloc&) {
                return kFileWriterNoMemory;
            }
        } else if (!xdcam) {
            return kFileWriterBadArgument;  // OP-Atom holds one stream per output
        }
        file->SetPool(&pool_);
        file->AddTrack(s.format);
    }
    for (auto& f : files_) {
        const int32_t r = f.second->Start();
        if (r < 0) return r;
    }
    started_ = true;
    return kFileWriterOk;
}

int32_t MxfFileWriter::WriteReady() {
    if (!started_) return kFileWriterOk;
    if (profile_ == kXdcamProfile) {
        TrackWriter& file = *files_.at(0);
        while (scheduler_->EditUnitReady()) {
            std::vector<EditUnitPart> parts = scheduler_->TakeEditUnit();
            const int32_t r = file.WriteEditUnit(parts);
            if (r < 0) return r;
            for (EditUnitPart& p : parts) pool_.Give(std::move(p.unit.data));
        }
        return kFileWriterOk;
    }
    for (int32_t id : order_) {
        auto& units = scheduler_->Handler(id)->Units();
        TrackWriter& file = *files_.at(streams_.at(id).output);
        while (!units.empty()) {
            const int32_t r = file.WriteClipUnit(units.front());
            if (r < 0) return r;
            units.pop_front();
        }
    }
    return kFileWriterOk;
}

int32_t MxfFileWriter::add_sample(int32_t streamId, const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!scheduler_ || finished_) return kFileWriterBadMode;
    auto it = streams_.find(streamId);
    if (it == streams_.end()) return kFileWriterBadArgument;
    if (!data && length) return kFileWriterBadArgument;
    Stream& s = it->second;
    pending_ += length;
    if (pending_ > kOutputLimit) host_.SetOverLimit();
    int32_t r;
    if (!s.known) {
        try {
            s.probe.insert(s.probe.end(), data, data + length);
        } catch (const std::bad_alloc&) {
            return kFileWriterNoMemory;
        }
        r = Classify(streamId, s, false);
        if (r < 0) return r;
        if (r == 0) return kFileWriterOk;  // not recognisable yet
        if (AllKnown()) {
            r = StartFiles();
            if (r < 0) return r;
        }
    } else if (length > 0) {
        r = scheduler_->AddSample(streamId, data, length);
        if (r < 0) return r;
    }
    r = WriteReady();
    return r < 0 ? r : kFileWriterOk;
}

int32_t MxfFileWriter::Finish() {
    int32_t r = StartFiles();
    if (r < 0) return r;
    r = scheduler_->Flush();
    if (r < 0) return r;
    r = WriteReady();
    if (r < 0) return r;
    for (auto& f : files_) {
        r = f.second->Finish();
        if (r < 0) return r;
    }
    finished_ = true;
    return kFileWriterOk;
}

int32_t MxfFileWriter::end_of_stream(int32_t streamId) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!scheduler_) return kFileWriterBadMode;
    auto it = streams_.find(streamId);
    if (it == streams_.end()) return kFileWriterBadArgument;
    Stream& s = it->second;
    if (s.ended || finished_) return kFileWriterOk;
    s.ended = true;
    if (!s.known) {
        // Too short to tell, or never recognised.
        const int32_t r = Classify(streamId, s, true);
        if (r <= 0) return kFileWriterRefused;
        if (AllKnown()) {
            const int32_t started = StartFiles();
            if (started < 0) return started;
        }
    }
    for (const auto& other : streams_) {
        if (!other.second.ended) return kFileWriterOk;
    }
    if (!AllKnown()) return kFileWriterRefused;
    return Finish();
}

void MxfFileWriter::recycle(std::vector<uint8_t>&& buffer) {
    std::lock_guard<std::mutex> hold(lock_);
    pool_.Give(std::move(buffer));
}

void MxfFileWriter::output_taken(uint32_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    pending_ -= length;
    if (pending_ < 0) pending_ = 0;
    if (pending_ <= kOutputLimit) host_.ClearOverLimit();
}

int32_t MxfFileWriter::reset() {
    std::lock_guard<std::mutex> hold(lock_);
    if (scheduler_) scheduler_->Reset();
    pending_ = 0;
    for (auto& s : streams_) s.second.ended = false;
    finished_ = false;
    return kFileWriterOk;
}

int64_t MxfFileWriter::EditUnitsWritten() const {
    auto it = files_.find(0);
    return it == files_.end() ? 0 : it->second->EditUnits();
}

size_t MxfFileWriter::UnitsHeld() {
    size_t n = 0;
    for (int32_t id : order_) {
        if (EssenceHandler* h = scheduler_ ? scheduler_->Handler(id) : nullptr) n += h->Units().size();
    }
    return n;
}

WriterFactory FileWriterFactory() {
    return [](WriterHost& host) { return std::unique_ptr<MxfWriter>(new MxfFileWriter(host)); };
}

}  // namespace mexora::mxf
