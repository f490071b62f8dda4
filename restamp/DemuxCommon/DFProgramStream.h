// Program-stream elements of the time marker: they report pack SCRs and PES
// time stamps to the dispatcher and deliver no media data.
#pragma once

#include "restamp/DemuxCommon/MainParserOwner.h"
#include "restamp/parsers/M2PS.h"

class CDFProgramStream : public M2PS::CProgramStream {
public:
    uint32_t OnPackHdr(const M2PS::PackEvent& ev) override;
    M2PS::CPEStream* CreateSubStream(const M2PS::PESEvent& ev, const CStreamKey& key) override;
    AMainParserOwner* owner = nullptr;
};

class CDFPEStreamDetector : public M2PS::CPEStreamDetector {
public:
    CDFPEStreamDetector(const CStreamKey& k, M2PS::CProgramStream* ps, AMainParserOwner* o)
        : M2PS::CPEStreamDetector(k, ps), owner(o) {}
    uint32_t CreateStreams() override { return DetectFinal(true) ? 1 : 0; }

    void OnVideoFound(const MVideo::DetectVideoStream&) override;
    void OnAudioFound(const MAudio::CAudioFormat&) override;
    void OnAACFound(const AAC::DetectAACStream&) override;
    void OnSubstreamAC3Found(const AC3::DetectAC3&, const CStreamKey& subKey) override;
    void OnAC3Found(const AC3::DetectAC3&) override;
    void OnLPCMFound(const LPCM::CLPCMHeader&, const CStreamKey&) override;
    void OnAES3Found(const AES3::CAES3Header&) override;
    void OnH264Found(const MH264::DetectH264&) override;
    void OnMPEG4VideoFound(const DIVX::DetectDiv4Stream&) override;

    AMainParserOwner* owner;

private:
    template <class T>
    void Add(const CStreamKey& k);
};

class CDFPEStream : public M2PS::CPEStream {
public:
    CDFPEStream(const CStreamKey& k, AMainParserOwner* o) : M2PS::CPEStream(k), owner(o) {}
    uint32_t OnPESPacketHdr(const M2PS::PESEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    void Reset() override {
        pendingTime = kNoTime;
        lastPtr = nullptr;
        lastLen = 0;
        M2PS::CPEStream::Reset();
    }
    AMainParserOwner* owner;
    int64_t pendingTime = kNoTime;
};

// The class marks the format that detection found.
class CDFPESVideo : public CDFPEStream {
public:
    using CDFPEStream::CDFPEStream;
};
class CDFPESAudio : public CDFPEStream {
public:
    using CDFPEStream::CDFPEStream;
};
class CDFPESAC3 : public CDFPEStream {
public:
    using CDFPEStream::CDFPEStream;
};
