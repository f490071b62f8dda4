#include "codec/multiplexer/Multiplexer.h"

#include "codec/common/MpegCodes.h"

#include "codec/multiplexer/IdAllocation.h"
#include "codec/multiplexer/LpcmFormat.h"
#include "codec/multiplexer/PesIdRules.h"
#include "codec/multiplexer/StreamSupport.h"
#include "codec/multiplexer/StructureRules.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

namespace muxcore {

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr uint32_t kDvdMuxRate = 25200;  // 50 bytes/s units: 10.08 Mbit/s

bool PassThroughType(int32_t t) {
    return t == kPinPesMpegAudio || t == kPinDvdSubtitles || t == kPinPesDvdSubtitles || t == kPinPesSubpicture33;
}

// Inputs whose first time stamp the first pass waits for. Subpictures and
// private data may stay silent for long, the PCR carrier gets no data.
bool AwaitsFirstTime(int32_t t) {
    return t != kPinFree && t != kPinDvdSubtitles && t != kPinPesSubpicture33 && t != kPinPesDvdSubtitles &&
           t != kPinPrivateData && t != kPinPcrOnly;
}

}  // namespace

Multiplexer::Multiplexer() = default;

Multiplexer::~Multiplexer() {
    StopThread();
}

// ------------------------------------------------------------------ structure

HRESULT_T Multiplexer::SetOutput(int32_t output, std::vector<std::unique_ptr<Program>>* removed) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_) return kE_FAIL;
    if (!OutputSettable(output)) return kE_FAIL;
    if (output == config_.output) return kS_OK;
    if (output == kTransportStream) {
        for (const auto& in : inputs_)
            if (!TransportCarries(in->Settings().streamType)) return kE_FAIL;
        config_.compatibility = kCompatNone;
    } else {
        // A program stream has one program: every input moves to the first.
        while (programs_.size() > 1) {
            Program* p = programs_.back().get();
            for (InputStream* in : std::vector<InputStream*>(p->Inputs())) {
                p->RemoveInput(in);
                programs_.front()->AddInput(in);
            }
            if (removed) removed->push_back(std::move(programs_.back()));
            programs_.pop_back();
        }
        if (!programs_.empty()) programs_.front()->Settings().programNumber = 1;
    }
    config_.output = output;
    return kS_OK;
}

HRESULT_T Multiplexer::SetCompatibility(int32_t compat) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_ || !CompatibilityFits(compat, config_.output)) return kE_FAIL;
    config_.compatibility = compat;
    for (const auto& in : inputs_) {
        if (!in->HasStreamType()) continue;
        StreamSettings& s = in->MutableSettings();
        s.pesPacketSize = PesPacketSizeFor(compat);
        s.paddingInSmallPackets = PaddingInSmallPacketsFor(compat);
    }
    return kS_OK;
}

HRESULT_T Multiplexer::SetDmbCompatibility(int32_t dmb) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_ || (dmb != 0 && dmb != 1)) return kE_FAIL;
    if (dmb == 1)
        for (const auto& in : inputs_) {
            const int32_t t = in->Settings().streamType;
            if (t != kPinFree && t != kPinH264 && t != kPinAac) return kS_FALSE;
        }
    config_.dmbCompatibility = dmb;
    return kS_OK;
}

Program* Multiplexer::AddProgram(const ProgramSettings& s) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_) return nullptr;
    const bool oneProgram =
        config_.output == kProgramStream || (config_.output == kTransportStream && config_.dmbCompatibility == 1);
    if (oneProgram && !programs_.empty()) return nullptr;
    auto p = std::make_unique<Program>(this, s);
    ProgramSettings& ps = p->Settings();
    // Program numbers: the request, else the lowest number that no program has.
    auto numberTaken = [this](int32_t n) {
        for (const auto& o : programs_)
            if (o->Settings().programNumber == n) return true;
        return false;
    };
    ps.programNumber = AllocateProgramNumber(ps.programNumber, numberTaken);
    ps.programId = AllocatePid(ps.programId, nullptr);
    programs_.push_back(std::move(p));
    return programs_.back().get();
}

HRESULT_T Multiplexer::RemoveProgram(Program* p, std::unique_ptr<Program>* removed) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_ || programs_.size() <= 1 || p->HasConnectedInput()) return kE_FAIL;
    for (auto it = programs_.begin(); it != programs_.end(); ++it)
        if (it->get() == p) {
            std::unique_ptr<Program> gone = std::move(*it);
            programs_.erase(it);
            for (InputStream* in : std::vector<InputStream*>(p->Inputs())) MoveInput(in, programs_.front().get());
            if (removed) *removed = std::move(gone);
            return kS_OK;
        }
    return kE_INVALIDARG;
}

HRESULT_T Multiplexer::MoveInput(InputStream* in, Program* to) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_ || !to) return kE_FAIL;
    if (in->GetProgram() == to) return kS_OK;
    if (in->GetProgram()) in->GetProgram()->RemoveInput(in);
    to->AddInput(in);
    return kS_OK;
}

void Multiplexer::KeepProgramIdsUnique(Program* p) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    ProgramSettings& ps = p->Settings();
    ps.programNumber = AllocateProgramNumber(ps.programNumber, [&](int32_t n) {
        for (const auto& o : programs_)
            if (o.get() != p && o->Settings().programNumber == n) return true;
        return false;
    });
    if (!p->ProgramIdFree(ps.programId)) {
        const int32_t old = ps.programId;
        ps.programId = -1;  // not counted against itself
        ps.programId = AllocatePid(old, nullptr);
    }
}

uint16_t Multiplexer::AllocatePid(int32_t request, const InputStream* self) const {
    auto taken = [&](int32_t pid) {
        for (const auto& p : programs_)
            if (p->Settings().programId == pid) return true;
        for (const auto& in : inputs_)
            if (in.get() != self && in->HasStreamType() && in->Settings().streamId == pid) return true;
        return false;
    };
    return static_cast<uint16_t>(muxcore::AllocatePid(request, taken));
}

