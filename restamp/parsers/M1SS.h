// MPEG-1 system streams: the MPEG-1 pack and packet headers, read into the
// program-stream records so that the program-stream container, its PES
// elements and detectors parse them unchanged.
#pragma once

#include "restamp/parsers/M2PS.h"

namespace M1SS {

// MPEG-1 pack header: '0010' marker, SCR (33 bits) and mux_rate.
class CPackHdr : public M2PS::CPackHdr {
public:
    bool Parse(const uint8_t* d, uint32_t len) override;
};

// MPEG-1 packet header: up to 16 stuffing bytes, optional STD buffer fields,
// then a PTS, a PTS and DTS, or 0x0F. payloadOffset is the header size.
class CPacketHdr : public M2PS::CPESPacketHdr {
public:
    static constexpr uint32_t kMaxStuffing = 16;
    bool Parse(const uint8_t* d, uint32_t len) override;
};

// A start code is taken only with more than 48 bytes from it.
class CSSParserImpl : public BS::CStartCodeScanner<49> {};

class CSSParserHandlerImpl {
public:
    bool ParseHeader(uint64_t pos, const uint8_t* d, uint32_t avail);
    BS::CBaseEvent* GetEvent() { return last_; }
    void ResetHandler() {}
    CPackHdr pack;
    CPacketHdr packet;
    M2PS::CSysHdr sys;
    M2PS::PackEvent evPack;
    M2PS::PESEvent evPacket;
    M2PS::SysEvent evSys;

private:
    BS::CBaseEvent* last_ = nullptr;
};

}  // namespace M1SS

// MPEG-1 system stream test: an MPEG-1 pack header anywhere.
int DetectSystemStream(const uint8_t* d, uint32_t len);
