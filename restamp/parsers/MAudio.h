// MPEG audio (Layers I-III) and AC-3 elementary streams: frame headers,
// sync scanners, handlers, frame-stream elements, bare-file dispatchers and
// the format detectors.
#pragma once

#include "restamp/parsers/BSParser.h"

namespace MAudio {

class CFrameHdr : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override { valid = 0; }
    bool IsValid() const override { return valid != 0; }
    bool IsSameFormat(const CFrameHdr& o) const {
        return valid && o.valid && copyright == o.copyright && originalCopy == o.originalCopy &&
               samplingFrequency == o.samplingFrequency && protectionBit == o.protectionBit && layer == o.layer &&
               bitrate == o.bitrate;
    }
    uint32_t GetFrameLength() const { return frameLength; }

    uint64_t duration = 0;  // 100-ns units
    uint32_t layer = 0, version = 0, protectionBit = 0, padding = 0, mode = 0;
    uint8_t samplingFrequency = 0, modeExtension = 0, bitrateIndex = 0;
    uint32_t copyright = 0, originalCopy = 0;
    uint32_t frameLength = 0, bitrate = 0, sampleRate = 0, mainDataSize = 0;
    uint32_t valid = 0;
};

inline uint32_t FrameLengthOf(const CFrameHdr& h) {
    return h.frameLength;
}

// Format record of a detected MPEG audio stream.
class CAudioFormat {
public:
    // 1 when seven frames of one format follow each other (junk between
    // frames is passed over).
    int Detect(const uint8_t* d, uint32_t len);
    uint32_t firstPosition = 0;
    CFrameHdr header;
};

// Frame sync 0xFF + three set bits, with at least 49 bytes from it.
class CAudioParserImpl : public BS::CScannerBase {
public:
    const uint8_t* FindNext();
};

template <class Hdr>
class CFrameHandler {
public:
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail) {
        last_ = nullptr;
        if (!hdr.Parse(d, avail)) return false;
        last_ = &ev.Set(&hdr, pos, d, avail, 0);
        return true;
    }
    BS::CBaseEvent* GetEvent() { return last_; }
    void ResetHandler() {}
    Hdr hdr;
    BS::CParserEvent<Hdr> ev;

private:
    BS::CBaseEvent* last_ = nullptr;
};
using CAudioParserHandlerImpl = CFrameHandler<CFrameHdr>;

class CAEStreamType : public BS::CBaseType {
public:
    CAEStreamType() : BS::CBaseType("AudioElementaryStream") {}
    CAudioFormat format;
};

// Element of a stream of frames: state 1 per frame header (with the frame's
// event), state 2 per later run of the same frame (with the payload record).
template <class Hdr, class Type>
class CFrameStream : public BS::CBaseStream<BS::CBaseState, Type> {
    using Base = BS::CBaseStream<BS::CBaseState, Type>;

public:
    uint32_t OnEvent(const BS::CBaseEvent& e, BS::ParserControl* ctl) override {
        this->SetState(0, nullptr);
        const auto* ev = BS::EventAs<Hdr>(e);
        if (!ev || !ctl) return 0;
        const uint32_t frameLen = FrameLengthOf(*ev->header);
        ctl->skip = frameLen;
        if (frameLen > ev->length) {
            remaining = frameLen - ev->length;
            ctl->sink = this;
            ctl->remaining = remaining;
            expected = ev->position + ev->length;
            ctl->skip = ev->length;
        }
        return OnFrameHeader(*ev, ctl);
    }
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t pass) override {
        uint32_t over = 0;
        if (expected > pos) {
            const uint64_t o = expected - pos;
            if (o >= len) return 0;
            over = uint32_t(o);
            pos += over;
            d += over;
            len -= over;
        }
        uint32_t take = remaining < len ? remaining : len;
        remaining -= take;
        if (ctl) {
            ctl->skip = over + take;  // counted from the start of the run
            ctl->remaining = remaining;
            if (!remaining) ctl->sink = nullptr;
        }
        expected = pos + take;
        this->payload.position = pos;
        this->payload.data = d;
        this->payload.length = take;
        this->payload.flag = uint8_t(pass);
        this->SetState(2, &this->payload);
        this->NotifyStateChange();
        return 1;
    }
    void Reset() override {
        remaining = 0;
        expected = 0;
        Base::Reset();
    }

    uint32_t remaining = 0;
    uint64_t expected = 0;