InputStream* Multiplexer::AddInput(const StreamSettings& s, Program* program) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_) {
        lastError_ = "inputs cannot be added while the multiplexer runs";
        return nullptr;
    }
    lastError_ = CheckStreamTypeSupported(s.streamType);
    if (lastError_.empty() && s.streamType == kPinPcm) {
        lastError_ = CheckLpcmFormat(s.pcm);
        if (lastError_.empty() && config_.output != kProgramStream && !TransportCarries(s.streamType))
            lastError_ = "PCM needs program-stream output";
        if (!lastError_.empty() && lastError_.compare(0, 3, "PCM") != 0) lastError_ = "PCM format: " + lastError_;
    }
    if (!lastError_.empty()) return nullptr;
    if (!program) {
        if (programs_.empty()) AddProgram();
        program = programs_.front().get();
    }
    // The lowest number no input carries.
    int n = 0;
    for (bool clash = true; clash; ++n) {
        clash = false;
        for (const auto& in : inputs_)
            if (in->Number() == n) clash = true;
        if (!clash) break;
    }
    auto in = std::make_unique<InputStream>(this, n, s);
    InputStream* raw = in.get();
    StreamSettings& ss = raw->MutableSettings();
    if (ss.name.empty()) ss.name = "Input" + std::to_string(n);
    inputs_.push_back(std::move(in));
    if (raw->HasStreamType()) {
        ss.streamId = AllocatePid(ss.streamId, raw);
        if (config_.compatibility != kCompatNone) {
            ss.pesPacketSize = PesPacketSizeFor(config_.compatibility);
            ss.paddingInSmallPackets = PaddingInSmallPacketsFor(config_.compatibility);
        }
    }
    raw->settings_ = ss;
    program->AddInput(raw);
    if (raw->IsConnected() && Failed(program->AssignStreamId(raw, ss.streamPesId))) {
        RemoveInput(raw);
        return nullptr;
    }
    return raw;
}

InputStream* Multiplexer::AddInternalInput(const StreamSettings& s, Program* p) {
    int n = 0;
    for (const auto& in : inputs_) n = std::max(n, in->Number() + 1);
    auto in = std::make_unique<InputStream>(this, n, s);
    InputStream* raw = in.get();
    raw->internal_ = true;
    raw->config_.streamId = AllocatePid(s.streamId, raw);
    raw->settings_ = raw->config_;
    inputs_.push_back(std::move(in));
    p->inputs_.push_back(raw);
    raw->program_ = p;
    if (Failed(p->AssignStreamId(raw, raw->settings_.streamPesId))) return nullptr;
    return raw;
}

HRESULT_T Multiplexer::RemoveInput(InputStream* in) {
    return TakeInput(in) ? kS_OK : started_ ? kE_FAIL : kE_INVALIDARG;
}

std::unique_ptr<InputStream> Multiplexer::TakeInput(InputStream* in) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_) return nullptr;
    for (auto it = inputs_.begin(); it != inputs_.end(); ++it)
        if (it->get() == in) {
            if (in->GetProgram()) in->GetProgram()->RemoveInput(in);
            std::unique_ptr<InputStream> taken = std::move(*it);
            inputs_.erase(it);
            return taken;
        }
    return nullptr;
}

// ------------------------------------------------------------------ start

HRESULT_T Multiplexer::Start(IMuxSink* sink, bool byteTimes) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (started_) return kE_UNEXPECTED;
    sink_ = sink;
    if (config_.output == kTransportFixedPids && programs_.empty()) AddProgram();
    settings_ = config_;
    if (settings_.output != kProgramStream) settings_.compatibility = kCompatNone;
    for (const auto& p : programs_) p->settings_ = p->config_;
    for (const auto& in : inputs_) {
        in->settings_ = in->config_;
        if (!in->IsConnected() || settings_.compatibility == kCompatNone) continue;
        in->settings_.pesPacketSize = PesPacketSizeFor(settings_.compatibility);
        in->settings_.paddingInSmallPackets = PaddingInSmallPacketsFor(settings_.compatibility);
    }
    // From here on a failure leaves a run to Reset.
    started_ = true;
    if (Failed(AssignStreamIds())) return kE_FAIL;
    // A user-defined PCR PID rides on an input of its own that carries only PCRs.
    for (const auto& p : programs_) {
        const int32_t pid = p->settings_.userDefinedPcrPid;
        if (pid <= 0 || settings_.output == kProgramStream || !p->HasConnectedInput()) continue;
        StreamSettings pcr;
        pcr.streamType = kPinPcrOnly;
        pcr.streamId = pid;
        pcr.name = "PCR only internal pin";
        InputStream* in = AddInternalInput(pcr, p.get());
        if (!in) return kE_FAIL;
        p->settings_.pcrPid = in->settings_.streamId;
    }
    if (settings_.output == kTransportFixedPids && !ApplyFixedPids()) return kE_FAIL;
    // After the internal inputs: like any other input they take part in the DMB test.
    SetUpDmb();
    for (const auto& in : inputs_) {
        if (!in->IsConnected()) continue;
        // Sub-stream ids follow the final list order.
        if (in->GetProgram()) in->GetProgram()->AssignStreamId(in.get(), in->settings_.streamPesId);
        const HRESULT_T hr = in->CreateStreamObjects();
        if (Failed(hr)) return hr;
    }
    const bool ps = settings_.output == kProgramStream;
    const uint32_t perSample = ps ? 0 : settings_.output == kTransportFixedPids ? 1 : settings_.tsPacketsToDeliver;
    out_.Configure(sink, static_cast<uint32_t>(settings_.outputBufferSize), perSample, byteTimes);
    clock_ = startClock_ = 0;
    slots_ = 0;
    padding_ = 0;
    psBytes_ = 0;
    lateUnits_ = 0;
    timeOffset_ = 0;
    prepared_ = finished_ = rebased_ = false;
    systemHeaderDue_ = true;
    endTime_ = kNoTime;
    ArmFirstData();
    return kS_OK;
}

HRESULT_T Multiplexer::AssignStreamIds() {
    for (const auto& in : inputs_) in->settings_.streamPesId = kPesIdAuto;
    for (const auto& in : inputs_) {
        if (!in->IsConnected() || !in->GetProgram()) continue;
        if (Failed(in->GetProgram()->AssignStreamId(in.get(), in->config_.streamPesId))) return kE_FAIL;
    }
    return kS_OK;
}

void Multiplexer::Reset() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (const auto& p : programs_) {
        auto& list = p->inputs_;
        list.erase(std::remove_if(list.begin(), list.end(), [](InputStream* in) { return in->IsInternal(); }),
                   list.end());
        p->ResetRun();
    }
    inputs_.erase(std::remove_if(inputs_.begin(), inputs_.end(),
                                 [](const std::unique_ptr<InputStream>& in) { return in->IsInternal(); }),
                  inputs_.end());
    for (const auto& in : inputs_) in->ResetRun();
    pat_.hdr.SetCounter(15);
    out_ = OutputFramer();
    sink_ = nullptr;
    clock_ = startClock_ = 0;
    packetTime_ = 1;
    SetDueSpan();
    slots_ = 0;
    patDue_ = pmtDue_ = 0;
    padding_ = 0;
    lateUnits_ = 0;
    endTime_ = kNoTime;
    muxRate_ = 0;
    timeOffset_ = 0;
    started_ = prepared_ = rebased_ = finished_ = false;
    dmb_.Clear();
    dmbOn_ = false;
    systemHeaderDue_ = true;
    psBytes_ = 0;
    gapOpen_ = lastHadPcr_ = false;
    packBuf_.clear();
    passes_ = 0;
    stop_.store(false);
    work_.store(0);
    awaitingFirstTime_ = 0;
    firstData_ = false;
}

