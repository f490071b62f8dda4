// The parameter records of the multiplexer filter and of its input pins,
// and the tables that bind them to parameters.
#pragma once

#include "codec/paramkit/ModuleConfig.h"

namespace muxora {

// Muxer parameters, one field per row, in table order.
struct ConfigElMux {
    long output;
    long requiredBitrate;
    long pcrIntervalMs;
    long compatibility;
    long transportStreamId;
    long outputBufferSize;
    long createPinsAutomatically;
    long usePadding;
    int tsPacketsToDeliver;
    long timingMode;
    long realOutputBitrate;
    long long muxerTime;
    long overhead;
    long long paddingPackets;
    long filterState;
    long dmbCompatibility;
    long initialDataWaitMs;
    long allowMissingInputs;
    long ts192;
    long writePesLengthForVideo;
    long noDtsForVideo;
};

// Stream parameters of one input pin.
struct ConfigStream {
    long streamType;
    long pesPacketSize;
    long paddingInSmallPackets;
    long putPcr;
    int autoCreated;
    long inputBufferSize;
    long initialTimeShiftMs;
    long streamId;
    long streamPesId;
    long streamSubId;
    long announcedBitrate;
    long realBitrate;
    long correctBitrate;
    long correctEbSize;
    long frequency;
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

// Parameters of one program.
struct ConfigProgram {
    long programBitrate;
    long programId;
    long programNumber;
    int pcrPid;
    int userDefinedPcrPid;
};

constexpr long kMuxerSettingsVersion = 16;

// Appends the rows of each table to a configuration bound to the record.
void BuildMuxerTable(ModuleConfig::CModuleConfigImpl<ConfigElMux>& config);
void BuildStreamTable(ModuleConfig::CModuleConfigImpl<ConfigStream>& config);
void BuildProgramTable(ModuleConfig::CModuleConfigImpl<ConfigProgram>& config);

}  // namespace muxora