protected:
    virtual uint32_t OnFrameHeader(const BS::CParserEvent<Hdr>& ev, BS::ParserControl*) {
        this->SetState(1, &ev);
        this->NotifyStateChange();
        return 1;
    }
};

class CAEStream : public CFrameStream<CFrameHdr, CAEStreamType> {
protected:
    // The whole frame is to be stepped over, also when the block cuts it.
    uint32_t OnFrameHeader(const BS::CParserEvent<CFrameHdr>& ev, BS::ParserControl* ctl) override {
        ctl->skip = ev.header->frameLength;
        return CFrameStream::OnFrameHeader(ev, ctl);
    }
};

// Root of a bare stream: makes its one elementary stream at the first frame.
template <class Hdr, class ES>
class CFrameDispatcher : public BS::CBaseWrapperStream<BS::CBaseState, BS::CBaseType> {
public:
    uint32_t OnEvent(const BS::CBaseEvent& ev, BS::ParserControl* ctl) override {
        if (!wrapped) {
            if (!BS::EventAs<Hdr>(ev)) return 1;
            ES* s = BS::New<ES>();
            if (!s) return 1;
            wrapped = s;
            AddChild(s);
            NotifyStateChange();
        }
        return wrapped->OnEvent(ev, ctl);
    }
    ES* GetES() { return dynamic_cast<ES*>(wrapped); }
};

class CAudioDispatcher : public CFrameDispatcher<CFrameHdr, CAEStream> {
public:
    CAEStream* GetAEStream() { return GetES(); }
};

}  // namespace MAudio

namespace AC3 {

class CSyncFrame : public BS::AHeader {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
    void Clear() override;
    bool IsValid() const override { return valid != 0; }

    uint32_t byteOrder = 0;  // 1: 0B 77 in stream order
    uint8_t fscod = 0;
    uint16_t crc1 = 0;
    uint8_t frmsizecod = 0;
    uint16_t sampleRate = 0;
    uint16_t frameSize = 0;  // bytes
    uint32_t bitrate = 0;    // kbit/s
    uint32_t duration = 0;   // 100-ns units
    uint8_t bsid = 0, bsmod = 0;
    uint32_t acmod = 0;
    uint8_t channels = 2, cmixlev = 0, surmixlev = 0;
    uint32_t lfeon = 0;
    uint8_t dialnorm = 0;
    uint32_t compre = 0;
    uint8_t compr = 0;
    uint32_t langcode = 0;
    uint8_t langcod = 0;
    uint32_t valid = 0;
};

inline uint32_t FrameLengthOf(const CSyncFrame& h) {
    return h.frameSize;
}

// Detection record: the first sync frame and the frames confirmed.
class DetectAC3 {
public:
    int Detect(const uint8_t* d, uint32_t len);
    CSyncFrame frame;
    uint32_t resume = 0;
    uint32_t matched = 0;
};

class CAC3ParserImpl : public BS::CScannerBase {
public:
    const uint8_t* FindNext();
};
using CAC3ParserHandlerImpl = MAudio::CFrameHandler<CSyncFrame>;

class CAC3StreamType : public BS::CBaseType {
public:
    CAC3StreamType() : BS::CBaseType("AudioElementaryStream") {}
    DetectAC3 detect;
};

class CAC3Stream : public MAudio::CFrameStream<CSyncFrame, CAC3StreamType> {};

class CAC3Dispatcher : public MAudio::CFrameDispatcher<CSyncFrame, CAC3Stream> {};

}  // namespace AC3