bool Multiplexer::ApplyFixedPids() {
    Program* p = programs_.front().get();
    p->settings_.programId = 256;
    std::map<int32_t, int32_t> seen;
    for (const auto& in : inputs_) {
        StreamSettings& s = in->settings_;
        if (!in->IsConnected() || s.streamType == kPinPcrOnly) continue;
        const int32_t n = ++seen[s.streamType];
        if (in->IsVideo())
            s.streamId = 0x1011 + (n - 1);
        else if (s.streamType == kPinIgPes)
            s.streamId = 0x13FF + n <= 0x141F ? 0x13FF + n : AllocatePid(0, in.get());
        else
            s.streamId = 0x10FF + n < 0x1120 ? 0x10FF + n : AllocatePid(0, in.get());
    }
    // The first program's PCRs ride on a PID of their own.
    StreamSettings pcr;
    pcr.streamType = kPinPcrOnly;
    pcr.streamId = 0x1001;
    pcr.name = "PCR only internal pin";
    InputStream* in = AddInternalInput(pcr, p);
    if (!in) return false;
    in->settings_.streamId = 0x1001;
    p->settings_.pcrPid = 0x1001;
    return true;
}

void Multiplexer::Prepare() {
    std::vector<InputStream*> connected;
    for (const auto& in : inputs_)
        if (in->IsConnected()) connected.push_back(in.get());
    if (settings_.output == kProgramStream) {
        double sum = 0;
        for (InputStream* in : connected) sum += in->PsByteRate();
        // The SCR advances at exactly the announced mux rate.
        muxRate_ = static_cast<uint32_t>(std::ceil(std::max(sum, 50.0) / 50.0));
        // DVD players read at 10.08 Mbit/s and no faster: inputs beyond that
        // arrive late, which the pass reports as an overload.
        if (settings_.compatibility == kCompatDvd) muxRate_ = kDvdMuxRate;
        packetTime_ = 27000000.0 / (static_cast<double>(muxRate_) * 50.0);
        for (InputStream* in : connected) in->CreateBufferModels(packetTime_);
        if (!programs_.empty()) {
            programs_.front()->BuildSystemHeader(static_cast<int32_t>(muxRate_));
        }
    } else {
        if (settings_.requiredBitrate > 0) {
            packetTime_ = 27000000.0 / (settings_.requiredBitrate / 1504.0);
        } else {
            double pps = 1000.0 / patIntervalMs_ + 1000.0 / pmtIntervalMs_;
            for (InputStream* in : connected) pps += in->TransportPacketRate();
            pps += 1000.0 / settings_.pcrIntervalMs * programs_.size();  // PCR-only packets
            const int64_t perInterval = static_cast<int64_t>(
                std::ceil(static_cast<double>(static_cast<int64_t>(pps)) * settings_.pcrIntervalMs * 0.001));
            const int64_t perSecond = std::max<int64_t>(1, perInterval * 1000 / settings_.pcrIntervalMs);
            packetTime_ = 27000000.0 / static_cast<double>(perSecond);
        }
        for (InputStream* in : connected) in->CreateBufferModels(packetTime_);
        // The scanners have found the H.264 parameter sets by now: the video
        // object descriptors take them in their AVC records.
        RefreshDmb();
    }
    for (const auto& p : programs_) {
        p->ChoosePcrInput();
        p->nextPcrTime = 0;
        p->packetsSincePcr = 0;
        p->waitingForPcrInput = false;
    }
    clock_ = startClock_ = 0;
    slots_ = 0;
    patDue_ = pmtDue_ = 0;
    SetDueSpan();
}

void Multiplexer::Rebase() {
    int64_t t0 = kNever;
    bool allTimed = true;
    for (const auto& in : inputs_) {
        if (!in->IsConnected()) continue;
        if (in->FirstTime() == kNoTime)
            allTimed = false;
        else
            t0 = std::min(t0, in->FirstTime());
    }
    if (!allTimed || t0 == kNever) t0 = 0;
    int64_t d = kNoTime;
    for (const auto& in : inputs_) {
        if (!in->IsConnected() || !in->Scanner() || !in->Scanner()->HasStartValue()) continue;
        const int64_t first = in->FirstTime() == kNoTime ? t0 : in->FirstTime();
        const int64_t di = first - in->Scanner()->StartValue() + in->TimingOffset() -
                           static_cast<int64_t>(in->RunSettings().initialTimeShiftMs) * 10000;
        d = std::max(d, di);
    }
    // At least 0.213 s before the first decoding time, at most 0.7 s.
    const int64_t lead = std::min<int64_t>(std::max<int64_t>(d, 2130000), 7000000);
    timeOffset_ = -t0 + lead;
    for (const auto& in : inputs_)
        if (in->IsConnected()) in->Units().ShiftTimeStamps(timeOffset_);
}

// ------------------------------------------------------------------ pass

void Multiplexer::NotifyData() {
    work_.fetch_add(1);
    wake_.notify_all();
}

bool Multiplexer::RunUntilIdle() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (finished_) return true;
    if (!started_) return false;
    for (;;) {
        int64_t queued = 0;
        for (const auto& in : inputs_) {
            in->PullInput();
            queued += in->Units().GetCount();
        }
        if (!prepared_) {
            // Every input's rates and first decoding time are needed first.
            for (const auto& in : inputs_) {
                if (!in->IsConnected() || in->IsFinished()) continue;
                if (!in->Configured() && !settings_.allowMissingInputs) return false;
                if (in->Scanner() && !in->Scanner()->HasStartValue() && !settings_.allowMissingInputs) return false;
            }
            Prepare();
            if (!rebased_) {
                Rebase();  // once per start; later units carry the same offset
                rebased_ = true;
            }
            prepared_ = true;
        }
        const bool ps = settings_.output == kProgramStream;
        while ((ps ? PsStep() : TsStep()) == 0) {}
        // A step may have made room for units a scanner could not queue.
        int64_t after = 0;
        bool blocked = false;
        for (const auto& in : inputs_) {
            after += in->Units().GetCount();
            if (in->IsConnected() && in->Scanner() && in->Units().GetFreeCount() > 0 && in->Units().GetCount() == 0 &&
                in->DataEnd() && in->scanPos_ < in->DataEnd())
                blocked = true;
        }
        if (!blocked || after == queued) break;
    }
    bool allDone = true;
    for (const auto& in : inputs_)
        if (in->IsConnected() && !in->IsDrained()) allDone = false;
    if (allDone) {
        Finish();
        return true;
    }
    return false;
}

