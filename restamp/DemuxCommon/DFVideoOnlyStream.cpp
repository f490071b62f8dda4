#include "restamp/DemuxCommon/DFVideoOnlyStream.h"

#include "restamp/DemuxCommon/MadeUpTimeRun.h"

#include <cstring>

namespace {

constexpr uint32_t kPictureCodingI = 1;
constexpr uint8_t kPictureStart = 0x00, kSequenceStart = 0xB3;

// Offset of the next picture or sequence header start code from d[1] on; len when none.
uint32_t NextPictureOrSequence(const uint8_t* d, uint32_t len) {
    for (uint32_t i = 1; i + 4 <= len;) {
        const void* p = std::memchr(d + i + 2, 1, len - i - 3);
        if (!p) break;
        const uint32_t j = uint32_t(static_cast<const uint8_t*>(p) - d);  // the 01
        if (!d[j - 1] && !d[j - 2] && (d[j + 1] == kPictureStart || d[j + 1] == kSequenceStart)) return j - 2;
        i = j - 1;
    }
    return len;
}

}  // namespace

uint32_t CDFVideoOnlyStream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    SetState(0, nullptr);
    if (const auto* e = BS::EventAs<MVideo::CPictHdr>(ev)) return OnPicture(*e, ctl);
    if (const auto* e = BS::EventAs<MVideo::CSeqHdr>(ev)) return OnSequenceHeader(*e, ctl);
    if (const auto* e = BS::EventAs<MVideo::CSequenceExt>(ev)) return OnSequenceExt(*e);
    if (const auto* e = BS::EventAs<MVideo::CPictCodingExt>(ev)) return OnPictureCodingExt(*e);
    return 0;
}

uint32_t CDFVideoOnlyStream::OnSequenceHeader(const BS::CParserEvent<MVideo::CSeqHdr>& ev, BS::ParserControl* ctl) {
    Raise(1, ev);
    frameDuration_ = ev.header->frameDuration;
    return OnData(ev.position, ev.data, ev.length, ctl, 0);
}

uint32_t CDFVideoOnlyStream::OnSequenceExt(const BS::CParserEvent<MVideo::CSequenceExt>& ev) {
    Raise(2, ev);
    progressiveSequence_ = ev.header->progressiveSequence;
    return 1;
}

uint32_t CDFVideoOnlyStream::OnPictureCodingExt(const BS::CParserEvent<MVideo::CPictCodingExt>& ev) {
    const MVideo::CPictCodingExt& x = *ev.header;
    duration_ = frameDuration_;
    if (x.progressiveFrame && x.repeatFirstField) {
        if (!progressiveSequence_)
            duration_ = frameDuration_ * 3 / 2;
        else
            duration_ = frameDuration_ * (x.topFieldFirst ? 3 : 2);
    }
    return 1;
}

uint32_t CDFVideoOnlyStream::OnPicture(const BS::CParserEvent<MVideo::CPictHdr>& ev, BS::ParserControl* ctl) {
    if (ctl) ctl->skip = 1;
    Raise(12, ev);
    accumulated_ += duration_;  // the display time of the picture before
    pending_ = base_ + accumulated_;
    timeReady_ = false;
    if (ev.header->codingType == kPictureCodingI) {
        // An I picture shown after the pictures that follow it (temporal
        // reference 1 or 2): the base moves on past them.
        const uint32_t tr = ev.header->temporalReference;
        const bool ahead = tr == 1 || tr == 2;
        if (ahead) accumulated_ += frameDuration_ * tr;
        base_ += accumulated_;
        accumulated_ = ahead ? -(frameDuration_ * tr) : 0;
        timeReady_ = true;
        pending_ = base_;
    }
    duration_ = frameDuration_;
    return OnData(ev.position, ev.data, ev.length, ctl, 0);
}

uint32_t CDFVideoOnlyStream::OnData(uint64_t, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t) {
    if (ReportMadeUpTimeRun(owner_, key_, pending_, d, len, NextPictureOrSequence(d, len), ctl, this)) {
        timeReady_ = false;
        pending_ = kNoTime;
    }
    return 1;
}

void CDFVideoOnlyStream::Reset() {
    MVideo::CVEStream::Reset();
    pending_ = 0;
    timeReady_ = true;
    base_ = 0;
    duration_ = frameDuration_;
    progressiveSequence_ = 0;
    accumulated_ = 0;
}

MVideo::CVEStream* CDFVideoDispatcher::NewVEStream(const MVideo::DetectVideoStream* det) {
    auto* s = BS::New<CDFVideoOnlyStream>(owner);
    if (!s || !det) return s;
    if (det->seqHdr.valid) s->SetFrameDuration(det->seqHdr.frameDuration);
    s->SetPendingTime(0);
    if (owner && !det->runCopy.empty()) owner->SetPendingSeqHeader(det->runCopy.data(), uint32_t(det->runCopy.size()));
    return s;
}
