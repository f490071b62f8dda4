// Access-unit scanners: each turns the bytes an input has buffered into
// access units with times, kinds and sizes, and queues them on its host.
// Positions are pointers into the host's buffer and follow its moves.
#pragma once

#include "codec/scanning/scanners/PictureGroup.h"
#include "codec/scanning/scanners/ScannerHost.h"

#include "codec/common/H264Headers.h"
#include "codec/common/Mpeg4VideoHeaders.h"

#include "codec/scanning/AudioHeaders.h"
#include "codec/scanning/PSHeaders.h"
#include "codec/scanning/VC1Headers.h"
#include "codec/scanning/VESHeaders.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class CScannerBase : public muxcore::BufferMoveListener {
public:
    explicit CScannerBase(ScannerHost* host);
    ~CScannerBase() override = default;

    // Scans the bytes from pos to pos + n; returns the new scan position.
    virtual uint8_t* ParseData(uint8_t* pos, int32_t n) = 0;
    virtual void Reset();

    // Closes the pending unit at end and queues it. 1 for a null end.
    virtual int EmitAccessUnit(uint8_t* end, bool hasStamp, bool keepPending = false);
    virtual int EmitAudioUnit(uint8_t* end);
    // Emits the pending unit at pos, then drops the rest of the range and
    // the sample records.
    virtual void Discard(uint8_t* pos, int32_t length);
    // After end of stream: the rest of the buffer becomes the last unit.
    virtual void FlushAtEnd();
    int64_t TakeSampleStamp(const uint8_t* unitStart);

    void OnDataShifted(ptrdiff_t distance) override;
    void OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) override;

    // The first decoding time the scanner produced and how long before it the
    // decoder must start buffering (100 ns); the rebase uses both.
    bool HasStartValue() const { return firstDts_ != muxcore::kNoTime; }
    int64_t StartValue() const { return firstDts_ - startupDelay_; }
    // True while bytes wait in a pending unit that end of stream still has to emit.
    virtual bool HoldsData() const;
    bool IsConfigured() const { return configured_; }
    int64_t UnitsEmitted() const { return unitsEmitted_; }

protected:
    virtual void ClassifyAccessUnit(muxcore::AccessUnit& u, bool& derivedDts);
    virtual int64_t ComputeTimestamp();
    // Fills a missing presentation time of the pending unit; true when it
    // cannot (the base never can).
    virtual bool EstimateTimestamp(int64_t& /*pts*/) { return true; }
    virtual void UnitHook(muxcore::AccessUnit&) {}
    // A unit took its time from a received sample.
    virtual void OnSampleStamp(int64_t) {}
    virtual bool IsVideo() const { return false; }

    void Finish(muxcore::AccessUnit& u);  // shift, note the first DTS and queue
    void Move(ptrdiff_t d);
    // A unit of size bytes goes out with decoding time dts: the bytes so far
    // over the time so far are the stream's real bit rate (capped at the
    // largest the host takes, as a damaged first time may be tiny).
    void CountEmitted(int32_t size, int64_t dts);

    ScannerHost* host_;
    uint8_t* pendingStart_ = nullptr;
    uint8_t* lastUnitEnd_ = nullptr;
    bool firstCall_ = true;
    bool firstDerivedDts_ = true;
    bool configured_ = false;
    int64_t pendingPts_ = muxcore::kNoTime;
    int64_t lastSamplePts_ = muxcore::kNoTime;
    int64_t lastStamp_ = 0;
    int64_t prevRefPts_ = muxcore::kNoTime;
    int64_t firstDts_ = muxcore::kNoTime;
    int64_t startupDelay_ = 0;
    int64_t unitDuration_ = 0;
    int64_t unitsEmitted_ = 0;
    int64_t bytesEmitted_ = 0;
    int64_t stampsConsumed_ = 0;
};