void Multiplexer::Finish() {
    if (settings_.output == kProgramStream) {
        static const uint8_t kEnd[4] = {0x00, 0x00, 0x01, 0xB9};
        DeliverPs(kEnd, 4);
    } else if (settings_.output == kTransportFixedPids) {
        // Null packets complete the last unit of 32 packets.
        uint8_t nullPacket[188];
        nullPacket[0] = 0x47;
        nullPacket[1] = 0x1F;
        nullPacket[2] = 0xFF;
        nullPacket[3] = 0x11;
        std::memset(nullPacket + 4, 0xFF, 184);
        gapOpen_ = false;
        while (out_.PacketCounter() != 0) DeliverPacket(nullPacket);
    }
    out_.Flush(MuxerTime());
    if (sink_) sink_->EndOfStream();
    finished_ = true;
    wake_.notify_all();
    progress_.notify_all();
}

void Multiplexer::ArmFirstData() {
    awaitingFirstTime_ = 0;
    for (const auto& in : inputs_)
        if (in->IsConnected() && AwaitsFirstTime(in->RunSettings().streamType) && in->FirstTime() == kNoTime)
            ++awaitingFirstTime_;
    firstData_ = awaitingFirstTime_ == 0;
}

void Multiplexer::OnFirstTime(const InputStream* in) {
    if (!AwaitsFirstTime(in->RunSettings().streamType) || awaitingFirstTime_ <= 0) return;
    if (--awaitingFirstTime_ == 0) {
        firstData_ = true;
        wake_.notify_all();
    }
}

bool Multiplexer::FirstDataArrived() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return firstData_;
}

bool Multiplexer::WaitFirstData() {
    std::unique_lock<std::recursive_mutex> g(lock_);
    return WaitFirstDataLocked(g);
}

bool Multiplexer::WaitFirstDataLocked(std::unique_lock<std::recursive_mutex>& g) {
    if (!firstData_) {
        const auto limit = std::chrono::milliseconds(std::max(0, settings_.initialDataWaitMs));
        wake_.wait_for(g, limit, [this] { return stop_.load() || firstData_; });
        if (stop_.load()) return false;
        firstData_ = true;  // an input still silent is not waited for again
    }
    return !stop_.load();
}

void Multiplexer::Interrupt() {
    stop_.store(true);
    {
        // A waiter checks the flag under the lock: once the lock was ours, it
        // either saw the flag or waits and gets the notice.
        std::lock_guard<std::recursive_mutex> g(lock_);
    }
    wake_.notify_all();
}

void Multiplexer::ThreadProc() {
    std::unique_lock<std::recursive_mutex> g(lock_);
    while (!stop_.load()) {
        work_.store(0);
        if (!WaitFirstDataLocked(g)) break;
        const bool done = RunUntilIdle();
        ++passes_;
        progress_.notify_all();
        if (done) break;
        wake_.wait_for(g, std::chrono::milliseconds(100), [this] { return stop_.load() || work_.load() > 0; });
    }
}

void Multiplexer::StartThread() {
    if (thread_.joinable()) return;
    stop_.store(false);
    thread_ = std::thread(&Multiplexer::ThreadProc, this);
}

void Multiplexer::StopThread() {
    Interrupt();
    if (thread_.joinable()) thread_.join();
}

void Multiplexer::BeginFlush() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (const auto& in : inputs_) in->BeginFlush();
}

void Multiplexer::EndFlush() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    for (const auto& in : inputs_) in->EndFlush();
    out_.Flush(MuxerTime());
    prepared_ = false;
    systemHeaderDue_ = true;
    ArmFirstData();  // the first pass after a flush waits for data again
    // The clock starts again: the next PCR says so.
    for (const auto& p : programs_) p->pendingDiscontinuity = true;
}

void Multiplexer::StopAndFinish() {
    StopThread();
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!started_ || finished_) return;
    for (const auto& in : inputs_)
        if (in->IsConnected()) in->EndOfStream();
    RunUntilIdle();
}

void Multiplexer::EndAllInputs(int64_t endTime) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    endTime_ = endTime;
    for (const auto& in : inputs_)
        if (in->IsConnected()) in->EndOfStream();
    firstData_ = true;
    wake_.notify_all();
}

void Multiplexer::WaitForRoom(int ms) {
    std::unique_lock<std::recursive_mutex> g(lock_);
    const uint64_t seen = passes_;
    NotifyData();
    progress_.wait_for(g, std::chrono::milliseconds(ms), [&] { return passes_ != seen || finished_; });
}

void Multiplexer::WaitFinished() {
    if (thread_.joinable()) thread_.join();
}

int64_t Multiplexer::RealOutputBitrate() const {
    const int64_t first = out_.FirstDeliveryTime();
    const int64_t span = MuxerTime() - (first < 0 ? 0 : first);
    if (first < 0 || span <= 0) return 0;
    const double r = static_cast<double>(out_.BytesDelivered()) * 8 / (static_cast<double>(span) * 1e-7);
    return r >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(r);
}

// ------------------------------------------------------------------ transport

void Multiplexer::WriteBracketPcrs(const InputStream* except) {
    for (const auto& p : programs_) {
        InputStream* in = p->PcrInput();
        if (!p->HasConnectedInput() || !in || in == except) continue;
        const uint64_t pcr = static_cast<uint64_t>(std::llround(clock_));
        in->WritePcrOnlyPacket(pcr);
        p->packetsSincePcr = 0;
        p->nextPcrTime = static_cast<int64_t>(pcr) + settings_.pcrIntervalMs * 27000LL;
    }
}

void Multiplexer::NoteCompleted(InputStream* in, int64_t dts) {
    // The unit's last byte must be in by its decoding time.
    if (dts == kNoTime || static_cast<double>(TimeToTicks(dts)) >= clock_ || dts == in->lastLateDts_) return;
    in->lastLateDts_ = dts;
    if (lateUnits_++ == 0 && sink_) {
        OverloadReport r;
        r.input = in->Number();
        r.dts = dts;
        r.delivered = MuxerTime();
        sink_->OnOverload(r);
    }
}

HRESULT_T Multiplexer::DeliverPacket(const uint8_t* pkt, bool hasPcr) {
    HRESULT_T hr;
    uint8_t* room = BeginPacket(hasPcr, hr);
    if (room) std::memcpy(room, pkt, 188);
    return EndPacket(room, hr);
}

uint8_t* Multiplexer::BeginPacket(bool hasPcr, HRESULT_T& hr) {
    if (gapOpen_ && !hasPcr) {
        // The first packet after idle slots needs a PCR before it.
        gapOpen_ = false;
        WriteBracketPcrs();
    }
    if (hasPcr) gapOpen_ = false;
    lastHadPcr_ = hasPcr;
    if (!(settings_.ts192 && settings_.output == kTransportStream)) return out_.PacketRoom(188, MuxerTime(), hr);
    uint8_t* b = out_.PacketRoom(192, MuxerTime(), hr);
    if (!b) return nullptr;
    const uint32_t stamp = static_cast<uint32_t>(static_cast<uint64_t>(clock_) & 0x3FFFFFFF);
    b[0] = static_cast<uint8_t>(stamp >> 24);
    b[1] = static_cast<uint8_t>(stamp >> 16);
    b[2] = static_cast<uint8_t>(stamp >> 8);
    b[3] = static_cast<uint8_t>(stamp);
    return b + 4;
}

