// MPEG-1 system-stream elements of the time marker: PES time stamps go to the
// dispatcher (pack SCRs do not); pack and packet header places are marked for
// the sequence-header insertion, and the video is parsed for its GOP headers.
#pragma once

#include "restamp/DemuxCommon/DFProgramStream.h"

class CDFSystemStream : public CDFProgramStream {
public:
    uint32_t OnPackHdr(const M2PS::PackEvent& ev) override;
    uint32_t OnPESPacketHdr(const M2PS::PESEvent& ev, BS::ParserControl* ctl) override;
    M2PS::CPEStream* CreateSubStream(const M2PS::PESEvent& ev, const CStreamKey& key) override;
};

// MPEG audio and video only.
class CDFEStreamDetector : public CDFPEStreamDetector {
public:
    using CDFPEStreamDetector::CDFPEStreamDetector;
    void OnVideoFound(const MVideo::DetectVideoStream& v) override;
    void OnAACFound(const AAC::DetectAACStream&) override {}
    void OnSubstreamAC3Found(const AC3::DetectAC3&, const CStreamKey&) override {}
    void OnAC3Found(const AC3::DetectAC3&) override {}
    void OnLPCMFound(const LPCM::CLPCMHeader&, const CStreamKey&) override {}
    void OnAES3Found(const AES3::CAES3Header&) override {}
    void OnH264Found(const MH264::DetectH264&) override {}
    void OnMPEG4VideoFound(const DIVX::DetectDiv4Stream&) override {}
};

// Reports like CDFPEStream and runs its payload through the video parser.
class CDFESVideo : public CDFPEStream {
public:
    using CDFPEStream::CDFPEStream;
    uint32_t OnPESPacketHdr(const M2PS::PESEvent& ev, BS::ParserControl* ctl) override;
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    BS::AStreamElement* CreateSubElement(const BS::CBaseEvent*) override;
    void Activate() override;
    void Reset() override {
        CDFPEStream::Reset();
        video.Reset();
    }
    BS::CParserTemplateImplEx<MVideo::CVideoParserImpl, MVideo::CVideoParserHandlerImpl, MVideo::CVEStream> video;
};
