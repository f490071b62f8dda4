#include "restamp/parsers/MVideo.h"

#include "codec/common/MpegTables.h"

namespace MVideo {
namespace {

bool IsStartCode(const uint8_t* d, uint32_t len, uint8_t code) {
    return len >= 4 && !d[0] && !d[1] && d[2] == 1 && d[3] == code;
}

// 100-ns frame durations of frame_rate_code 1..8 (from the decimal rates).
const uint32_t kFrameDuration[9] = {0, 417083, 416666, 400000, 333667, 333333, 200000, 166833, 166666};

}  // namespace

bool CSeqHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 11 || !IsStartCode(d, len, 0xB3)) return false;
    horizontalSizeValue = horizontalSize = (uint32_t(d[4]) << 4) | (d[5] >> 4);
    verticalSizeValue = verticalSize = (uint32_t(d[5] & 15) << 8) | d[6];
    aspectRatioCode = d[7] >> 4;
    frameRateCode = d[7] & 15;
    bitRateValue = (uint32_t(d[8]) << 10) | (uint32_t(d[9]) << 2) | (d[10] >> 6);
    if (aspectRatioCode < 1 || aspectRatioCode > 14 || frameRateCode < 1 || frameRateCode > 8) return false;
    pixelAspectRatio = MpegCommon::PelAspectRatio(aspectRatioCode);
    frameRate = MpegCommon::FrameRate(frameRateCode);
    frameDuration = kFrameDuration[frameRateCode];
    bitRate = bitRateValue * 400;
    return valid = true;
}

bool CSequenceExt::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 7 || !IsStartCode(d, len, 0xB5) || (d[4] >> 4) != 1) return false;
    const MpegCommon::ProfileLevel pl = MpegCommon::DecodeProfileLevel(((d[4] & 15u) << 4) | (d[5] >> 4));
    profile = pl.profile;
    level = pl.level;
    progressiveSequence = (d[5] >> 3) & 1;
    chromaFormat = (d[5] >> 1) & 3;
    horizontalSizeExtension = uint8_t(((d[5] & 1) << 1) | (d[6] >> 7));
    verticalSizeExtension = (d[6] >> 5) & 3;
    valid = chromaFormat != 0;
    return valid;
}

bool CGopHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 8 || !IsStartCode(d, len, 0xB8)) return false;
    uint32_t v = (uint32_t(d[4]) << 24) | (uint32_t(d[5]) << 16) | (uint32_t(d[6]) << 8) | d[7];
    dropFrameFlag = v >> 31;
    hours = (v >> 26) & 31;
    minutes = (v >> 20) & 63;
    uint32_t marker = (v >> 19) & 1;
    seconds = (v >> 13) & 63;
    pictures = (v >> 7) & 63;
    closedGop = (v >> 6) & 1;
    brokenLink = (v >> 5) & 1;
    timeCode = int64_t(hours) * 3600 + minutes * 60 + seconds;
    valid = minutes < 60 && seconds < 60 && pictures < 60 && marker;
    return valid;
}

bool CPictHdr::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 8 || !IsStartCode(d, len, 0x00)) return false;
    temporalReference = (uint32_t(d[4]) << 2) | (d[5] >> 6);
    uint32_t t = (d[5] >> 3) & 7;
    codingType = (t >= 1 && t <= 4) ? t : 0;
    vbvDelay = (uint32_t(d[5] & 7) << 13) | (uint32_t(d[6]) << 5) | (d[7] >> 3);
    valid = codingType != 0;
    return valid;
}