HRESULT_T Multiplexer::EndPacket(const uint8_t* room, HRESULT_T hr) {
    if (room) {
        const bool stamped = settings_.ts192 && settings_.output == kTransportStream;
        hr = out_.PacketDone(stamped ? 192 : 188, MuxerTime());
    }
    ++slots_;
    // The clock is the start plus whole slots: PCRs stay on the packet grid.
    clock_ = startClock_ + static_cast<double>(slots_) * packetTime_;
    return hr;
}

bool Multiplexer::PcrInputsHaveRoom() {
    for (const auto& p : programs_) {
        InputStream* in = p->PcrInput();
        if (p->HasConnectedInput() && in && in->Tb() && in->Tb()->CanAcceptPacket(slots_) == kBufOverflow) return false;
    }
    return true;
}

void Multiplexer::FillSlot() {
    if (settings_.usePadding || (!gapOpen_ && !lastHadPcr_ && !PcrInputsHaveRoom())) {
        // With padding every idle slot gets a null packet; without, a slot
        // whose bracketing PCR would not fit the PCR input's transport
        // buffer gets one, so that the slot still counts.
        uint8_t nullPacket[188];
        nullPacket[0] = 0x47;
        nullPacket[1] = 0x1F;
        nullPacket[2] = 0xFF;
        nullPacket[3] = 0x11;
        std::memset(nullPacket + 4, 0xFF, 184);
        DeliverPacket(nullPacket);
        ++padding_;
        return;
    }
    if (!gapOpen_ && !lastHadPcr_) {
        // The last packet before idle slots gets its time pinned by a PCR,
        // written into the first idle slot.
        WriteBracketPcrs();
        return;
    }
    gapOpen_ = true;
    ++slots_;
    clock_ = startClock_ + static_cast<double>(slots_) * packetTime_;
}

void Multiplexer::SetDueSpan() {
    // Between two checks a step may write a PAT, a PMT, a PCR packet and a
    // bracketing PCR per program, and one data packet: what falls due within
    // that many slots is written now, so no interval ever overshoots.
    const double slots = 2.0 + 3.0 * static_cast<double>(std::max<size_t>(programs_.size(), 1));
    dueSpan_ = slots * packetTime_;
}

void Multiplexer::WriteDueTables(int64_t horizon) {
    if (patDue_ <= horizon) {
        for (const auto& p : programs_)
            if (p->HasConnectedInput())
                pat_.PATEntries.push_back({static_cast<uint16_t>(p->RunSettings().programNumber),
                                           static_cast<uint16_t>(p->RunSettings().programId)});
        pat_.Build(static_cast<uint16_t>(settings_.transportStreamId));
        const std::vector<uint8_t> pkts = pat_.Packetize();
        // The next one is due an interval after this one, so gaps never exceed it.
        patDue_ = static_cast<int64_t>(clock_) + patIntervalMs_ * 27000LL;
        for (size_t i = 0; i < pkts.size(); i += 188) DeliverPacket(pkts.data() + i);
    }
    if (pmtDue_ <= horizon) {
        pmtDue_ = static_cast<int64_t>(clock_) + pmtIntervalMs_ * 27000LL;
        for (const auto& p : programs_) {
            if (!p->HasConnectedInput()) continue;
            p->BuildPmt();
            const std::vector<uint8_t> pkts = p->Pmt().Packetize();
            for (size_t i = 0; i < pkts.size(); i += 188) DeliverPacket(pkts.data() + i);
        }
    }
}

bool Multiplexer::PcrDueBeforeRoom(const InputStream* in) const {
    const Program* p = in->GetProgram();
    if (!p || p->PcrInput() != in || !in->Tb() || in->Tb()->LeakPerSlot() <= 0) return false;
    // A packet of this input may fill its transport buffer; the PCR then
    // waits until a whole packet has leaked out again.
    const double wait = std::min(in->Tb()->SlotsPerPacket() * packetTime_, settings_.pcrIntervalMs * 27000.0 / 2);
    return static_cast<double>(p->nextPcrTime) <= DueHorizon() - 1 + wait;
}

bool Multiplexer::WritePcrs() {
    bool waiting = false;
    for (const auto& p : programs_) {
        // Due a few packets early, so that consecutive PCRs stay within the interval.
        if (static_cast<double>(p->nextPcrTime) > DueHorizon() - 1 || !p->HasConnectedInput()) continue;
        InputStream* in = p->PcrInput();
        const uint64_t pcr = static_cast<uint64_t>(std::llround(clock_));
        int64_t wait;
        const int st = in ? in->GetMuxStatus(static_cast<int64_t>(clock_), slots_, 184, wait) : kEnded;
        if (st == kTbFull) break;
        if (st == kNoData && !settings_.allowMissingInputs) {
            p->waitingForPcrInput = true;
            waiting = true;
            continue;
        }
        if (st == kReady)
            in->WriteTransportPacket(true, pcr);
        else if (in)
            in->WritePcrOnlyPacket(pcr);
        p->packetsSincePcr = 0;
        p->nextPcrTime = static_cast<int64_t>(pcr) + settings_.pcrIntervalMs * 27000LL;
        p->waitingForPcrInput = false;
    }
    return !waiting;
}

