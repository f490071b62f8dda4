#include "codec/multiplexer/Multiplexer.h"

#include "codec/common/MpegCodes.h"

#include "codec/multiplexer/Descriptors.h"
#include "codec/multiplexer/LpcmFormat.h"
#include "codec/multiplexer/MediaClassify.h"
#include "codec/multiplexer/StreamSupport.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace muxcore {

namespace {

// Sample bytes per LPCM pack by channels and bits (whole samples per pack).
int32_t LpcmSampleBytes(int32_t channels, int32_t bits) {
    if (channels <= 2 && bits == 16) return 2008;
    if ((channels == 2 && bits == 24) || (channels == 3 && bits == 16)) return 2004;
    if (channels == 3 && bits == 24) return 1998;
    if ((channels == 4 || channels == 5) && bits != 24) return 2000;
    if ((channels == 4 && bits == 24) || (channels == 6 && bits == 16)) return 1992;
    if (channels == 7) return 1988;
    if (channels == 8) return 1984;
    return 2010;
}

}  // namespace

InputStream::InputStream(Multiplexer* mux, int number, const StreamSettings& s)
    : mux_(mux), number_(number), config_(s), settings_(s) {}

InputStream::~InputStream() = default;

void InputStream::ResetRun() {
    mem_.Init(0);
    sampleTimes_.Init(0);
    units_.Init(0);
    scanner_.reset();
    internalFormat_.clear();
    pes_.reset();
    ts_.SetCounter(15);  // the next run starts the count again
    tb_.reset();
    eb_.reset();
    scanPos_ = nullptr;
    frameDuration_ = 0;
    auRate_ = 0;
    window_ = 27000000;
    ebSize_ = 0;
    leakRate_ = 0;
    transportByteRate_ = 0;
    packetsPerSecond_ = 0;
    psByteRate_ = 0;
    pstdSize_ = 0;
    lpcmUnit_ = 0;
    timingOffset_ = 0;
    firstTime_ = kNoTime;
    bytesReceived_ = 0;
    lastSent_ = kNoTime;
    realBitrate_ = 0;
    ended_ = false;
    created_ = false;
    configuredCounted_ = false;
    firstPsPacket_ = true;
    rawAac_ = false;
    lpcmFrame_ = 0;
    lpcmBytes_ = 0;
    currentPinPts_ = 0;
    lastPlanned_ = 0;
    lastLateDts_ = kNoTime;
}

int32_t InputStream::OutputType() {
    return mux_->settings_.output;
}
int32_t InputStream::TimingMode() {
    return mux_->settings_.timingMode;
}

int64_t InputStream::TimeShift() {
    return static_cast<int64_t>(settings_.initialTimeShiftMs) * 10000 + mux_->timeOffset_;
}

void InputStream::SetFrameDuration(int64_t d) {
    if (d > 0 && d <= 10000000)
        frameDuration_ = static_cast<double>(d);
    else if (frameDuration_ <= 0)
        frameDuration_ = IsVideo() ? 400000 : 240000;
    auRate_ = static_cast<int64_t>(10000000 / frameDuration_);
}

void InputStream::AddEsInfoDescriptor(const std::vector<uint8_t>& d) {
    constexpr size_t kMaxEsInfo = 1023;  // ES_info_length has 12 bits
    const NS_DESCR::DescriptorList list = NS_DESCR::DescriptorList::FromBytes(d.data(), d.size());
    if (list.Count() != 1 || list.Size() != d.size() || settings_.esInfo.size() + d.size() > kMaxEsInfo) return;
    list[0].AppendTo(settings_.esInfo);
}

