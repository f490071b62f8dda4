// Frame scanners (MPEG audio, AC-3, ADTS AAC), the LPCM block scanner and the
// pass-through PES scanner.
#include "codec/scanning/scanners/ScannerBase.h"

#include "codec/common/MpegCodes.h"

#include <cstring>

using muxcore::AccessUnit;
using muxcore::kNoTime;

// ------------------------------------------------------------ audio frames

uint32_t CScannerAudioFrames::FrameAt(const uint8_t* p, uint32_t avail) {
    switch (format_) {
        case kMpegAudio:
            if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || !aes_.Parse(p, avail)) return 0;
            headerDuration_ =
                aes_.layer == SPL_AES::AESHdr::LAYER_I ? 3840000000ll / aes_.sampleRate : aes_.frameDuration;
            headerBitrate_ = static_cast<int32_t>(aes_.bitRate);
            return aes_.frameLength;
        case kAc3:
            if (!((p[0] == 0x0B && p[1] == 0x77)) || !ac3_.Parse(p, avail) || ac3_.frameLength == 0) return 0;
            headerDuration_ = ac3_.frameDuration;
            headerBitrate_ = static_cast<int32_t>(ac3_.bitRate);
            return ac3_.frameLength;
        case kAac:
            if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0 || !aac_.Parse(p, avail) || aac_.aac_frame_length < 7) return 0;
            headerDuration_ = aac_.frameDuration;
            headerBitrate_ = 0;
            return aac_.aac_frame_length;
    }
    return 0;
}

void CScannerAudioFrames::OnFirstHeader() {
    if (headerBitrate_ > 0) host_->SetAnnouncedBitrate(headerBitrate_);
    if (headerDuration_ > 0) host_->SetFrameDuration(headerDuration_);
    if (format_ == kAc3 && host_->OutputType() == muxcore::kProgramStream && headerBitrate_ > 0)
        host_->SetElementaryBufferSize(
            static_cast<int32_t>(static_cast<double>(host_->LookAheadTicks()) / 27000000.0 * headerBitrate_ / 8));
    configured_ = true;
    host_->ConfigureStream(headerDuration_);
}

uint8_t* CScannerAudioFrames::ParseData(uint8_t* pos, int32_t n) {
    if (!pos) return pos;
    uint8_t* end = pos + n;
    const bool ended = host_->HasEnded();
    uint8_t* p = pos;
    while (end - p >= 8) {
        if (host_->FreeUnitRecords() <= 0) return p;
        const uint32_t avail = static_cast<uint32_t>(end - p);
        const uint32_t len = FrameAt(p, avail);
        if (len == 0) {
            // Search the next sync byte; skipped bytes join the pending unit.
            const uint8_t sync = format_ == kAc3 ? 0x0B : 0xFF;
            uint8_t* next = static_cast<uint8_t*>(std::memchr(p + 1, sync, static_cast<size_t>(end - p - 1)));
            p = next ? next : end - 7;
            if (!next) break;
            continue;
        }
        if (len > avail && !ended) return p;  // wait for the whole frame
        if (!haveHeader_) {
            haveHeader_ = true;
            OnFirstHeader();
            EmitAudioUnit(p);  // first call: the unit starts at the buffer start
            lastStamp_ = -headerDuration_;
        } else {
            EmitAudioUnit(p);
        }
        p += len > avail ? avail : len;
    }
    if (ended) {
        FlushAtEnd();
        return end;
    }
    return p;
}

int64_t CScannerAudioFrames::ComputeTimestamp() {
    if (!haveHeader_) return kNoTime;
    return lastStamp_ + headerDuration_;
}

// ------------------------------------------------------------ LPCM

void CScannerLPCM::Reset() {
    CScannerBase::Reset();
    anchorPos_ = nullptr;
    anchorTime_ = 0;
}

void CScannerLPCM::OnDataShifted(ptrdiff_t distance) {
    CScannerBase::OnDataShifted(distance);
    if (anchorPos_) anchorPos_ -= distance;
}

void CScannerLPCM::OnDataMoved(const uint8_t* oldBase, const uint8_t* newBase) {
    CScannerBase::OnDataMoved(oldBase, newBase);
    if (anchorPos_) anchorPos_ += newBase - oldBase;
}

void CScannerLPCM::TakeAnchor(const uint8_t* p) {
    AccessUnit r;
    muxcore::AccessUnitQueue& q = host_->SampleTimes();
    while (q.Peek(r) == 0 && r.location <= p) {
        if (r.ptsPresent) {
            anchorTime_ = r.pts;
            anchorPos_ = r.location;
        }
        q.Pop();
    }
}