int Multiplexer::TsStep() {
    if (!prepared_ || finished_) return 1;
    // Tables and PCRs alone are no progress: once every input that carries
    // data has drained, the pass ends.
    // An input waiting for data holds everything back, tables and PCR
    // packets included, so the stream does not depend on when data arrives.
    bool dataLeft = false;
    bool starved = false;
    for (const auto& in : inputs_) {
        if (!in->IsConnected() || in->IsDrained()) continue;
        dataLeft = true;
        const int32_t t = in->RunSettings().streamType;
        if (t != kPinPcrOnly && t != kPinPrivateData && in->Units().IsEmpty()) starved = true;
    }
    if (!dataLeft || (starved && !settings_.allowMissingInputs)) return 1;
    const int64_t slotsBefore = slots_;
    WriteTables();
    if (!WritePcrs()) return 1;
    // Whatever tables or PCR packets went out, the choice starts afresh in the
    // next step: where a step ends then never depends on when data arrived.
    if (slots_ != slotsBefore) return 0;

    InputStream* video = nullptr;
    InputStream* other = nullptr;
    bool empty = false;
    bool waiting = false;
    int64_t earliest = kNever;  // 100 ns
    const int64_t now = static_cast<int64_t>(clock_);
    for (const auto& inp : inputs_) {
        InputStream* in = inp.get();
        if (!in->IsConnected() || in->RunSettings().streamType == kPinPcrOnly) continue;
        int64_t wait;
        const int st = in->GetMuxStatus(now, slots_, 184, wait);
        if (st == kReady) {
            const int64_t dts = in->HeadDts();
            if (in->IsVideo()) {
                if (!video || dts < video->HeadDts() ||
                    (dts == video->HeadDts() && in->Tb() && video->Tb() &&
                     in->Tb()->GetFullness() < video->Tb()->GetFullness()))
                    video = in;
            } else if (!other || dts < other->HeadDts() ||
                       (dts == other->HeadDts() && in->Eb() && other->Eb() &&
                        in->Eb()->GetFullness() < other->Eb()->GetFullness())) {
                other = in;
            }
        } else if (st == kEbFull || st == kNotDue) {
            waiting = true;
            if (wait != kNoTime) earliest = std::min(earliest, wait);
        } else if (st == kTbFull) {
            waiting = true;
            earliest = std::min(earliest, MuxerTime());
        } else if (st == kNoData && in->RunSettings().streamType != kPinPrivateData) {
            empty = true;
        }
    }
    if (empty && !settings_.allowMissingInputs) video = other = nullptr;
    InputStream* chosen = nullptr;
    if (video && other) {
        const int64_t vd = video->HeadDts();
        const int64_t ad = other->HeadDts() - other->TimingOffset();
        if (vd < ad)
            chosen = video;
        else if (video->Tb() && other->Tb() && video->Tb()->GetFullness() < other->Tb()->GetFullness() &&
                 MuxerTime() <= ad)
            chosen = video;
        else
            chosen = other;
    } else {
        chosen = video ? video : other;
    }
    if (!chosen) {
        if (!waiting || (empty && !settings_.allowMissingInputs)) return 1;
        // Fill the time until the first waiting input can send.
        const double target = static_cast<double>(TimeToTicks(earliest));
        if (target - clock_ > 270000000.0) {
            // More than 10 s without anything to send: damaged or broken
            // time stamps. Step over the gap instead of filling it slot by slot.
            WriteTables();
            if (!WritePcrs()) return 1;
            if (!lastHadPcr_) WriteBracketPcrs();
            slots_ += static_cast<int64_t>(std::ceil((target - clock_) / packetTime_));
            clock_ = startClock_ + static_cast<double>(slots_) * packetTime_;
            gapOpen_ = true;
            return 0;
        }
        do {
            WriteTables();
            if (!WritePcrs()) return 1;
            FillSlot();
        } while (clock_ < target);
        return 0;
    }
    // After idle slots the PCR input's own packet carries the PCR; so does
    // one that could leave its transport buffer too full for a PCR due soon.
    const bool pcrHere =
        gapOpen_ ? programs_.size() == 1 && programs_.front()->PcrInput() == chosen : PcrDueBeforeRoom(chosen);
    if (gapOpen_ && !pcrHere && !PcrInputsHaveRoom()) {
        // A PCR packet on each PCR input's PID goes first: it enters that
        // input's transport buffer too, so it waits for room there.
        FillSlot();
        return 0;
    }
    const uint64_t pcr = pcrHere ? static_cast<uint64_t>(std::llround(clock_)) : 0;
    if (Failed(chosen->WriteTransportPacket(pcrHere, pcr))) return 1;
    return 0;
}

// ------------------------------------------------------------------ program stream

HRESULT_T Multiplexer::DeliverPs(const uint8_t* bytes, uint32_t n) {
    psBytes_ += n;
    const HRESULT_T hr = out_.Deliver(bytes, n, MuxerTime(), false);
    clock_ += packetTime_ * n;
    return hr;
}

void Multiplexer::WritePackHeader(SPL::BitstreamWriter& w) {
    const uint64_t scr = static_cast<uint64_t>(clock_);
    w.PutByte(0);
    w.PutByte(0);
    w.PutByte(1);
    w.PutByte(MpegCommon::kPackStartCode);
    w.PutBits(1, 2);
    const uint64_t base = (scr / 300) & ((uint64_t(1) << 33) - 1);
    w.PutBits(base >> 30, 3);
    w.PutBits(1, 1);
    w.PutBits(base >> 15, 15);
    w.PutBits(1, 1);
    w.PutBits(base, 15);
    w.PutBits(1, 1);
    w.PutBits(scr % 300, 9);
    w.PutBits(1, 1);
    w.PutBits(muxRate_, 22);
    w.PutBits(3, 2);
    w.PutByte(0xF8);
}

int Multiplexer::PsStep() {
    if (!prepared_ || finished_) return 1;
    const std::vector<uint8_t>& sys = programs_.front()->SystemHeader();
    bool missing = false;
    bool waiting = false;
    int64_t earliest = kNever;
    InputStream* video = nullptr;
    InputStream* other = nullptr;
    const int64_t now = static_cast<int64_t>(clock_);
    for (const auto& inp : inputs_) {
        InputStream* in = inp.get();
        if (!in->IsConnected() || in->IsDrained()) continue;
        if (in->Units().IsEmpty()) {
            if (!in->IsFinished()) missing = true;
            continue;
        }
        const int32_t t = in->RunSettings().streamType;
        const AccessUnit head = in->Units().Peek();
        int32_t planned = head.size;
        const int32_t s = in->RunSettings().pesPacketSize;
        if (t != kPinPcm && !PassThroughType(t) && t != kPinPrivateData && s > 0) {
            NS_PES::CPESPacketHdr& pes = in->PesHeader();
            pes.Reset();
            if (head.ptsPresent) pes.SetPts(head.pts);
            if (head.ptsPresent && head.dtsPresent && head.dts < head.pts) pes.SetPtsDts(head.pts, head.dts);
            if (in->FirstPsPacket()) pes.SetPstd(in->PstdSize());
            planned = s + 6 - pes.HeaderSize() - (systemHeaderDue_ ? static_cast<int32_t>(sys.size()) : 0) -
                      (t == kPinAc3 ? 4 : 0);
            if (in->Units().ByteSum() < planned && !in->IsFinished()) {
                missing = true;
                continue;
            }
        } else if (s <= 0 && t != kPinPcm && !PassThroughType(t)) {
            planned = std::min(head.size, 65000);
        }
        int64_t wait;
        const int st = in->GetMuxStatus(now, 0, planned, wait);
        if (st == kReady) {
            const int64_t dts = in->HeadDts();
            if (in->IsVideo()) {
                if (!video || dts < video->HeadDts()) video = in;
            } else if (!other || dts < other->HeadDts()) {
                other = in;
            }
            in->lastPlanned_ = planned;
        } else if (st == kEbFull || st == kNotDue) {
            waiting = true;
            if (wait != kNoTime) earliest = std::min(earliest, wait);
        }
    }
    if (missing && !settings_.allowMissingInputs) return 1;
    InputStream* chosen = nullptr;
    if (video && other)
        chosen = video->HeadDts() >= other->HeadDts() - other->TimingOffset() ? other : video;
    else
        chosen = video ? video : other;
    if (chosen) {
        chosen->SetLastSentTime(chosen->HeadDts() + chosen->TimingOffset());
        const int32_t t = chosen->RunSettings().streamType;
        if (t == kPinPcm)
            WriteLpcmPack(chosen);
        else if (PassThroughType(t))
            WritePassThrough(chosen);
        else
            WritePsPacket(chosen, chosen->lastPlanned_);
        return 0;
    }
    if (waiting && earliest != kNever) {
        const double target = static_cast<double>(TimeToTicks(earliest)) + packetTime_;
        if (target > clock_) {
            clock_ = target;
            return 0;
        }
    }
    return 1;
}

