#include "codec/multiplexer/filter/MuxoraConfig.h"

#include "codec/multiplexer/filter/MuxoraIds.h"

#include <cstddef>
#include <vector>

using ModuleConfig::NamedValue;
using ModuleConfig::ParamKind;
using ModuleConfig::ParamSpec;

namespace muxora {
namespace {

const NamedValue kYesNo[] = {{"Yes", 1}, {"No", 0}};
const NamedValue kOutputs[] = {{"Transport Stream", 2}, {"Program Stream", 1}};
const NamedValue kCompat[] = {{"None", 0}, {"DVD", 1}, {"SVCD", 2}};
const NamedValue kTiming[] = {{"Capture Mode", 0}, {"Reconstruction Mode", 1}};
const NamedValue kDmb[] = {{"None", 0}, {"DMB", 1}};
const NamedValue kFrameRates[] = {{"Unknown", 0}, {"23.97", 1}, {"24", 2},    {"25", 3}, {"29.97", 4},
                                  {"30", 5},      {"50", 6},    {"59.94", 7}, {"60", 8}};
const NamedValue kPinTypes[] = {{"H264 Video", 10},
                                {"H264 VideoSoft", 12},
                                {"MPEG-4", 14},
                                {"MPEG-4 v5", 6},
                                {"MPEG-4 v4", 5},
                                {"MPEG-2 Video", 1},
                                {"MPEG-2 Audio", 2},
                                {"MPEG-1 Video", 8},
                                {"MPEG-1 Audio", 7},
                                {"AC3", 3},
                                {"AAC", 11},
                                {"PCM", 13},
                                {"MPEG-2 Program", 9},
                                {"DVD Subtitles", 15},
                                {"PES DVD Subtitles", 32},
                                {"Free", 0},
                                {"Private Data", 55},
                                {"VC-1", 17},
                                {"IG PES", 18},
                                {"PES MPEG Audio", 20},
                                {"PCR Only", 19}};

ParamSpec Plain(const GUID& id, const char* name, ParamKind kind, long long def, bool ro, bool vis, size_t offset) {
    return ParamSpec{&id, name, kind, ro, vis, offset, def, 0.0, nullptr, false, 0, 0, 0, nullptr, 0};
}

ParamSpec Ranged(const GUID& id, const char* name, ParamKind kind, long long def, long long min, long long max,
                 bool vis, size_t offset) {
    return ParamSpec{&id, name, kind, false, vis, offset, def, 0.0, nullptr, true, min, max, 1, nullptr, 0};
}

template <size_t N>
ParamSpec Named(const GUID& id, const char* name, ParamKind kind, long long def, const NamedValue (&values)[N], bool ro,
                bool vis, size_t offset) {
    return ParamSpec{&id, name, kind, ro, vis, offset, def, 0.0, nullptr, false, 0, 0, 0, values, N};
}

}  // namespace

#define M(field) offsetof(ConfigElMux, field)
void BuildMuxerTable(ModuleConfig::CModuleConfigImpl<ConfigElMux>& config) {
    const ParamKind L = ParamKind::I4;
    const std::vector<ParamSpec> rows = {
        Named(kOutput, "Output", L, 2, kOutputs, false, true, M(output)),
        Ranged(kRequiredBitrate, "Required Bitrate, bit/s", L, 0, 0, 100000000, true, M(requiredBitrate)),
        Ranged(kPcrInterval, "PCR Interval (ms)", L, 50, 10, 500, true, M(pcrIntervalMs)),
        Named(kCompatibility, "Compatibility", L, 0, kCompat, false, false, M(compatibility)),
        Ranged(kTransportStreamId, "Transport Stream ID", L, 0, -1, 65535, true, M(transportStreamId)),
        Ranged(kOutputBufferSize, "Output Buffer Size(Byte)", L, 100000, 2047, 512001, false, M(outputBufferSize)),
        Named(kCreatePins, "Need To Create Pins Automatically", L, 1, kYesNo, false, false, M(createPinsAutomatically)),
        Named(kUsePadding, "Use Padding", L, 0, kYesNo, false, true, M(usePadding)),
        Ranged(kTsPacketsToDeliver, "Number of TS Packets to Deliver", ParamKind::Int, 5, 1, 100, true,
               M(tsPacketsToDeliver)),
        Named(kTimingMode, "Timing Mode", L, 0, kTiming, false, true, M(timingMode)),
        Plain(kRealOutputBitrate, "Real Output Bitrate", L, 0, true, true, M(realOutputBitrate)),
        Plain(kMuxerTime, "Muxer time", ParamKind::I8, 0, true, true, M(muxerTime)),
        Plain(kOverhead, "Overhead %", L, 0, true, true, M(overhead)),
        Plain(kPaddingPackets, "Padding, packets", ParamKind::I8, 0, true, true, M(paddingPackets)),
        Plain(kFilterState, "Filter State", L, 0, false, false, M(filterState)),
        Named(kDmbCompatibility, "DMB Compatibility", L, 0, kDmb, false, false, M(dmbCompatibility)),
        Ranged(kInitialDataWait, "Initial data waiting mode", L, 500, 0, 1000, false, M(initialDataWaitMs)),
        Named(kAllowMissingInputs, "Allow missing Input Streams", L, 0, kYesNo, false, true, M(allowMissingInputs)),
        Named(kTs192, "192-byte TS packets", L, 0, kYesNo, false, true, M(ts192)),
        Named(kPesLengthForVideo, "Write PES length for video", L, 0, kYesNo, false, true, M(writePesLengthForVideo)),
        Named(kNoDtsForVideo, "Do not write DTS for video", L, 0, kYesNo, false, true, M(noDtsForVideo)),
    };
    config.BuildTable(rows.data(), rows.size());
}
#undef M

#define S(field) offsetof(ConfigStream, field)
void BuildStreamTable(ModuleConfig::CModuleConfigImpl<ConfigStream>& config) {
    const ParamKind L = ParamKind::I4;
    std::vector<ParamSpec> rows = {
        Named(kStreamType, "Stream Type", L, 0, kPinTypes, true, true, S(streamType)),
        Ranged(kPesPacketSize, "PES packet size in Bytes", L, 0, 0, 65535, true, S(pesPacketSize)),
        Named(kPaddingSmall, "Padding in small packets", L, 0, kYesNo, false, false, S(paddingInSmallPackets)),
        Named(kPutPcr, "Put PCR", L, 1, kYesNo, false, false, S(putPcr)),
        Plain(kAutoCreated, "Auto created", ParamKind::Int, 0, false, false, S(autoCreated)),
        Ranged(kInputBufferSize, "Input Buffer Size(Byte)", L, 4194304, 100000, 45000000, true, S(inputBufferSize)),
        Plain(kInitialTimeShift, "Initial time shift(ms)", L, 0, false, true, S(initialTimeShiftMs)),
        Plain(kStreamId, "Stream ID", L, 0, false, true, S(streamId)),
        Ranged(kStreamPesId, "Stream PES ID", L, 0, 0, 255, true, S(streamPesId)),
        Plain(kStreamSubId, "Stream Sub ID", L, 0, true, false, S(streamSubId)),
        Plain(kAnnouncedBitrate, "Announced Bitrate", L, 0, true, true, S(announcedBitrate)),
        Plain(kRealBitrate, "Real Bitrate", L, 0, true, true, S(realBitrate)),
        Plain(kCorrectBitrate, "Correct Bitrate", L, 0, false, true, S(correctBitrate)),
        Plain(kCorrectEbSize, "Correct EB size", L, 0, false, true, S(correctEbSize)),
        Plain(kFrequency, "Frequency (Hz)", L, 0, true, true, S(frequency)),
        Named(kAnnouncedFrameRate, "Announced frame rate", L, 0, kFrameRates, true, true, S(announcedFrameRate)),
        Plain(kCurrentPinPts, "Current Pin PTS", ParamKind::I8, 0, true, true, S(currentPinPts)),
        Plain(kEsInfoLength, "ES Info Length", L, 0, false, false, S(esInfoLength)),
        Plain(kEsInfoPointer, "Pointer to ES info", ParamKind::Ptr, 0, false, false, S(esInfo)),
        Plain(kMediaTypeInternal, "mediatype filled internally", ParamKind::Ptr, 0, true, false, S(mediaTypeInternal)),
        Plain(kEndedFlag, "", L, 0, false, false, S(endedRow)),
        ParamSpec{&kStreamName, "Stream Name", ParamKind::Str, true, false, S(streamName), 0, 0.0, L"Free Pin", false,
                  0, 0, 0, nullptr, 0},
        Plain(kIsConnected, "Is Connected", L, 0, true, false, S(isConnected)),
        Plain(kChangingType, "Changing Type", L, 0, false, false, S(changingType)),
        Plain(kStreamNumber, "Stream Number", ParamKind::Int, -1, true, false, S(streamNumber)),
    };
    config.BuildTable(rows.data(), rows.size());
}
#undef S

#define P(field) offsetof(ConfigProgram, field)
void BuildProgramTable(ModuleConfig::CModuleConfigImpl<ConfigProgram>& config) {
    const std::vector<ParamSpec> rows = {
        Plain(kProgramBitrate, "Program Bitrate", ParamKind::I4, 0, true, false, P(programBitrate)),
        Ranged(kProgramId, "Program ID", ParamKind::I4, 0, 0, 8191, true, P(programId)),
        Plain(kProgramNumber, "Program #", ParamKind::I4, 0, false, true, P(programNumber)),
        Plain(kPcrPid, "PCR PID", ParamKind::Int, 0, false, true, P(pcrPid)),
        Plain(kUserPcrPid, "User Defined PCR PID", ParamKind::Int, 0, false, true, P(userDefinedPcrPid)),
    };
    config.BuildTable(rows.data(), rows.size());
}
#undef P

}  // namespace muxora