class CScannerMPEG2 : public CScannerBase {
public:
    explicit CScannerMPEG2(ScannerHost* host) : CScannerBase(host) { Reset(); }
    uint8_t* ParseData(uint8_t* pos, int32_t n) override;
    void Reset() override;
    void FlushAtEnd() override;
    bool HoldsData() const override;

protected:
    void ClassifyAccessUnit(muxcore::AccessUnit& u, bool& derivedDts) override;
    int64_t ComputeTimestamp() override;
    void OnSampleStamp(int64_t pts) override;
    bool EstimateTimestamp(int64_t& pts) override;
    void UnitHook(muxcore::AccessUnit& u) override;
    bool IsVideo() const override { return true; }

    void OnDataShifted(ptrdiff_t distance) override;
    void OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) override;

private:
    // "Reconstruction Mode": the pictures of a group are held and their
    // times rebuilt from the temporal references when the group ends.
    bool Reconstructing() const { return host_->TimingMode() == muxcore::kReconstructionMode; }
    void HoldPendingPicture(uint8_t* end);
    void FlushGroup();
    PictureGroup group_;
    uint8_t* groupStart_ = nullptr;  // sequence or group header after the pending picture
    int64_t runningTime_ = 0;

    void OnSequenceHeader(uint8_t* at);
    void OnSequenceExtension();
    void OnGop(uint8_t* at);
    void OnPicture(uint8_t* at);
    void OnPictureCodingExtension();

    SPL_VES::VESParserConsumer consumer_;
    bool picturePending_ = false;
    uint32_t pendingType_ = 0;
    uint32_t pendingTemporalRef_ = 0;
    bool pendingAfterSequence_ = false;
    bool pendingField_ = false;
    int pendingFields_ = 0;
    bool seqSinceLastPicture_ = false;
    bool gopSinceLastPicture_ = false;
    bool seqExtSeen_ = false;
    bool anyPicture_ = false;
    // Time from temporal reference 0 to t in the open group: the durations
    // of the pictures shown before t, as far as they were seen; the others
    // alternate with the current picture's (3:2 pulldown repeats every
    // other picture's first field).
    int64_t OffsetOf(uint32_t t) const;
    std::map<uint32_t, int64_t> groupDurations_;  // by temporal reference, pictures emitted
    int64_t groupSpan_ = 0;                       // their sum
    bool repeatsFields_ = false;                  // a picture repeated its first field
    bool firstExtSeen_ = false;
    bool firstTopFieldFirst_ = false;
    bool emittedPicture_ = false;
    uint32_t emittedTemporalRef_ = 0;  // of the last picture emitted
    int64_t gopBase_ = 0;              // time of temporal reference 0 in the open group
    int64_t gopPictures_ = 0;          // frames of the open group so far
    uint32_t vbvDelay_ = 0xFFFF;
    int32_t vbvBytes_ = 0;
};

// MPEG audio, AC-3 and ADTS AAC: one unit per frame.
class CScannerAudioFrames : public CScannerBase {
public:
    enum Format { kMpegAudio, kAc3, kAac };
    CScannerAudioFrames(ScannerHost* host, Format f) : CScannerBase(host), format_(f) {}
    uint8_t* ParseData(uint8_t* pos, int32_t n) override;

protected:
    int64_t ComputeTimestamp() override;

private:
    // Frame length at p (0 when no frame header starts there).
    uint32_t FrameAt(const uint8_t* p, uint32_t avail);
    void OnFirstHeader();

    Format format_;
    SPL_AES::AESHdr aes_;
    SPL_AC3::AC3Hdr ac3_;
    SPL_AAC::AACHdr aac_;
    int64_t headerDuration_ = 0;
    int32_t headerBitrate_ = 0;
    bool haveHeader_ = false;
};

class CScannerLPCM : public CScannerBase {
public:
    explicit CScannerLPCM(ScannerHost* host) : CScannerBase(host) {}
    uint8_t* ParseData(uint8_t* pos, int32_t n) override;
    void Reset() override;
    void OnDataShifted(ptrdiff_t distance) override;
    void OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) override;
    bool HoldsData() const override { return false; }