void Multiplexer::WritePsPacket(InputStream* in, int32_t planned) {
    AccessUnitQueue& q = in->Units();
    const int32_t t = in->RunSettings().streamType;
    const bool video = in->IsVideo();
    const int32_t fixed = in->RunSettings().pesPacketSize;
    const std::vector<uint8_t>& sys = programs_.front()->SystemHeader();
    const bool withSys = systemHeaderDue_;

    AccessUnit head = q.Peek();
    // The header carries the stamps of the first unit that starts in the
    // packet: the unit it begins with, or for a packet that begins inside a
    // unit, the next one when it starts within the payload.
    NS_PES::CPESPacketHdr& pes = in->PesHeader();
    const bool startsUnit = head.continuation == 0;
    uint8_t ac3Header[4];
    const int32_t sysBytes = withSys ? static_cast<int32_t>(sys.size()) : 0;
    auto buildHeader = [&](const AccessUnit* stamped) {
        pes.Reset();
        if (startsUnit) pes.SetDataAlignment(t != kPinPrivateData);
        if (stamped && stamped->ptsPresent) {
            if (stamped->dtsPresent && stamped->dts < stamped->pts && !(video && settings_.noDtsForVideo))
                pes.SetPtsDts(stamped->pts, stamped->dts);
            else
                pes.SetPts(stamped->pts);
        }
        if (in->FirstPsPacket()) pes.SetPstd(in->PstdSize());
        if (t == kPinAc3) pes.SetExtraData(ac3Header, 4);
        const int32_t room = fixed > 0 ? fixed + 6 - pes.HeaderSize() - sysBytes : std::min(pes.MaxPayload(), 65000);
        return std::max(1, std::min(room, std::max(planned, 1)));
    };
    int32_t maxPayload = buildHeader(startsUnit ? &head : nullptr);
    AccessUnit next;
    if (!startsUnit && fixed > 0 && head.size < maxPayload && q.At(1, next) == 0 && next.continuation == 0 &&
        next.ptsPresent && next.location == head.location + head.size &&
        !(video && (next.kind == kUnitI || next.kind == kUnitIWithSequence || next.kind == kUnitNoPicture))) {
        maxPayload = buildHeader(&next);
        // The stamps take room: they stay only when the unit still starts in here.
        if (head.size >= maxPayload) maxPayload = buildHeader(nullptr);
    }

    // Gather the payload: contiguous bytes of the head unit and, for a fixed
    // packet size, of the units that follow (video stops before intra pictures).
    int32_t payload = 0;
    int ac3Frames = 0;
    int32_t firstAuOffset = -1;
    uint8_t* start = head.location;
    CEBSupervizor* eb = in->Eb();
    std::vector<int64_t> completed;  // decoding times of the units that end here
    for (;;) {
        AccessUnit u;
        if (q.Peek(u) != 0) break;
        if (payload > 0) {
            if (u.location != start + payload) break;
            if (video && (u.kind == kUnitI || u.kind == kUnitIWithSequence || u.kind == kUnitNoPicture)) break;
        }
        const int32_t n = std::min(u.size, maxPayload - payload);
        if (n <= 0) break;
        if (u.continuation == 0) {
            if (eb) eb->PushUnit(u);
            ++ac3Frames;
            if (firstAuOffset < 0) firstAuOffset = payload;
        }
        if (eb) eb->Admit(n);
        payload += n;
        if (n == u.size) {
            if (t != kPinPrivateData) completed.push_back(u.dts);
            q.Pop();
        } else {
            AccessUnit rest = u;
            rest.location += n;
            rest.size -= n;
            rest.continuation = 1;
            rest.ptsPresent = rest.dtsPresent = 0;
            q.ReplaceHead(rest);
            break;
        }
        if (fixed <= 0) break;  // free size: one unit (or piece of one) per packet
    }
    if (t == kPinAc3) {
        ac3Header[0] = in->SubId();
        ac3Header[1] = static_cast<uint8_t>(ac3Frames);
        const int32_t ptr = firstAuOffset < 0 ? 0 : firstAuOffset + 1;
        ac3Header[2] = static_cast<uint8_t>(ptr >> 8);
        ac3Header[3] = static_cast<uint8_t>(ptr);
    }

    // A short packet of a fixed size: stuffing below 6 bytes, else a padding packet.
    int32_t padding = 0;
    if (fixed > 0) {
        const int32_t shortfall = fixed + 6 - pes.HeaderSize() - sysBytes - payload;
        if (shortfall > 0 && shortfall < 6)
            pes.SetStuffing(shortfall);
        else if (shortfall >= 6 && in->RunSettings().paddingInSmallPackets)
            padding = shortfall;
    }
    pes.SetPayloadLength(payload);

    const size_t total = 14 + sysBytes + pes.HeaderSize() + payload + padding;
    packBuf_.resize(total);
    SPL::BitstreamWriter w;
    w.Attach(packBuf_.data(), static_cast<int32_t>(total));
    WritePackHeader(w);
    if (withSys) {
        w.PutBytes(sys.data(), sysBytes);
        systemHeaderDue_ = false;
    }
    pes.Write(w);
    w.PutBytes(start, payload);
    if (padding) {
        w.PutByte(0);
        w.PutByte(0);
        w.PutByte(1);
        w.PutByte(MpegCommon::kStreamIdPadding);
        w.PutWord16(static_cast<uint16_t>(padding - 6));
        w.Fill(0xFF, padding - 6);
    }
    in->ClearFirstPsPacket();
    in->ReleaseUpTo(start + payload);
    DeliverPs(packBuf_.data(), static_cast<uint32_t>(w.GetPosition()));
    for (int64_t dts : completed) NoteCompleted(in, dts);
}

