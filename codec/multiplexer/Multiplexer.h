// The platform-free multiplexer: inputs that take elementary-stream bytes,
// programs, and the muxing pass that writes a program stream or a transport
// stream into an output sink. One owner (the muxing pass) keeps the clock,
// the PCR schedule, the continuity counters and the tables.
//
// The multiplexer, each program and each input keep two settings records:
// the configured one (Settings(), what a host sets, at any time) and the
// run's own copy (RunSettings()), taken at Start, which the muxing pass reads
// and adjusts (assigned stream ids, fixed PIDs, the PCR carrier). A run never
// changes the configured settings; Reset ends a run and keeps the structure,
// so one multiplexer serves run after run.
#pragma once

#include "codec/scanning/AccessUnit.h"
#include "codec/multiplexer/BufferModels.h"
#include "codec/multiplexer/HResult.h"
#include "codec/multiplexer/Mpeg4DescriptorGenerator.h"
#include "codec/multiplexer/MuxSettings.h"
#include "codec/multiplexer/OutputFramer.h"
#include "codec/multiplexer/PacketWriters.h"
#include "codec/scanning/scanners/ScannerBase.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace muxcore {

class Multiplexer;
class Program;

// Readiness of an input as the packet engines see it.
enum InputState { kReady = 0, kEbFull = 1, kNotDue = 2, kNoData = 3, kEnded = 4, kTbFull = 7 };

class InputStream : public ScannerHost, public BufferMoveListener {
public:
    InputStream(Multiplexer* mux, int number, const StreamSettings& s);
    ~InputStream() override;

    // Bytes of the elementary stream with an optional start time (100 ns).
    // S_FALSE: the buffer is full and nothing was taken; run the muxer and retry.
    HRESULT_T Push(const uint8_t* bytes, size_t n, int64_t time = kNoTime);
    // The same without a copy: room for up to n bytes in the input's buffer
    // (null when full), then CommitWrite with the bytes actually written.
    uint8_t* BeginWrite(size_t n);
    HRESULT_T CommitWrite(size_t n, int64_t time = kNoTime);
    void EndOfStream();
    // A flush drops everything received and not yet written; after it the
    // input starts over as a new stream (its scanner is reset).
    void BeginFlush();
    void EndFlush();

    int Number() const { return number_; }
    const StreamSettings& Settings() const { return config_; }
    StreamSettings& MutableSettings() { return config_; }
    const StreamSettings& RunSettings() const { return settings_; }
    // Whether the configured settings give the input a stream type.
    bool HasStreamType() const { return config_.streamType != kPinFree; }
    // Whether the input takes part in the run (or, before the first Start,
    // had a stream type when it was added).
    bool IsConnected() const { return settings_.streamType != kPinFree; }
    // Added by Start for the run only (a carrier of PCRs); Reset removes it.
    bool IsInternal() const { return internal_; }
    bool IsVideo() const { return IsVideoType(settings_.streamType); }
    bool IsAudioGroup() const { return IsAudioType(settings_.streamType); }
    Program* GetProgram() const { return program_; }
    uint16_t Pid() const { return static_cast<uint16_t>(settings_.streamId); }
    uint8_t PesId() const { return static_cast<uint8_t>(settings_.streamPesId); }
    uint8_t SubId() const { return subId_; }
    void SetSubId(uint8_t s) { subId_ = s; }
    int32_t PstdSize() const { return pstdSize_; }