HRESULT_T InputStream::Push(const uint8_t* bytes, size_t n, int64_t time) {
    std::lock_guard<std::recursive_mutex> g(mux_->lock_);
    if (!created_ || !IsConnected()) return kE_UNEXPECTED;
    if (ended_) return kE_FAIL;
    if (n == 0) return kS_OK;
    if (!bytes) return kE_POINTER;
    if (settings_.streamType == kPinAac && settings_.hasAacConfig) {
        if (bytesReceived_ == 0) rawAac_ = bytes[0] != 0xFF;
        if (rawAac_) {
            // Raw frames get an ADTS header so the scanner can find them.
            uint8_t h[7];
            BuildAdtsHeader(settings_.aacConfig[0], settings_.aacConfig[1], static_cast<uint32_t>(n), h);
            if (!(n >= 7 && std::memcmp(bytes, h, 7) == 0)) {
                uint8_t* room = n + 7 <= mem_.Capacity() ? mem_.Reserve(n + 7) : nullptr;
                if (!room) return kS_FALSE;
                std::memcpy(room, h, 7);
                std::memcpy(room + 7, bytes, n);
                mem_.Commit(n + 7);
                NoteReceived(n + 7, time);
                return kS_OK;
            }
        }
    }
    while (!mem_.Append(bytes, n)) {
        if (n <= mem_.Capacity()) return kS_FALSE;  // full: the muxer has to make room first
        if (mem_.Grow() != 0) return kE_OUTOFMEMORY;
        scanPos_ = scanPos_ ? scanPos_ : mem_.ReadPosition();
    }
    NoteReceived(n, time);
    return kS_OK;
}

uint8_t* InputStream::BeginWrite(size_t n) {
    std::lock_guard<std::recursive_mutex> g(mux_->lock_);
    if (!created_ || !IsConnected() || ended_ || n == 0 || n > mem_.Capacity()) return nullptr;
    return mem_.Reserve(n);
}

HRESULT_T InputStream::CommitWrite(size_t n, int64_t time) {
    std::lock_guard<std::recursive_mutex> g(mux_->lock_);
    if (!created_ || !IsConnected() || ended_) return kE_UNEXPECTED;
    if (n == 0) return kS_OK;
    mem_.Commit(n);
    NoteReceived(n, time);
    return kS_OK;
}

void InputStream::NoteReceived(size_t n, int64_t time) {
    const int32_t t = settings_.streamType;
    if (time != kNoTime || t == kPinPcm || t == kPinPrivateData || t == kPinDvdSubtitles) {
        AccessUnit r = ZeroUnit();
        r.location = mem_.End() - n;
        r.size = static_cast<int32_t>(n);
        r.pts = time;
        r.ptsPresent = time != kNoTime;
        sampleTimes_.Push(r);
    }
    if (time != kNoTime && firstTime_ == kNoTime) {
        firstTime_ = time;
        mux_->OnFirstTime(this);
    }
    bytesReceived_ += static_cast<int64_t>(n);
    mux_->NotifyData();
}

void InputStream::EndOfStream() {
    std::lock_guard<std::recursive_mutex> g(mux_->lock_);
    ended_ = true;
    mux_->NotifyData();
}

void InputStream::BeginFlush() {
    std::lock_guard<std::recursive_mutex> g(mux_->lock_);
    if (!created_ || settings_.streamType == kPinPcrOnly) return;
    units_.Clear();
    sampleTimes_.Clear();
    mem_.Reset();
    scanPos_ = mem_.ReadPosition();
    firstTime_ = kNoTime;
    ended_ = false;
    if (eb_) eb_->Reset();
    if (tb_) tb_.reset();  // made again with the new packet time
}

void InputStream::EndFlush() {
    std::lock_guard<std::recursive_mutex> g(mux_->lock_);
    if (scanner_) scanner_->Reset();
    scanPos_ = mem_.ReadPosition();
    firstPsPacket_ = true;
}