void Multiplexer::WritePassThrough(InputStream* in) {
    AccessUnit u;
    if (in->Units().Peek(u) != 0) return;
    std::vector<uint8_t> buf(14);
    SPL::BitstreamWriter w;
    w.Attach(buf.data(), 14);
    WritePackHeader(w);
    if (systemHeaderDue_) {
        const std::vector<uint8_t>& sys = programs_.front()->SystemHeader();
        buf.insert(buf.end(), sys.begin(), sys.end());
        systemHeaderDue_ = false;
    }
    buf.insert(buf.end(), u.location, u.location + u.size);
    const int32_t fixed = in->RunSettings().pesPacketSize;
    if (in->RunSettings().streamType == kPinDvdSubtitles && fixed > 0 && u.size + 6 < fixed) {
        const int32_t pad = fixed + 6 - u.size;
        const uint8_t h[6] = {
            0, 0, 1, MpegCommon::kStreamIdPadding, static_cast<uint8_t>((pad - 6) >> 8), static_cast<uint8_t>(pad - 6)};
        buf.insert(buf.end(), h, h + 6);
        buf.insert(buf.end(), static_cast<size_t>(pad - 6), 0xFF);
    }
    in->Units().Pop();
    in->ReleaseUpTo(u.location + u.size);
    DeliverPs(buf.data(), static_cast<uint32_t>(buf.size()));
}

void Multiplexer::WriteLpcmPack(InputStream* in) {
    AccessUnit u;
    if (in->Units().Peek(u) != 0) return;
    const PcmFormat f = in->Pcm();
    uint8_t rate = 0;
    uint8_t quant = 0;
    // Formats the header cannot code never get here (refused at AddInput and Start).
    if (!LpcmRateCode(f.sampleRate, rate) || !LpcmDepthCode(f.bitsPerSample, quant) || f.channels < 1 ||
        f.channels > kLpcmMaxChannels) {
        in->Units().Pop();
        in->ReleaseUpTo(u.location + u.size);
        return;
    }
    const int32_t bps = std::max(1, f.channels * f.bitsPerSample / 8);
    const std::vector<uint8_t>& sys = programs_.front()->SystemHeader();
    if (systemHeaderDue_) {
        // A fixed-size LPCM pack has no room for the system header: it rides
        // in a pack of its own.
        std::vector<uint8_t> b(14);
        SPL::BitstreamWriter w;
        w.Attach(b.data(), 14);
        WritePackHeader(w);
        b.insert(b.end(), sys.begin(), sys.end());
        if (settings_.compatibility == kCompatDvd && b.size() + 6 <= 2048) {
            const size_t pad = 2048 - b.size();
            const uint8_t h[6] = {0,
                                  0,
                                  1,
                                  MpegCommon::kStreamIdPadding,
                                  static_cast<uint8_t>((pad - 6) >> 8),
                                  static_cast<uint8_t>(pad - 6)};
            b.insert(b.end(), h, h + 6);
            b.insert(b.end(), pad - 6, 0xFF);
        }
        systemHeaderDue_ = false;
        DeliverPs(b.data(), static_cast<uint32_t>(b.size()));
    }
    if (settings_.compatibility == kCompatNone && psBytes_ % 16 != 0) {
        // Keep LPCM packs on a 16-byte grid.
        size_t pad = 16 - psBytes_ % 16;
        if (pad < 8) pad += 16;
        std::vector<uint8_t> b = {
            0, 0, 1, MpegCommon::kStreamIdPadding, static_cast<uint8_t>((pad - 6) >> 8), static_cast<uint8_t>(pad - 6)};
        b.insert(b.end(), pad - 6, 0xFF);
        DeliverPs(b.data(), static_cast<uint32_t>(b.size()));
    }
    const int32_t unit = in->LpcmUnitSize();
    const bool first = in->FirstPsPacket();
    // Frames of 1/600 s: the PTS belongs to the first frame that starts here.
    const int32_t frameBytes = f.channels * f.bitsPerSample * 5 * 16 / 8 * (f.sampleRate == 96000 ? 2 : 1);
    const uint64_t at = in->LpcmBytesWritten();
    const uint64_t firstFrame = frameBytes > 0 ? (at + frameBytes - 1) / frameBytes * frameBytes : at;
    const int32_t toFirst = static_cast<int32_t>(firstFrame - at);
    int frames = 0;
    if (frameBytes > 0 && toFirst < u.size) frames = 1 + (u.size - 1 - toFirst) / frameBytes;
    const int64_t pts = u.pts + static_cast<int64_t>(toFirst / bps) * 10000000 / f.sampleRate;

    NS_PES::CPESPacketHdr& pes = in->PesHeader();
    pes.Reset();
    pes.SetPts(pts);
    if (first) pes.SetPstd(in->PstdSize() > 0 ? in->PstdSize() : 4096);
    const int32_t fixedPayload = 2048 - 14 - 7 - unit;
    int32_t stuffing = fixedPayload - pes.HeaderSize();
    stuffing = std::max(0, std::min(stuffing, 32 - pes.HeaderDataLength()));
    pes.SetStuffing(stuffing);
    uint8_t lpcm[7];
    lpcm[0] = static_cast<uint8_t>(0xA0 + (in->SubId() & 0x1F));
    lpcm[1] = static_cast<uint8_t>(frames);
    const int32_t ptr = frames ? toFirst + 4 : 0;
    lpcm[2] = static_cast<uint8_t>(ptr >> 8);
    lpcm[3] = static_cast<uint8_t>(ptr);
    lpcm[4] = static_cast<uint8_t>(in->LpcmFrameNumber() & 0x1F);  // emphasis off, mute off
    lpcm[5] = static_cast<uint8_t>((quant << 6) | (rate << 4) | ((f.channels - 1) & 7));
    lpcm[6] = 0x80;
    pes.SetExtraData(lpcm, 7);
    pes.SetPayloadLength(u.size);

    std::vector<uint8_t> b(14 + pes.HeaderSize() + u.size);
    SPL::BitstreamWriter w;
    w.Attach(b.data(), static_cast<int32_t>(b.size()));
    WritePackHeader(w);
    pes.Write(w);
    PackLpcmPayload(f, u.location, u.size, b.data() + w.GetPosition());
    const size_t packed = b.size();
    if (packed + 7 < 2048 && settings_.compatibility == kCompatDvd) {
        const size_t pad = 2048 - packed;
        const uint8_t h[6] = {
            0, 0, 1, MpegCommon::kStreamIdPadding, static_cast<uint8_t>((pad - 6) >> 8), static_cast<uint8_t>(pad - 6)};
        b.insert(b.end(), h, h + 6);
        b.insert(b.end(), pad - 6, 0xFF);
    }
    if (CEBSupervizor* eb = in->Eb()) {
        eb->PushUnit(u);
        eb->Admit(u.size);
    }
    in->AddLpcmBytes(static_cast<uint64_t>(u.size));
    in->Units().Pop();
    in->ClearFirstPsPacket();
    in->ReleaseUpTo(u.location + u.size);
    DeliverPs(b.data(), static_cast<uint32_t>(b.size()));
}

}  // namespace muxcore