    // ---- muxing side
    HRESULT_T CreateStreamObjects();
    void CreateBufferModels(double packetTime);
    void PullInput();
    bool IsFinished() const { return ended_; }
    bool IsDrained() const {
        if (!IsConnected() || !created_ || settings_.streamType == kPinPcrOnly) return true;
        return ended_ && DrainedAfterEnd();
    }
    int GetMuxStatus(int64_t clock, int64_t slot, int32_t need, int64_t& waitTime);
    int64_t HeadDts() const {
        if (units_.IsEmpty()) return kNoTime;
        const AccessUnit& h = units_.Head();
        return h.dtsPresent ? h.dts : h.pts;
    }
    int64_t TimingOffset() const { return timingOffset_; }
    int64_t FirstTime() const { return firstTime_; }
    CScannerBase* Scanner() const { return scanner_.get(); }
    AccessUnitQueue& Units() { return units_; }
    // Bytes received and not yet written.
    size_t HeldBytes() const { return mem_.Held(); }
    CEBSupervizor* Eb() const { return eb_.get(); }
    CTBSupervizor* Tb() const { return tb_.get(); }
    double TransportPacketRate() const { return packetsPerSecond_; }
    double PsByteRate() const { return psByteRate_; }
    int64_t BytesReceived() const { return bytesReceived_; }
    int64_t LastSentTime() const { return lastSent_; }
    int64_t CurrentPinPts() const { return currentPinPts_; }
    int32_t RealBitrate() const { return realBitrate_; }
    void SetLastSentTime(int64_t t) { lastSent_ = t; }

    // Transport packets.
    HRESULT_T WriteTransportPacket(bool withPcr, uint64_t pcr);
    HRESULT_T WritePcrOnlyPacket(uint64_t pcr);
    NS_TS::CTSPacketHdr& TsHeader() { return ts_; }

    // Program stream helpers.
    NS_PES::CPESPacketHdr& PesHeader() { return *pes_; }
    bool FirstPsPacket() const { return firstPsPacket_; }
    void ClearFirstPsPacket() { firstPsPacket_ = false; }
    // Hands back the buffered bytes before `end` once they are written.
    void ReleaseUpTo(const uint8_t* end) {
        if (end > mem_.ReadPosition()) mem_.Release(static_cast<size_t>(end - mem_.ReadPosition()));
    }
    int LpcmFrameNumber() { return lpcmFrame_++ % 20; }
    uint64_t LpcmBytesWritten() const { return lpcmBytes_; }
    void AddLpcmBytes(uint64_t n) { lpcmBytes_ += n; }

    // ---- ScannerHost
    uint8_t* DataStart() override { return mem_.ReadPosition(); }
    uint8_t* DataEnd() override { return mem_.End(); }
    AccessUnitQueue& SampleTimes() override { return sampleTimes_; }
    int32_t FreeUnitRecords() override { return units_.GetFreeCount(); }
    bool HasEnded() override { return ended_; }
    int32_t OutputType() override;
    int32_t TimingMode() override;
    int32_t StreamType() override { return settings_.streamType; }
    int64_t TimeShift() override;
    void SetFrameDuration(int64_t d) override;
    int64_t FrameDuration() override { return static_cast<int64_t>(frameDuration_); }
    int32_t ConfigureStream(int64_t unitDuration) override;
    void QueueAccessUnit(const AccessUnit& u) override;
    int32_t AnnouncedBitrate() override { return settings_.announcedBitrate; }
    void SetAnnouncedBitrate(int32_t b) override { settings_.announcedBitrate = b; }
    void SetRealBitrate(int32_t b) override { realBitrate_ = b; }
    int32_t CorrectEbSize() override { return settings_.correctEbSize; }
    void SetElementaryBufferSize(int32_t bytes) override { ebSize_ = bytes; }
    void SetLeakRate(double r) override { leakRate_ = r; }
    int64_t LookAheadTicks() override { return window_; }
    // Whole descriptors only, and none past the 12 bits of ES_info_length.
    void AddEsInfoDescriptor(const std::vector<uint8_t>& d) override;
    void SetInternalMediaType(const std::vector<uint8_t>& formatBlock) override { internalFormat_ = formatBlock; }
    // Empty until the scanner knows the stream's media type.
    const std::vector<uint8_t>& InternalMediaType() const { return internalFormat_; }
    int32_t LpcmUnitSize() override { return lpcmUnit_; }
    PcmFormat Pcm() override { return settings_.pcm; }

