// Plain settings records of the multiplexer, its programs and its input
// streams: one field per row of the parameter tables that the filter shell
// exposes, with the same defaults.
#pragma once

#include "codec/scanning/StreamKinds.h"

#include <cstdint>
#include <string>
#include <vector>

namespace muxcore {

enum PsCompatibility : int32_t { kCompatNone = 0, kCompatDvd = 1, kCompatSvcd = 2 };

bool IsVideoType(int32_t t);
bool IsAudioType(int32_t t);
bool IsSubpictureType(int32_t t);
// PMT stream_type code of an input type (0 for types without one).
uint8_t PmtStreamType(int32_t t);
// Look-ahead window in 27 MHz ticks.
int64_t LookAheadWindow(int32_t t);

struct MuxerSettings {
    int32_t output = kTransportStream;    // "Output"
    int32_t requiredBitrate = 0;          // "Required Bitrate, bit/s"
    int32_t pcrIntervalMs = 50;           // "PCR Interval (ms)"
    int32_t compatibility = kCompatNone;  // "Compatibility"
    int32_t transportStreamId = 0;        // "Transport Stream ID"
    int32_t outputBufferSize = 100000;    // "Output Buffer Size(Byte)"
    int32_t createPinsAutomatically = 1;  // "Need To Create Pins Automatically"
    int32_t usePadding = 0;               // "Use Padding"
    int32_t tsPacketsToDeliver = 5;       // "Number of TS Packets to Deliver"
    int32_t timingMode = kCaptureMode;    // "Timing Mode"
    int32_t dmbCompatibility = 0;         // "DMB Compatibility"
    int32_t initialDataWaitMs = 500;      // "Initial data waiting mode"
    int32_t allowMissingInputs = 0;       // "Allow missing Input Streams"
    int32_t ts192 = 0;                    // "192-byte TS packets"
    int32_t writePesLengthForVideo = 0;   // "Write PES length for video"
    int32_t noDtsForVideo = 0;            // "Do not write DTS for video"
};

struct ProgramSettings {
    int32_t programId = 0;          // "Program ID" (PMT PID); 0 = allocate
    int32_t programNumber = 0;      // "Program #"; 0 = allocate
    int32_t pcrPid = 0;             // "PCR PID"
    int32_t userDefinedPcrPid = 0;  // "User Defined PCR PID"
};

struct StreamSettings {
    int32_t streamType = kPinFree;      // "Stream Type"
    int32_t pesPacketSize = 0;          // "PES packet size in Bytes"
    int32_t paddingInSmallPackets = 0;  // "Padding in small packets"
    int32_t putPcr = 1;                 // "Put PCR"
    int32_t inputBufferSize = 4194304;  // "Input Buffer Size(Byte)"
    int32_t initialTimeShiftMs = 0;     // "Initial time shift(ms)"
    int32_t streamId = 0;               // "Stream ID" (PID); 0 = allocate
    int32_t streamPesId = 0;            // "Stream PES ID"; 0 = assign
    int32_t announcedBitrate = 0;       // "Announced Bitrate"
    int32_t correctBitrate = 0;         // "Correct Bitrate"
    int32_t correctEbSize = 0;          // "Correct EB size"
    int32_t frequency = 0;              // "Frequency (Hz)"
    PcmFormat pcm;                      // for "PCM" inputs
    // AudioSpecificConfig of "AAC" inputs that deliver raw frames (no ADTS).
    uint8_t aacConfig[2] = {0, 0};
    bool hasAacConfig = false;
    // ES-info descriptors of the PMT entry ("Pointer to ES info", "ES Info Length").
    std::vector<uint8_t> esInfo;
    std::string name;  // "Stream Name"
};

}  // namespace muxcore