bool CPictCodingExt::Parse(const uint8_t* d, uint32_t len) {
    Clear();
    if (len < 9 || !IsStartCode(d, len, 0xB5) || (d[4] >> 4) != 8) return false;
    fCode[0][0] = d[4] & 15;
    fCode[0][1] = d[5] >> 4;
    fCode[1][0] = d[5] & 15;
    fCode[1][1] = d[6] >> 4;
    intraDcPrecision = (d[6] >> 2) & 3;
    pictureStructure = d[6] & 3;
    topFieldFirst = d[7] >> 7;
    framePredFrameDct = (d[7] >> 6) & 1;
    concealmentMotionVectors = (d[7] >> 5) & 1;
    qScaleType = (d[7] >> 4) & 1;
    intraVlcFormat = (d[7] >> 3) & 1;
    alternateScan = (d[7] >> 2) & 1;
    repeatFirstField = (d[7] >> 1) & 1;
    chroma420Type = d[7] & 1;
    progressiveFrame = d[8] >> 7;
    compositeDisplayFlag = (d[8] >> 6) & 1;
    return valid = true;
}

bool CVideoParserHandlerImpl::ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
    last_ = nullptr;
    if (avail < 4) return false;
    const uint8_t c = d[3];
    if (c == 0xB8 && gopHdr.Parse(d, avail)) {
        last_ = &evGopHdr.Set(&gopHdr, pos, d, avail, 0);
        return true;
    }
    if (c == 0xB3 && seqHdr.Parse(d, avail)) {
        if (seqExt.valid) {
            seqHdr.horizontalSize = seqHdr.horizontalSizeValue + 4096u * seqExt.horizontalSizeExtension;
            seqHdr.verticalSize = seqHdr.verticalSizeValue + 4096u * seqExt.verticalSizeExtension;
        }
        last_ = &evSeqHdr.Set(&seqHdr, pos, d, avail, 0);
        return true;
    }
    if (c == 0xB5) {
        if (seqExt.Parse(d, avail)) {
            last_ = &evSeqExt.Set(&seqExt, pos, d, avail, 0);
            return true;
        }
        if (seqDisplayExt.Parse(d, avail)) {
            last_ = &evSeqDisplayExt.Set(&seqDisplayExt, pos, d, avail, 0);
            return true;
        }
    }
    if (c == 0xB2 && userData.Parse(d, avail)) {
        last_ = &evUserData.Set(&userData, pos, d, avail, 0);
        return true;
    }
    if (c == 0xB5) {
        if (seqScalableExt.Parse(d, avail)) {
            last_ = &evSeqScalableExt.Set(&seqScalableExt, pos, d, avail, 0);
            return true;
        }
        if (spatalScalExt.Parse(d, avail)) {
            last_ = &evSpatalScalExt.Set(&spatalScalExt, pos, d, avail, 0);
            return true;
        }
        if (tempScalExt.Parse(d, avail)) {
            last_ = &evTempScalExt.Set(&tempScalExt, pos, d, avail, 0);
            return true;
        }
    }
    if (c == 0x00 && pictHdr.Parse(d, avail)) {
        last_ = &evPictHdr.Set(&pictHdr, pos, d, avail, 0);
        return true;
    }
    if (c == 0xB5) {
        if (pictCodingExt.Parse(d, avail)) {
            last_ = &evPictCodingExt.Set(&pictCodingExt, pos, d, avail, 0);
            return true;
        }
        if (pictDisplayExt.Parse(d, avail)) {
            last_ = &evPictDisplayExt.Set(&pictDisplayExt, pos, d, avail, 0);
            return true;
        }
        if (quantMatrixExt.Parse(d, avail)) {
            last_ = &evQuantMatrixExt.Set(&quantMatrixExt, pos, d, avail, 0);
            return true;
        }
    }
    if (sliceHdr.Parse(d, avail)) {
        last_ = &evSliceHdr.Set(&sliceHdr, pos, d, avail, 0);
        return true;
    }
    return false;
}