    // ---- BufferMoveListener
    void OnDataShifted(ptrdiff_t distance) override;
    void OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) override;

    int32_t ElementaryBufferSize() const { return ebSize_; }
    double LeakRate() const { return leakRate_; }
    bool Configured() const { return configuredCounted_; }

private:
    friend class Multiplexer;
    friend class Program;
    // IsDrained of an input whose stream has ended.
    bool DrainedAfterEnd() const;
    // The PES header fields for a piece; returns the header's size.
    int32_t PreparePesHeader(const AccessUnit& piece);
    void ConfigureRates(int64_t unitDuration);
    void NoteReceived(size_t n, int64_t time);
    // Back to the state before the first Start: no buffers, no scanner.
    void ResetRun();

    Multiplexer* mux_;
    Program* program_ = nullptr;
    int number_;
    bool internal_ = false;
    StreamSettings config_;
    StreamSettings settings_;  // the run's copy
    uint8_t subId_ = 0;

    CMemManager mem_;
    AccessUnitQueue sampleTimes_;
    AccessUnitQueue units_;
    std::unique_ptr<CScannerBase> scanner_;
    std::unique_ptr<NS_PES::CPESPacketHdr> pes_;
    NS_TS::CTSPacketHdr ts_;
    std::unique_ptr<CTBSupervizor> tb_;
    std::unique_ptr<CEBSupervizor> eb_;
    uint8_t* scanPos_ = nullptr;

    double frameDuration_ = 0;
    int64_t auRate_ = 0;
    int64_t window_ = 27000000;
    int32_t ebSize_ = 0;
    double leakRate_ = 0;
    double transportByteRate_ = 0;
    double packetsPerSecond_ = 0;
    double psByteRate_ = 0;
    int32_t pstdSize_ = 0;
    int32_t lpcmUnit_ = 0;
    int64_t timingOffset_ = 0;
    int64_t firstTime_ = kNoTime;
    int64_t bytesReceived_ = 0;
    int64_t lastSent_ = kNoTime;
    int32_t realBitrate_ = 0;
    bool ended_ = false;
    bool created_ = false;
    bool configuredCounted_ = false;
    bool firstPsPacket_ = true;
    bool rawAac_ = false;
    int lpcmFrame_ = 0;
    uint64_t lpcmBytes_ = 0;
    int64_t currentPinPts_ = 0;
    int32_t lastPlanned_ = 0;
    std::vector<uint8_t> internalFormat_;
    int64_t lastLateDts_ = kNoTime;
};

class Program {
public:
    Program(Multiplexer* mux, const ProgramSettings& s);

    ProgramSettings& Settings() { return config_; }
    const ProgramSettings& RunSettings() const { return settings_; }
    const std::vector<InputStream*>& Inputs() const { return inputs_; }
    // "Program ID" and "PCR PID": E_FAIL when the PID is taken or names no input.
    HRESULT_T SetProgramId(int32_t pid);
    HRESULT_T SetPcrPid(int32_t pid);
    // Whether "Program ID" may be pid; whether an input with a stream type carries pid.
    bool ProgramIdFree(int32_t pid);
    bool CarriesPid(int32_t pid) const;
    void AddInput(InputStream* in);
    void RemoveInput(InputStream* in);
    // "PCR PID" follows the inputs: the first input with a stream type
    // carries it until the user chooses; when its carrier leaves (or loses
    // its type), the next one of the program.
    void OnInputJoined(const InputStream* in);
    void OnInputLeft(const InputStream* in);
    InputStream* PcrInput() const { return pcrInput_; }
    void ChoosePcrInput();
    // The input's stream_id (and sub-stream id) for the run, from the
    // requested one (0: choose) and the ids the program's other inputs carry.
    HRESULT_T AssignStreamId(InputStream* in, int32_t requested);
    // The private-stream-1 sub-stream id that AssignStreamId will give an
    // AC-3 (program stream) or LPCM input as configured now; 0 for others.
    uint8_t ConfiguredSubStreamId(const InputStream* in) const;
    // Whether an input of the program has a stream type (configured).
    bool HasConnectedInput() const;