int64_t CScannerLPCM::TimeAt(const uint8_t* p) const {
    const muxcore::PcmFormat f = host_->Pcm();
    const int64_t bytesPerSample = static_cast<int64_t>(f.channels) * f.bitsPerSample / 8;
    if (bytesPerSample <= 0 || f.sampleRate <= 0 || !anchorPos_) return anchorTime_;
    return anchorTime_ + (p - anchorPos_) / bytesPerSample * 10000000 / f.sampleRate;
}

uint8_t* CScannerLPCM::ParseData(uint8_t* pos, int32_t n) {
    if (!pos) return pos;
    const int32_t unit = host_->LpcmUnitSize();
    if (unit <= 0) return pos;
    if (!anchorPos_) anchorPos_ = pos;
    uint8_t* end = pos + n;
    uint8_t* p = pos;
    auto emit = [&](int32_t size, bool last) {
        if (!configured_) {
            configured_ = true;
            host_->ConfigureStream(0);
        }
        TakeAnchor(p);
        AccessUnit u = muxcore::ZeroUnit();
        u.location = p;
        u.kind = muxcore::kUnitAudio;
        u.size = size;
        u.pts = u.dts = TimeAt(p);
        u.ptsPresent = 1;
        u.dtsPresent = last ? 0 : 1;
        anchorTime_ = u.pts;
        anchorPos_ = p;
        u.unitStart = 1;
        Finish(u);
        p += size;
    };
    while (end - p >= unit && host_->FreeUnitRecords() > 0) emit(unit, false);
    if (host_->HasEnded() && end > p && end - p < unit && host_->FreeUnitRecords() > 0) {
        emit(static_cast<int32_t>(end - p), true);
        host_->SampleTimes().Clear();
    }
    return p;
}

// ------------------------------------------------------------ PES pass-through

void CScannerPES::Reset() {
    CScannerBase::Reset();
    havePrev_ = false;
}

void CScannerPES::EmitPacket(uint8_t* end) {
    if (!pendingStart_ || end <= pendingStart_) return;
    AccessUnit u = muxcore::ZeroUnit();
    u.kind = muxcore::kUnitI;
    u.location = pendingStart_;
    u.size = static_cast<int32_t>(end - pendingStart_);
    u.ptsPresent = u.dtsPresent = 1;
    if (havePrev_ && prev_.HasPts()) {
        u.pts = static_cast<int64_t>(prev_.PTS()) * 1000 / 9;
        u.dts = prev_.HasDts() ? static_cast<int64_t>(prev_.DTS()) * 1000 / 9 : u.pts;
    } else {
        u.pts = u.dts = lastStamp_;
    }
    lastStamp_ = u.pts;
    u.unitStart = 1;
    if (!configured_) {
        configured_ = true;
        host_->ConfigureStream(0);
    }
    AccessUnit r;
    while (host_->SampleTimes().Peek(r) == 0 && r.location <= pendingStart_) host_->SampleTimes().Pop();
    pendingStart_ = end;
    lastUnitEnd_ = end;
    Finish(u);
}

uint8_t* CScannerPES::ParseData(uint8_t* pos, int32_t n) {
    if (!pos) return pos;
    if (firstCall_) {
        firstCall_ = false;
        pendingStart_ = host_->DataStart();
    }
    uint8_t* end = pos + n;
    uint8_t* p = pos;
    for (;;) {
        if (host_->FreeUnitRecords() <= 0) return p;
        const int32_t off = SPL_PS::FindPesOrPackStart(p, static_cast<uint32_t>(end - p));
        if (off < 0) break;
        uint8_t* sc = p + off;
        SPL_PS::PSPesPacket h;
        const uint32_t avail = static_cast<uint32_t>(end - sc);
        if (avail < 15 && !host_->HasEnded()) return sc;
        if (sc[3] >= MpegCommon::kStreamIdPrivate1 && h.Parse(sc, avail, false)) {
            if (sc > pendingStart_) EmitPacket(sc);
            prev_ = h;
            havePrev_ = true;
            const uint32_t size = h.PacketSize();
            p = size > 0 && size <= avail ? sc + size : sc + 4;
            continue;
        }
        p = sc + 4;
    }
    if (host_->HasEnded()) {
        FlushAtEnd();
        return end;
    }
    return end - p > 3 ? end - 3 : p;
}

void CScannerPES::Discard(uint8_t* pos, int32_t length) {
    EmitPacket(pos + length);
    host_->SampleTimes().Clear();
}

void CScannerPES::FlushAtEnd() {
    EmitPacket(host_->DataEnd());
    host_->SampleTimes().Clear();
}