HRESULT_T InputStream::CreateStreamObjects() {
    if (!IsConnected()) return kS_OK;
    const MuxerSettings& ms = mux_->settings_;
    const int32_t t = settings_.streamType;
    if (!CheckStreamTypeSupported(t).empty()) return kE_INVALIDARG;
    if (t == kPinPcrOnly) {
        // Carries nothing but PCRs on its own PID.
        ts_.SetPid(static_cast<uint16_t>(settings_.streamId));
        created_ = true;
        configuredCounted_ = true;
        return kS_OK;
    }
    int32_t pesSize = settings_.pesPacketSize;
    if (ms.output == kProgramStream) {
        if (ms.compatibility == kCompatDvd || t == kPinDvdSubtitles)
            pesSize = 2028;
        else if (ms.compatibility == kCompatSvcd)
            pesSize = 2304;
    }
    settings_.pesPacketSize = pesSize;
    sampleTimes_.Init(10000);
    units_.Init(20000);
    if (mem_.Init(static_cast<size_t>(std::max(settings_.inputBufferSize, 100000))) != 0) return kE_OUTOFMEMORY;
    mem_.Bind(&sampleTimes_, &units_, this);
    scanPos_ = mem_.ReadPosition();
    uint8_t subOrExt = 0;
    if (settings_.streamPesId == MpegCommon::kStreamIdPrivate1 && ms.output == kProgramStream)
        subOrExt = subId_;
    else if (settings_.streamPesId == MpegCommon::kStreamIdExtended)
        subOrExt = t == kPinVc1 ? 0x55 : 0x71;
    // LPCM and AC-3 private headers are written by the program-stream writer.
    if (t == kPinPcm || t == kPinAc3) subOrExt = 0;
    pes_ = std::make_unique<NS_PES::CPESPacketHdr>(static_cast<uint8_t>(settings_.streamPesId), pesSize, subOrExt);
    ts_.SetPid(static_cast<uint16_t>(settings_.streamId));
    ts_.SetCounter(15);
    window_ = LookAheadWindow(t);
    scanner_ = CreateScanner(t, this);
    if (scanner_) mem_.SetListener(this);

    // Defaults until the scanner reads the stream's own headers.
    if (frameDuration_ <= 0) SetFrameDuration(IsVideo() ? 400000 : 240000);
    if (settings_.announcedBitrate <= 0)
        settings_.announcedBitrate = IsVideo() ? 2000000 : t == kPinAac ? 128000 : 256000;
    if (t == kPinPcm) {
        const PcmFormat& f = settings_.pcm;
        // Settings may change after the input was added: check again here.
        if (!CheckLpcmFormat(f).empty()) return kE_INVALIDARG;
        lpcmUnit_ = LpcmSampleBytes(f.channels, f.bitsPerSample);
        const int64_t rate = static_cast<int64_t>(f.sampleRate) * f.channels * f.bitsPerSample;
        settings_.announcedBitrate = static_cast<int32_t>(std::min<int64_t>(rate, INT32_MAX));
        settings_.frequency = f.sampleRate;
        const int32_t bps = f.channels * f.bitsPerSample / 8;
        // Time of the bytes that precede the first LPCM frame start (100 ns).
        timingOffset_ = bps > 0 && f.sampleRate > 0 ? static_cast<int64_t>(320 / bps) * 10000000 / f.sampleRate : 0;
    }

    // Elementary buffer size.
    if (settings_.correctEbSize > 0)
        ebSize_ = settings_.correctEbSize;
    else if (IsAudioType(t))
        ebSize_ = 3584;
    else if (IsVideo())
        ebSize_ = settings_.correctBitrate > 0
                      ? static_cast<int32_t>(settings_.correctBitrate / 8 * (window_ / 27000000))
                  : settings_.announcedBitrate > 0
                      ? static_cast<int32_t>(window_ / 27000000.0 * settings_.announcedBitrate / 8)
                      : 1000000;
    ConfigureRates(0);
    created_ = true;
    return kS_OK;
}

void InputStream::ConfigureRates(int64_t duration) {
    const MuxerSettings& ms = mux_->settings_;
    const int32_t t = settings_.streamType;
    const double r = settings_.correctBitrate > 0 ? settings_.correctBitrate : settings_.announcedBitrate;
    if (duration > 0) auRate_ = 10000000 / duration;
    // Transport: the payload rate with the packet and PES overhead, rounded
    // up to a multiple of 50 bytes/s.
    double byteRate;
    if (duration > 0)
        byteRate =
            std::ceil(std::ceil(r * 0.1277173913043478) + static_cast<double>(auRate_) * (IsVideo() ? 214 : 209));
    else
        byteRate = r > 0 ? r * 1.05 / 8 * 188 / 184 : 100000;
    transportByteRate_ = std::ceil(byteRate * 0.02) * 50;
    packetsPerSecond_ = std::ceil(transportByteRate_ / 188);

    // Program stream: payload rate plus the PES and pack overhead per unit.
    double g = (t == 2 || t == 7 || t == 11 || t == 20) ? 8 : t == kPinAc3 ? 12 : 3;
    double b = r / 8;
    const int32_t p = settings_.pesPacketSize;
    const double units = static_cast<double>(std::max<int64_t>(auRate_, 1));
    if (t == kPinPcm && lpcmUnit_ > 0) {
        b = b * 2048.0 / lpcmUnit_;
    } else {
        // Every pack also carries a 14-byte pack header; packs are at least one per unit.
        g += 14 + 10;
        if (p > 0)
            b += std::ceil(b / std::max(1.0, p - g)) * g + units * g;
        else
            b += g * units + std::ceil(b / 65000.0) * g;
    }
    if (ms.compatibility == kCompatDvd || ms.compatibility == kCompatSvcd) b *= 1.02;  // padding of short packs
    psByteRate_ = std::ceil(b * 1.01);
}