    void BuildPmt();
    void BuildSystemHeader(int32_t rateBound);
    const std::vector<uint8_t>& SystemHeader() const { return systemHeader_; }
    NS_TS::CPMT& Pmt() { return pmt_; }

    int64_t nextPcrTime = 0;
    int64_t packetsSincePcr = 0;
    bool waitingForPcrInput = false;
    bool pendingDiscontinuity = false;

private:
    friend class Multiplexer;
    void ResetRun();

    Multiplexer* mux_;
    ProgramSettings config_;
    ProgramSettings settings_;  // the run's copy
    std::vector<InputStream*> inputs_;
    InputStream* pcrInput_ = nullptr;
    NS_TS::CPMT pmt_;
    std::vector<uint8_t> systemHeader_;
};

class Multiplexer {
public:
    Multiplexer();
    ~Multiplexer();
    Multiplexer(const Multiplexer&) = delete;
    Multiplexer& operator=(const Multiplexer&) = delete;

    // ---- structure (while not started)
    MuxerSettings& Settings() { return config_; }
    const MuxerSettings& RunSettings() const { return settings_; }
    // A program stream has one program: the inputs move to the first, the
    // others go (to `removed` when given: a host that keeps views on them).
    HRESULT_T SetOutput(int32_t output, std::vector<std::unique_ptr<Program>>* removed = nullptr);
    HRESULT_T SetCompatibility(int32_t compat);
    // "DMB Compatibility" (0 or 1): S_FALSE, and no change, while an input
    // carries another type than H.264 or AAC. A DMB transport stream keeps
    // one program.
    HRESULT_T SetDmbCompatibility(int32_t dmb);
    // A new input in the given program (the first when null); null on failure.
    // Refused: a stream type without a scanner, or a PCM format the LPCM
    // header cannot describe; LastError then says why.
    InputStream* AddInput(const StreamSettings& s, Program* program = nullptr);
    const std::string& LastError() const { return lastError_; }
    HRESULT_T RemoveInput(InputStream* in);
    // RemoveInput that hands the input to the caller instead of deleting it.
    std::unique_ptr<InputStream> TakeInput(InputStream* in);
    // The input joins another program ("PCR PID" of both follows).
    HRESULT_T MoveInput(InputStream* in, Program* to);
    // Null when the output keeps one program (a program stream, DMB) and has it.
    Program* AddProgram(const ProgramSettings& s = ProgramSettings());
    // Refused for the only program and one with an input that has a stream
    // type; its other inputs move to the first remaining program. The
    // program goes to `removed` when given.
    HRESULT_T RemoveProgram(Program* p, std::unique_ptr<Program>* removed = nullptr);
    const std::vector<std::unique_ptr<Program>>& Programs() const { return programs_; }
    const std::vector<std::unique_ptr<InputStream>>& Inputs() const { return inputs_; }
    uint16_t AllocatePid(int32_t request, const InputStream* self) const;
    // A program's number and PMT PID again unique among the programs (a
    // program whose settings were replaced, as by a stored image).
    void KeepProgramIdsUnique(Program* p);

