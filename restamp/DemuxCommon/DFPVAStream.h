// PVA elements of the time marker: the PTS of each video packet header and of
// each audio packet's PES header go to the dispatcher; no data is delivered.
#pragma once

#include "restamp/DemuxCommon/MainParserOwner.h"
#include "restamp/parsers/PVA.h"

class CDFPVAStream : public PVA::CPVAStream {
public:
    PVA::CPVAESStream* CreateSubStream(const PVA::AVEvent& ev, const CStreamKey& key) override;
    AMainParserOwner* owner = nullptr;
};

class CDFPVAStreamDetector : public PVA::CPVAStreamDetector {
public:
    CDFPVAStreamDetector(const CStreamKey& k, PVA::CPVAStream* s, AMainParserOwner* o)
        : PVA::CPVAStreamDetector(k, s), owner(o) {}
    uint32_t CreateStreams() override { return DetectFinal(true) ? 1 : 0; }
    void OnVideoFound(const MVideo::DetectVideoStream&) override;
    void OnAudioFound(const MAudio::CAudioFormat&) override;
    AMainParserOwner* owner;
};

class CDFPVAPayloadStream : public PVA::CPVAESStream {
public:
    CDFPVAPayloadStream(const CStreamKey& k, AMainParserOwner* o) : PVA::CPVAESStream(k), owner(o) {}
    uint32_t OnData(uint64_t pos, const uint8_t* d, uint32_t len, BS::ParserControl* ctl, uint32_t flag) override;
    void Reset() override {
        pendingTime = kNoTime;
        PVA::CPVAESStream::Reset();
    }
    AMainParserOwner* owner;
    int64_t pendingTime = kNoTime;

protected:
    void Report(const uint8_t* d, uint32_t len);
};

class CDFPVAPayloadVideo : public CDFPVAPayloadStream {
public:
    using CDFPVAPayloadStream::CDFPVAPayloadStream;
    uint32_t OnAVHeader(const PVA::AVEvent& ev, BS::ParserControl* ctl) override;
};

class CDFPVAPayloadAudio : public CDFPVAPayloadStream {
public:
    using CDFPVAPayloadStream::CDFPVAPayloadStream;
    uint32_t OnAVHeader(const PVA::AVEvent& ev, BS::ParserControl* ctl) override;
};