int32_t InputStream::ConfigureStream(int64_t unitDuration) {
    configuredCounted_ = true;
    SetFrameDuration(static_cast<int64_t>(frameDuration_));
    if (settings_.announcedBitrate == 0) settings_.announcedBitrate = IsVideo() ? 2000000 : 256000;
    ConfigureRates(unitDuration);
    return mux_->settings_.output == kTransportStream ? 0 : 1;
}

void InputStream::CreateBufferModels(double packetTime) {
    const MuxerSettings& ms = mux_->settings_;
    const int32_t t = settings_.streamType;
    if (t == kPinPrivateData) return;
    if (t == kPinPcm) {
        // Two LPCM packs and then some: the decoder takes one pack per frame time.
        ebSize_ = pstdSize_ = 8192;
        if (!eb_) eb_ = std::make_unique<CEBSupervizor>(ebSize_);
        return;
    }
    if (ms.output != kProgramStream && !tb_) {
        double leak = leakRate_;
        if (!IsVideo()) leak = 250000;  // 2 Mbit/s, the audio transport-buffer rate
        if (leak <= 0)
            leak = 0.15 * (settings_.correctBitrate > 0     ? settings_.correctBitrate
                           : settings_.announcedBitrate > 0 ? settings_.announcedBitrate
                                                            : 1125000 / 0.15);
        tb_ = std::make_unique<CTBSupervizor>(leak * packetTime / 27000000.0, 512);
    }
    if (!eb_) {
        if (ebSize_ <= 0) ebSize_ = IsVideo() ? 1000000 : 3584;
        eb_ = std::make_unique<CEBSupervizor>(ebSize_);
    }
    // The P-STD size announced in the program stream covers the model.
    pstdSize_ = IsVideo() ? ((ebSize_ + 1023) / 1024) * 1024 : std::max(4096, ((ebSize_ + 127) / 128) * 128);
}

void InputStream::OnDataShifted(ptrdiff_t distance) {
    if (scanPos_) scanPos_ -= distance;
    if (scanner_) scanner_->OnDataShifted(distance);
}

void InputStream::OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) {
    if (scanPos_) scanPos_ += newBase - oldBase;
    if (scanner_) scanner_->OnDataMoved(oldBase, newBase);
}

void InputStream::PullInput() {
    if (!created_ || !IsConnected()) return;
    if (units_.GetFreeCount() <= 0) return;
    if (scanner_) {
        if (!scanPos_) scanPos_ = mem_.ReadPosition();
        uint8_t* end = mem_.End();
        if (scanPos_ < end || ended_) scanPos_ = scanner_->ParseData(scanPos_, static_cast<int32_t>(end - scanPos_));
        return;
    }
    // No scanner: every sample record becomes a unit.
    AccessUnit r;
    while (units_.GetFreeCount() > 0 && sampleTimes_.Peek(r) == 0) {
        sampleTimes_.Pop();
        AccessUnit u = ZeroUnit();
        u.location = r.location;
        u.size = r.size;
        u.kind = kUnitI;
        u.pts = (r.ptsPresent ? r.pts : 0) + TimeShift();
        u.dts = u.pts;
        u.ptsPresent = u.dtsPresent = 1;
        u.unitStart = 1;
        QueueAccessUnit(u);
    }
}