    // ---- running
    // Takes the run's copy of every settings record and starts the run.
    // The run's own rules: compatibility modes only in a program stream
    // (every typed input then gets the mode's packet size), stream ids
    // assigned in list order, fixed PIDs, and a user-defined PCR PID of a
    // transport-stream program carried by an input of its own.
    HRESULT_T Start(IMuxSink* sink, bool byteTimes = false);
    // Ends a run (or a start that failed): inputs drop their data and
    // buffers, the run's own inputs go, the structure and the configured
    // settings stay. The muxing thread must be stopped. Start may follow.
    void Reset();
    bool Started() const { return started_; }
    // Runs muxing steps until nothing more can be written with the data at
    // hand; at the end of every input writes the end and tells the sink.
    // Returns true once the stream is finished.
    bool RunUntilIdle();
    bool Finished() const { return finished_; }
    // Muxing thread for live use: runs passes whenever data arrives.
    void StartThread();
    void StopThread();
    // Blocks until the thread has finished the stream.
    void WaitFinished();
    // For a producer whose Push answered "full": waits until the muxing
    // thread has run a pass (or ms milliseconds have gone by).
    void WaitForRoom(int ms);
    // Flush of every input (a seek upstream): held data is dropped, and the
    // next pass prepares the rates and the clock again.
    void BeginFlush();
    void EndFlush();
    // Stop without end of stream (a graph Stop): every input counts as ended,
    // what they hold is written and the stream is closed properly (end code).
    void StopAndFinish();
    // The same for an owner that runs its own muxing thread: every input
    // counts as ended and no pass waits for first data any more, so the next
    // pass writes what the inputs hold and closes the stream.
    // Units whose decoding time (in the inputs' own time stamps, 100 ns) lies
    // after endTime are left out, so the stream ends where every input has data.
    void EndAllInputs(int64_t endTime = kNoTime);
    int64_t EndTime() const { return endTime_; }

    // ---- first data
    // Whether every input that carries time stamps has had its first one
    // since the start or the last flush (or a wait below gave up on them).
    // Subpicture, private-data and PCR-only inputs are not waited for.
    bool FirstDataArrived();
    // The first step of every pass on a muxing thread: waits until the first
    // data have arrived, for at most "Initial data waiting mode" ms (0: not
    // at all), and then counts them as arrived, so that no later pass waits
    // until the next flush. False when Interrupt ended the wait. Never with
    // the core's lock held: the inputs need it to deliver.
    bool WaitFirstData();
    // Ends the waits of the muxing thread now, this core's own thread's and
    // a caller's WaitFirstData alike; the thread is to stop. After the
    // current step, never after a whole wait.
    void Interrupt();

    // ---- state read by the inputs and tests
    double Clock() const { return clock_; }
    double PacketTime() const { return packetTime_; }
    int64_t Slots() const { return slots_; }
    int64_t MuxerTime() const { return static_cast<int64_t>(clock_ * 10 / 27); }
    int64_t TimeOffset() const { return timeOffset_; }
    uint64_t PaddingPackets() const { return padding_; }
    // Units whose last byte went out after their decoding time: the output
    // rate is too low for the inputs (the sink heard OnOverload at the first).
    uint64_t LateUnits() const { return lateUnits_; }
    uint32_t ProgramMuxRate() const { return muxRate_; }
    const OutputFramer& Output() const { return out_; }
    // "Real Output Bitrate": bytes delivered over the muxer time since the first delivery.
    int64_t RealOutputBitrate() const;
    std::recursive_mutex& Lock() { return lock_; }
    void NotifyData();

    // The run's MPEG-4 systems information with "DMB Compatibility" 1; null
    // without it, or when an input's stream type is neither H.264 nor AAC
    // (LastError then names it).
    const MPEG4DescriptorGenerator* DmbSetup() const { return dmbOn_ ? &dmb_ : nullptr; }

    // Delivery of one transport packet (advances the clock by a slot).
    HRESULT_T DeliverPacket(const uint8_t* pkt, bool hasPcr = false);
    // The same for a packet built in place: BeginPacket gives room for its
    // 188 bytes in the output (null when the sample before it could not be
    // delivered; hr then says why), EndPacket delivers what was built there.
    uint8_t* BeginPacket(bool hasPcr, HRESULT_T& hr);
    HRESULT_T EndPacket(const uint8_t* room, HRESULT_T hr);

private:
    friend class InputStream;
    friend class Program;

