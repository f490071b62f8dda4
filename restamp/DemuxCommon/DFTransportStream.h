// Transport-stream elements of the time marker: the PCR of each program and
// the PTS of each elementary PID go to the dispatcher; no media data is
// delivered.
#pragma once

#include "restamp/DemuxCommon/DFProgramStream.h"
#include "restamp/parsers/M2TS.h"

// A PID's PES packets through the time marker's program-stream elements.
using CDFPIDParser = M2TS::CPIDParser<CDFProgramStream>;

class CDFTransportStream : public M2TS::CTransportStream {
public:
    M2TS::CProgramElement* CreatePIDParser(const M2TS::CTransportHdr& h) override;
    uint32_t OnPayloadPacket(const M2TS::TSEvent& ev, bool discontinuity) override;
    AMainParserOwner* owner = nullptr;
};
