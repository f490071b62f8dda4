// Access-unit scanners: each turns the bytes an input has buffered into
// access units with times, kinds and sizes, and queues them on its host.
// Positions are pointers into the host's buffer and follow its moves.
#pragma once

#include "codec/scanning/scanners/ScannerHost.h"

#include "codec/scanning/AudioHeaders.h"
#include "codec/scanning/PSHeaders.h"
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
    struct HeldPicture {
        muxcore::AccessUnit unit;
        uint32_t key;
        int64_t duration;
    };
    bool Reconstructing() const { return host_->TimingMode() == muxcore::kReconstructionMode; }
    void HoldPendingPicture(uint8_t* end);
    void FlushGroup();
    std::vector<HeldPicture> group_;
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
    int64_t gopStartBase_ = muxcore::kNoTime;
    double gopFieldUnits_ = 0;
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

// The scanner of an input type, or null for types without one.
std::unique_ptr<CScannerBase> CreateScanner(int32_t streamType, ScannerHost* host);