    bool ApplyFixedPids();
    // An input that exists for the run only, in the program.
    InputStream* AddInternalInput(const StreamSettings& s, Program* p);
    // Stream ids of the run in list order, the way inputs added one by one get them.
    HRESULT_T AssignStreamIds();
    void Prepare();
    void Rebase();
    int TsStep();
    int PsStep();
    // The PAT and the PMTs that fall due before the horizon.
    void WriteTables() {
        const int64_t horizon = static_cast<int64_t>(DueHorizon());
        if (patDue_ <= horizon || pmtDue_ <= horizon) WriteDueTables(horizon);
    }
    void WriteDueTables(int64_t horizon);
    bool WritePcrs();  // false when a program waits for its PCR input
    // A packet of the PCR input written now should carry its program's PCR.
    bool PcrDueBeforeRoom(const InputStream* in) const;
    void FillSlot();
    void WriteBracketPcrs(const InputStream* except = nullptr);
    // The clock up to which tables and PCRs are written now; the span after
    // the clock follows the programs and the packet time of the run.
    double DueHorizon() const { return clock_ + dueSpan_; }
    void SetDueSpan();
    // Whether a PCR packet fits the transport buffer of every PCR input now.
    bool PcrInputsHaveRoom();
    // A unit of the input was written completely, now (clock after its last byte).
    void NoteCompleted(InputStream* in, int64_t dts);
    HRESULT_T DeliverPs(const uint8_t* bytes, uint32_t n);
    void WritePsPacket(InputStream* in, int32_t planned);
    void WriteLpcmPack(InputStream* in);
    void WritePassThrough(InputStream* in);
    void WritePackHeader(SPL::BitstreamWriter& w);
    void Finish();
    void ThreadProc();
    bool WaitFirstDataLocked(std::unique_lock<std::recursive_mutex>& g);
    // Counts the inputs the first pass waits for; at the start and after a flush.
    void ArmFirstData();
    void OnFirstTime(const InputStream* in);
    // The DMB set-up at the start of a run, over every connected input.
    void SetUpDmb();
    // The same inputs again, with the parameter sets the scanners found.
    void RefreshDmb();
    std::vector<DmbInput> DmbInputs() const;

    MuxerSettings config_;
    MuxerSettings settings_;  // the run's copy
    std::string lastError_;
    MPEG4DescriptorGenerator dmb_;
    bool dmbOn_ = false;
    std::vector<std::unique_ptr<Program>> programs_;
    std::vector<std::unique_ptr<InputStream>> inputs_;
    NS_TS::CPAT pat_;
    OutputFramer out_;
    IMuxSink* sink_ = nullptr;

    double clock_ = 0;
    double startClock_ = 0;
    double packetTime_ = 1;
    double dueSpan_ = 0;
    int64_t slots_ = 0;
    int64_t patDue_ = 0;
    int64_t pmtDue_ = 0;
    int32_t patIntervalMs_ = 100;
    int32_t pmtIntervalMs_ = 100;
    uint64_t padding_ = 0;
    uint64_t lateUnits_ = 0;
    int64_t endTime_ = kNoTime;  // EndAllInputs: units after it are left out
    uint32_t muxRate_ = 0;
    int64_t timeOffset_ = 0;
    bool started_ = false;
    bool prepared_ = false;
    bool rebased_ = false;
    bool finished_ = false;
    bool systemHeaderDue_ = true;
    uint64_t psBytes_ = 0;
    // Without padding, idle slots are bracketed by PCRs so that every packet
    // keeps its slot time for a decoder that interpolates between PCRs.
    bool gapOpen_ = false;
    bool lastHadPcr_ = false;
    std::vector<uint8_t> packBuf_;

    std::recursive_mutex lock_;
    std::condition_variable_any wake_;
    std::condition_variable_any progress_;
    uint64_t passes_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> work_{0};
    int32_t awaitingFirstTime_ = 0;
    bool firstData_ = false;
};

}  // namespace muxcore