private:
    void TakeAnchor(const uint8_t* p);
    int64_t TimeAt(const uint8_t* p) const;
    const uint8_t* anchorPos_ = nullptr;
    int64_t anchorTime_ = 0;
};

// Already PES-packetised input: one unit per PES packet.
class CScannerPES : public CScannerBase {
public:
    explicit CScannerPES(ScannerHost* host) : CScannerBase(host) {}
    uint8_t* ParseData(uint8_t* pos, int32_t n) override;
    void Discard(uint8_t* pos, int32_t length) override;
    void FlushAtEnd() override;
    void Reset() override;

private:
    void EmitPacket(uint8_t* end);
    SPL_PS::PSPesPacket prev_;
    bool havePrev_ = false;
};

// H.264 byte streams: one access unit per picture (a field pair counts as
// one). Parameter sets, SEI and delimiters join the picture after them.
// Presentation times follow the picture order count from the last IDR;
// decoding times run on the frame grid, the reorder depth ahead.
class CScannerH264 : public CScannerBase {
public:
    explicit CScannerH264(ScannerHost* host) : CScannerBase(host) { Reset(); }
    uint8_t* ParseData(uint8_t* pos, int32_t n) override;
    void Reset() override;
    void FlushAtEnd() override;
    bool HoldsData() const override;
    void OnDataShifted(ptrdiff_t distance) override;
    void OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) override;

    const MpegCommon::h264::Sps& Sps() const { return sps_; }
    // The parameter sets the stream was configured with (NAL units without start codes).
    const std::vector<uint8_t>& SpsBytes() const { return spsBytes_; }
    const std::vector<uint8_t>& PpsBytes() const { return ppsBytes_; }
    int ReorderDepth() const { return reorder_; }

protected:
    bool IsVideo() const override { return true; }

private:
    void OnNal(uint8_t* at, const uint8_t* nal, size_t len);
    void OnSlice(uint8_t* at, const MpegCommon::h264::SliceHeader& s);
    void MarkBoundary(uint8_t* at) {
        if (picturePending_ && !boundary_) boundary_ = at;
    }
    void Configure();
    void EmitPicture(uint8_t* end, bool trailing = false);
    // The pending picture's unit without times: its kind and bytes.
    muxcore::AccessUnit PendingUnit(uint8_t* end, bool trailing);
    // Decoding time of the next unit in decoding order shown at pts.
    int64_t NextDts(int64_t pts);
    // Queues u with its times and moves the pending start to its end.
    void Release(muxcore::AccessUnit& u, int64_t pts, int64_t dts);

    // "Reconstruction Mode": the pictures from one I picture to the next are
    // held and shown in order-count order, one after the other.
    bool Reconstructing() const { return host_->TimingMode() == muxcore::kReconstructionMode; }
    void HoldPendingPicture(uint8_t* end);
    void FlushGroup();
    PictureGroup group_;
    int64_t runningTime_ = 0;  // the end of the last group shown

    MpegCommon::h264::Sps sps_;
    MpegCommon::h264::Pps pps_;
    MpegCommon::h264::SliceHeader last_;
    MpegCommon::h264::OrderCount order_;
    std::vector<uint8_t> spsBytes_, ppsBytes_;
    bool haveSps_ = false, havePps_ = false, haveSlice_ = false;
    bool spsSinceLastPicture_ = false;

    // The picture whose bytes run from pendingStart_.
    bool picturePending_ = false;
    bool pendingIntra_ = false;
    bool pendingAfterSps_ = false;
    uint32_t pendingKind_ = 0;  // slice_type mod 5 of its first slice
    int64_t pendingPoc_ = 0;
    bool pendingField_ = false;    // a first field waiting for its pair
    int64_t pendingDuration_ = 0;  // how long the picture is shown
    int64_t seiDuration_ = 0;      // from a picture-timing SEI, for the next picture
    uint8_t* boundary_ = nullptr;  // the first NAL unit after its slices that opens a new unit

    // Times: PTS = epochBase_ + (POC - epochPoc_) x F / pocStep_.
    bool anyPicture_ = false;
    int64_t epochBase_ = 0;
    int64_t epochPoc_ = 0;
    int64_t pocStep_ = 2;
    int64_t shownEnd_ = 0;  // end of the latest picture shown so far
    // Repeated fields in the epoch: the time pictures were shown beyond a
    // frame, by order count (recent ones), and the sum of older ones.
    int64_t RepeatedBefore(int64_t poc) const;
    void NoteRepeat(int64_t poc, int64_t extra);
    std::map<int64_t, int64_t> repeats_;
    int64_t olderRepeats_ = 0;
    int reorder_ = 0;
    int64_t decodeIndex_ = 0;
    int64_t dtsBase_ = 0;
    int64_t prevDts_ = muxcore::kNoTime;
};