bool InputStream::DrainedAfterEnd() const {
    if (!units_.IsEmpty()) {
        // After a closing stop only units up to its end time are written; a
        // unit already begun is finished whatever its time, as a cut picture
        // does not decode (its rest carries no times of its own).
        const int64_t end = mux_->EndTime();
        if (end == kNoTime) return false;
        const AccessUnit& head = units_.Head();
        const bool begun = head.continuation || !head.unitStart;
        const int64_t dts = HeadDts();
        return !begun && dts != kNoTime && dts - mux_->TimeOffset() > end;
    }
    return !(scanner_ && scanner_->HoldsData());
}

void InputStream::QueueAccessUnit(const AccessUnit& unit) {
    const MuxerSettings& ms = mux_->settings_;
    auto push = [this](const AccessUnit& u) {
        // The scanners stop before the queue runs out; a full queue is
        // emptied by muxing steps rather than by losing the unit.
        int guard = 0;
        while (units_.Push(u) != 0 && guard++ < 100000) {
            if (mux_->settings_.output == kProgramStream ? mux_->PsStep() != 0 : mux_->TsStep() != 0) break;
        }
    };
    if (ms.output == kProgramStream) {
        push(unit);
        return;
    }
    // Transport: cut the unit into PES-sized pieces.
    const bool unbounded = IsVideo() && !ms.writePesLengthForVideo && settings_.pesPacketSize == 0;
    AccessUnit u = unit;
    bool first = true;
    int32_t left = unit.size;
    uint8_t* at = unit.location;
    do {
        pes_->Reset();
        if (first && unit.ptsPresent) {
            if (unit.dtsPresent && unit.dts != unit.pts && unit.dts < unit.pts && !(IsVideo() && ms.noDtsForVideo))
                pes_->SetPtsDts(unit.pts, unit.dts);
            else
                pes_->SetPts(unit.pts);
        }
        const int32_t h = pes_->HeaderSize();
        int32_t piece;
        if (settings_.pesPacketSize > 0)
            piece = settings_.pesPacketSize - h + 6;
        else if (unbounded)
            piece = left;
        else
            piece = 65520 - h;
        piece = std::max(1, std::min(piece, left));
        u.location = at;
        u.size = piece;
        u.unitStart = first ? 1 : 0;
        u.continuation = 0;
        u.pesHeaderSize = static_cast<uint8_t>(h);
        u.admitted = 0;
        push(u);
        at += piece;
        left -= piece;
        first = false;
    } while (left > 0);
}

int InputStream::GetMuxStatus(int64_t clock, int64_t slot, int32_t need, int64_t& waitTime) {
    waitTime = kNoTime;
    if (!IsConnected() || !created_) return kNoData;
    if (IsDrained()) return kEnded;
    if (tb_ && tb_->CanAcceptPacket(slot) == kBufOverflow) return kTbFull;
    if (units_.IsEmpty()) return kNoData;
    const AccessUnit& head = units_.Head();
    if (eb_) {
        eb_->Drain(clock);
        // A whole unit larger than the buffer can only be sent as it drains.
        const int32_t want = std::min(need, eb_->GetSize());
        if (eb_->Free() < want || (head.unitStart && !head.continuation && eb_->QueuedUnits() >= 9999)) {
            waitTime = eb_->NextRemoval();
            if (waitTime != kNoTime) return kEbFull;
        }
    }
    const int64_t dts = head.dtsPresent ? head.dts : head.pts;
    if (dts != kNoTime && TimeToTicks(dts) - clock > window_) {
        waitTime = (TimeToTicks(dts) - window_) * 10 / 27 + timingOffset_;
        return kNotDue;
    }
    return kReady;
}

int32_t InputStream::PreparePesHeader(const AccessUnit& piece) {
    const MuxerSettings& ms = mux_->settings_;
    pes_->Reset();
    if (piece.unitStart && settings_.streamType != kPinPrivateData) pes_->SetDataAlignment(true);
    if (piece.unitStart && piece.ptsPresent) {
        if (!piece.dtsPresent || piece.dts >= piece.pts || (IsVideo() && ms.noDtsForVideo))
            pes_->SetPts(piece.pts);
        else
            pes_->SetPtsDts(piece.pts, piece.dts);
    }
    if (IsVideo() && !ms.writePesLengthForVideo && settings_.pesPacketSize == 0)
        pes_->SetUnbounded();
    else
        pes_->SetPayloadLength(piece.size);
    return pes_->HeaderSize();
}