uint32_t CVEStream::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    SetState(0, nullptr);
    using namespace BS;
    if (EventAs<CSliceHdr>(ev)) return Raise(13, ev);
    if (EventAs<CPictHdr>(ev)) {
        if (ctl) ctl->skip = 1;
        return Raise(12, ev);
    }
    if (EventAs<CPictCodingExt>(ev)) return Raise(5, ev);
    if (EventAs<CPictDisplayExt>(ev)) return Raise(6, ev);
    if (EventAs<CQuantMatrixExt>(ev)) return Raise(7, ev);
    if (EventAs<CGopHdr>(ev)) return Raise(11, ev);
    if (EventAs<CSeqHdr>(ev)) return Raise(1, ev);
    if (EventAs<CSequenceExt>(ev)) return Raise(2, ev);
    if (EventAs<CSeqDisplayExt>(ev)) return Raise(3, ev);
    if (EventAs<CUserData>(ev)) return Raise(4, ev);
    if (EventAs<CSeqScalableExt>(ev)) return Raise(8, ev);
    if (EventAs<CSpatalScalExt>(ev)) return Raise(9, ev);
    if (EventAs<CTempScalExt>(ev)) return Raise(10, ev);
    return 0;
}

CVEStream* CVideoDispatcher::CreateVEStream(const DetectVideoStream* det) {
    CVEStream* s = NewVEStream(det);
    if (!s) return nullptr;
    if (det) s->detect = *det;
    AttachVEStream(s);
    return s;
}

void CVideoDispatcher::AttachVEStream(CVEStream* s) {
    wrapped = s;
    AddChild(s);
    NotifyStateChange();
}

uint32_t CVideoDispatcher::OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) {
    if (!wrapped) {
        if (!BS::EventAs<CSeqHdr>(ev)) return 1;
        if (!CreateVEStream(nullptr)) return 1;
    }
    return wrapped->OnEvent(ev, ctl);
}

// --- detection ---------------------------------------------------------

void DetectVideoStream::ResetRecord() {
    *this = DetectVideoStream();
}

int DetectVideoStream::Detect(const uint8_t* d, uint32_t len) {
    ResetRecord();
    resume = len > 100 ? len - 100 : 0;
    CVideoParserImpl sc;
    sc.SetData(d, len);
    const uint8_t* h = sc.FindNext();
    while (h) {
        uint32_t off = uint32_t(h - d);
        if (!seqHdr.Parse(h, len - off)) {
            h = sc.FindNext();
            continue;
        }
        const uint32_t seqPos = off;
        const uint8_t* n = sc.FindNext();
        if (!n) return 0;
        uint32_t noff = uint32_t(n - d);
        codedWidth = seqHdr.horizontalSizeValue;
        codedHeight = seqHdr.verticalSizeValue;
        if (seqExt.Parse(n, len - noff)) {
            codedWidth += uint32_t(seqExt.horizontalSizeExtension) << 12;
            codedHeight += uint32_t(seqExt.verticalSizeExtension) << 12;
            n = sc.FindNext();
            if (!n) return 0;
            noff = uint32_t(n - d);
        }
        runPosition = seqPos;
        runLength = noff - seqPos;
        runCopy.assign(d + seqPos, d + noff);
        resume = seqPos;
        bool gopSeen = false;
        // Walk the headers that may sit between the sequence header and the first picture.
        for (;;) {
            uint32_t left = len - noff;
            uint8_t c = n[3];
            CSeqHdr sh;
            CSequenceExt se;
            CGopHdr g;
            if (c == 0xB3 && sh.Parse(n, left)) {
            } else if (c == 0xB5 && se.Parse(n, left)) {
            } else if (c == 0xB8) {
                if (g.Parse(n, left))
                    gopSeen = true;
                else if (!gopSeen)
                    break;
            } else if (c == 0xB2) {
            } else if (c == 0xB5 && left >= 5 && (n[4] >> 4) == 2) {
            } else
                break;
            n = sc.FindNext();
            if (!n) return 0;
            noff = uint32_t(n - d);
        }
        CPictHdr ph;
        if (ph.Parse(n, len - noff) && (ph.codingType == 1 || ph.codingType == 2)) {
            found = 1;
            while (const uint8_t* e = sc.FindNext()) {
                CPictCodingExt pce;
                if (pce.Parse(e, len - uint32_t(e - d))) {
                    topFieldFirst = uint8_t(pce.topFieldFirst);
                    break;
                }
            }
            return 1;
        }
        h = n;  // start over from the header that ended the walk
    }
    return 0;
}

}  // namespace MVideo