// MPEG-4 Part 2 video: one access unit per VOP; the sequence, object,
// layer and group headers before a VOP join it. Times come from the VOP
// time stamps against the layer's time resolution.
class CScannerMPEG4 : public CScannerBase {
public:
    explicit CScannerMPEG4(ScannerHost* host) : CScannerBase(host) { Reset(); }
    uint8_t* ParseData(uint8_t* pos, int32_t n) override;
    void Reset() override;
    void FlushAtEnd() override;
    bool HoldsData() const override;

protected:
    void ClassifyAccessUnit(muxcore::AccessUnit& u, bool& derivedDts) override;
    int64_t ComputeTimestamp() override;
    bool IsVideo() const override { return true; }

private:
    void OnHeader(uint8_t* at);
    void OnVol(uint8_t* at);
    void OnVop(uint8_t* at);

    MpegCommon::mpeg4::Vol vol_;
    MpegCommon::mpeg4::VopClock clock_;
    bool haveVol_ = false;
    bool picturePending_ = false;
    bool headersSinceVop_ = false;  // headers wait at pendingStart_ for the next VOP
    bool volSinceVop_ = false;
    uint32_t pendingType_ = 0;
    bool pendingAfterVol_ = false;
    int64_t pendingTime_ = 0;  // in 1 / resolution
    bool haveFirstTime_ = false;
    int64_t firstTime_ = 0;
};

// VC-1 advanced profile with start codes: one access unit per frame (with
// its fields); sequence layers and entry points join the frame after them.
// The bitstream carries no times: a frame takes the sample time received
// with its first byte, else a B frame is shown when decoded and a reference
// frame after the B frames that follow it, one frame duration apart.
class CScannerVC1 : public CScannerBase {
public:
    explicit CScannerVC1(ScannerHost* host) : CScannerBase(host) { Reset(); }
    uint8_t* ParseData(uint8_t* pos, int32_t n) override;
    void Reset() override;
    void FlushAtEnd() override;
    bool HoldsData() const override;
    void OnDataShifted(ptrdiff_t distance) override;
    void OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) override;

protected:
    bool IsVideo() const override { return true; }

private:
    void OnHeader(uint8_t* at);
    void OnSequence(uint8_t* at);
    void OnFrame(uint8_t* at);
    void CloseFrame(uint8_t* end);
    void Release(muxcore::AccessUnit u);
    void EmitHeld();

    SPL_VC1::SequenceLayer seq_;
    bool haveSeq_ = false;
    bool framePending_ = false;
    bool headersSinceFrame_ = false;
    bool entrySinceFrame_ = false;
    uint32_t pendingType_ = 0;
    bool pendingAfterEntry_ = false;
    std::vector<muxcore::AccessUnit> held_;  // a reference frame and the B frames after it
    int64_t clock_ = 0;                      // the next free display time
    int64_t heldStamp_ = muxcore::kNoTime;   // received time of the held reference frame
    int64_t prevDts_ = muxcore::kNoTime;
    bool descriptorAdded_ = false;  // once per input, across flushes
};

// The scanner of an input type, or null for types without one.
std::unique_ptr<CScannerBase> CreateScanner(int32_t streamType, ScannerHost* host);