HRESULT_T InputStream::WriteTransportPacket(bool withPcr, uint64_t pcr) {
    AccessUnit head;
    if (units_.Peek(head) != 0) return kE_FAIL;
    if (mux_->gapOpen_ && !withPcr) {
        // After idle slots a PCR goes first; it takes a slot, so it is
        // written before this packet is counted into the buffer models.
        mux_->gapOpen_ = false;
        mux_->WriteBracketPcrs();
    }
    int32_t hdrSize = 0;
    if (withPcr) {
        ts_.AddPcr(pcr);
        if (program_ && program_->pendingDiscontinuity) {
            ts_.AddFlag(NS_TS::CTSAdaptation::DISCONTINUITY);
            program_->pendingDiscontinuity = false;
        }
        if (program_) program_->nextPcrTime = static_cast<int64_t>(pcr) + mux_->settings_.pcrIntervalMs * 27000LL;
    }
    const bool pesStart = head.continuation == 0;
    if (pesStart) {
        hdrSize = PreparePesHeader(head);
        ts_.SetPayloadUnitStart(true);
        if (head.unitStart && (head.kind == kUnitI || head.kind == kUnitIWithSequence))
            ts_.AddFlag(NS_TS::CTSAdaptation::ES_PRIORITY);
        if (head.unitStart && head.kind == kUnitIWithSequence) ts_.AddFlag(NS_TS::CTSAdaptation::RANDOM_ACCESS);
        if (eb_ && head.unitStart) eb_->PushUnit(head);
    }
    const int32_t room = ts_.Room() - hdrSize;
    const int32_t n = std::max(0, std::min(head.size, room));
    ts_.Reserve(hdrSize + n);
    // One PES begins per packet, at its first payload byte: stuff the rest.
    if (n < room) ts_.StuffRest();
    // The packet is built where the output takes it; when the output failed,
    // in a scratch packet, so that the models and the queue move on alike.
    HRESULT_T hr;
    uint8_t* out = mux_->BeginPacket(withPcr, hr);
    uint8_t scratch[NS_TS::CTSPacketHdr::kPacketBytes];
    uint8_t* pkt = out ? out : scratch;
    int32_t at = ts_.Put(pkt);
    if (pesStart) {
        SPL::BitstreamWriter hw;
        hw.Attach(pkt + at, NS_TS::CTSPacketHdr::kPacketBytes - at);
        at += pes_->Write(hw);
    }
    if (n > 0) std::memcpy(pkt + at, head.location, static_cast<size_t>(n));
    if (eb_) eb_->Admit(n);
    if (tb_) tb_->AddBytes(188, mux_->slots_);
    const uint8_t* consumedTo = head.location + n;
    if (n == head.size) {
        units_.Pop();
        // "Current Pin PTS": where the next unit will be due.
        currentPinPts_ = units_.IsEmpty() ? head.dts + static_cast<int64_t>(frameDuration_)
                                          : HeadDts() + static_cast<int64_t>(frameDuration_);
    } else {
        units_.ConsumeHead(n);
    }
    ReleaseUpTo(consumedTo);
    if (program_) ++program_->packetsSincePcr;
    lastSent_ = head.dts;
    hr = mux_->EndPacket(out, hr);
    if (n == head.size) mux_->NoteCompleted(this, head.dts);
    return hr;
}

HRESULT_T InputStream::WritePcrOnlyPacket(uint64_t pcr) {
    uint8_t pkt[188];
    ts_.AddPcr(pcr);
    if (program_ && program_->pendingDiscontinuity) {
        ts_.AddFlag(NS_TS::CTSAdaptation::DISCONTINUITY);
        program_->pendingDiscontinuity = false;
    }
    ts_.StuffRest();
    SPL::BitstreamWriter w;
    w.Attach(pkt, 188);
    ts_.Write(w);
    if (tb_) tb_->AddBytes(188, mux_->slots_);
    if (program_) program_->packetsSincePcr = 0;
    return mux_->DeliverPacket(pkt, true);
}

}  // namespace muxcore
