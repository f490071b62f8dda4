// The parameter records of the multiplexer filter and of its input pins,
// and the tables that bind them to parameters.
#pragma once

#include "codec/multiplexer/MuxSettings.h"
#include "codec/paramkit/ModuleConfig.h"

namespace muxora {

// The parameter tables bind the core's configured settings (MuxerSettings,
// ProgramSettings, StreamSettings) and, for the rows the core has no field
// for, these records of the filter's own: read-outs, the state row and what
// a pin tells about its connection.

// Muxer rows that are not settings of the core.
struct MuxerRows {
    long realOutputBitrate;
    long long muxerTime;
    long overhead;
    long long paddingPackets;
    long filterState;
};

// Input pin rows that are not settings of the core.
struct PinRows {
    int autoCreated;
    long streamSubId;
    long realBitrate;
    long announcedFrameRate;
    long long currentPinPts;
    long esInfoLength;
    unsigned char* esInfo;
    unsigned char* mediaTypeInternal;
    long endedRow;
    BSTR streamName;
    long isConnected;
    long changingType;
    int streamNumber;
};

// Program rows that are not settings of the core.
struct ProgramRows {
    long programBitrate;
};

constexpr long kMuxerSettingsVersion = 16;

// Appends the rows of each table, in table order, to a configuration bound
// to the core's record; the other rows go into the filter's own record.
void BuildMuxerTable(ModuleConfig::CModuleConfigImpl<muxcore::MuxerSettings>& config, MuxerRows* own);
void BuildStreamTable(ModuleConfig::CModuleConfigImpl<muxcore::StreamSettings>& config, PinRows* own);
void BuildProgramTable(ModuleConfig::CModuleConfigImpl<muxcore::ProgramSettings>& config, ProgramRows* own);

}  // namespace muxora
