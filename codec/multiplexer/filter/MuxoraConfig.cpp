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

namespace {

// Appends rows in order, each bound into the core's record or the filter's.
template <class Settings>
class TableBuilder {
public:
    TableBuilder(ModuleConfig::CModuleConfigImpl<Settings>& config, void* own) : config_(config), own_(own) {}
    TableBuilder& Core(const ParamSpec& row) {
        config_.AddRow(row, &config_.Values());
        return *this;
    }
    TableBuilder& Own(const ParamSpec& row) {
        config_.AddRow(row, own_);
        return *this;
    }

private:
    ModuleConfig::CModuleConfigImpl<Settings>& config_;
    void* own_;
};

}  // namespace

// "I4" rows keep VT_I4 whether the field is the core's int32_t or a long of the filter's.
#define M(field) offsetof(muxcore::MuxerSettings, field)
#define R(field) offsetof(MuxerRows, field)
void BuildMuxerTable(ModuleConfig::CModuleConfigImpl<muxcore::MuxerSettings>& config, MuxerRows* own) {
    const ParamKind L = ParamKind::I4;
    const ParamKind C = ParamKind::I4InInt32;
    TableBuilder<muxcore::MuxerSettings>(config, own)
        .Core(Named(kOutput, "Output", C, 2, kOutputs, false, true, M(output)))
        .Core(Ranged(kRequiredBitrate, "Required Bitrate, bit/s", C, 0, 0, 100000000, true, M(requiredBitrate)))
        .Core(Ranged(kPcrInterval, "PCR Interval (ms)", C, 50, 10, 500, true, M(pcrIntervalMs)))
        .Core(Named(kCompatibility, "Compatibility", C, 0, kCompat, false, false, M(compatibility)))
        .Core(Ranged(kTransportStreamId, "Transport Stream ID", C, 0, -1, 65535, true, M(transportStreamId)))
        .Core(
            Ranged(kOutputBufferSize, "Output Buffer Size(Byte)", C, 100000, 2047, 512001, false, M(outputBufferSize)))
        .Core(Named(kCreatePins, "Need To Create Pins Automatically", C, 1, kYesNo, false, false,
                    M(createPinsAutomatically)))
        .Core(Named(kUsePadding, "Use Padding", C, 0, kYesNo, false, true, M(usePadding)))
        .Core(Ranged(kTsPacketsToDeliver, "Number of TS Packets to Deliver", ParamKind::Int, 5, 1, 100, true,
                     M(tsPacketsToDeliver)))
        .Core(Named(kTimingMode, "Timing Mode", C, 0, kTiming, false, true, M(timingMode)))
        .Own(Plain(kRealOutputBitrate, "Real Output Bitrate", L, 0, true, true, R(realOutputBitrate)))
        .Own(Plain(kMuxerTime, "Muxer time", ParamKind::I8, 0, true, true, R(muxerTime)))
        .Own(Plain(kOverhead, "Overhead %", L, 0, true, true, R(overhead)))
        .Own(Plain(kPaddingPackets, "Padding, packets", ParamKind::I8, 0, true, true, R(paddingPackets)))
        .Own(Plain(kFilterState, "Filter State", L, 0, false, false, R(filterState)))
        .Core(Named(kDmbCompatibility, "DMB Compatibility", C, 0, kDmb, false, false, M(dmbCompatibility)))
        .Core(Ranged(kInitialDataWait, "Initial data waiting mode", C, 500, 0, 1000, false, M(initialDataWaitMs)))
        .Core(
            Named(kAllowMissingInputs, "Allow missing Input Streams", C, 0, kYesNo, false, true, M(allowMissingInputs)))
        .Core(Named(kTs192, "192-byte TS packets", C, 0, kYesNo, false, true, M(ts192)))
        .Core(Named(kPesLengthForVideo, "Write PES length for video", C, 0, kYesNo, false, true,
                    M(writePesLengthForVideo)))
        .Core(Named(kNoDtsForVideo, "Do not write DTS for video", C, 0, kYesNo, false, true, M(noDtsForVideo)));
}
#undef R
#undef M

#define S(field) offsetof(muxcore::StreamSettings, field)
#define R(field) offsetof(PinRows, field)
void BuildStreamTable(ModuleConfig::CModuleConfigImpl<muxcore::StreamSettings>& config, PinRows* own) {
    const ParamKind L = ParamKind::I4;
    const ParamKind C = ParamKind::I4InInt32;
    TableBuilder<muxcore::StreamSettings>(config, own)
        .Core(Named(kStreamType, "Stream Type", C, 0, kPinTypes, true, true, S(streamType)))
        .Core(Ranged(kPesPacketSize, "PES packet size in Bytes", C, 0, 0, 65535, true, S(pesPacketSize)))
        .Core(Named(kPaddingSmall, "Padding in small packets", C, 0, kYesNo, false, false, S(paddingInSmallPackets)))
        .Core(Named(kPutPcr, "Put PCR", C, 1, kYesNo, false, false, S(putPcr)))
        .Own(Plain(kAutoCreated, "Auto created", ParamKind::Int, 0, false, false, R(autoCreated)))
        .Core(
            Ranged(kInputBufferSize, "Input Buffer Size(Byte)", C, 4194304, 100000, 45000000, true, S(inputBufferSize)))
        .Core(Plain(kInitialTimeShift, "Initial time shift(ms)", C, 0, false, true, S(initialTimeShiftMs)))
        .Core(Plain(kStreamId, "Stream ID", C, 0, false, true, S(streamId)))
        .Core(Ranged(kStreamPesId, "Stream PES ID", C, 0, 0, 255, true, S(streamPesId)))
        .Own(Plain(kStreamSubId, "Stream Sub ID", L, 0, true, false, R(streamSubId)))
        .Core(Plain(kAnnouncedBitrate, "Announced Bitrate", C, 0, true, true, S(announcedBitrate)))
        .Own(Plain(kRealBitrate, "Real Bitrate", L, 0, true, true, R(realBitrate)))
        .Core(Plain(kCorrectBitrate, "Correct Bitrate", C, 0, false, true, S(correctBitrate)))
        .Core(Plain(kCorrectEbSize, "Correct EB size", C, 0, false, true, S(correctEbSize)))
        .Core(Plain(kFrequency, "Frequency (Hz)", C, 0, true, true, S(frequency)))
        .Own(Named(kAnnouncedFrameRate, "Announced frame rate", L, 0, kFrameRates, true, true, R(announcedFrameRate)))
        .Own(Plain(kCurrentPinPts, "Current Pin PTS", ParamKind::I8, 0, true, true, R(currentPinPts)))
        .Own(Plain(kEsInfoLength, "ES Info Length", L, 0, false, false, R(esInfoLength)))
        .Own(Plain(kEsInfoPointer, "Pointer to ES info", ParamKind::Ptr, 0, false, false, R(esInfo)))
        .Own(Plain(kMediaTypeInternal, "mediatype filled internally", ParamKind::Ptr, 0, true, false,
                   R(mediaTypeInternal)))
        .Own(Plain(kEndedFlag, "", L, 0, false, false, R(endedRow)))
        .Own(ParamSpec{&kStreamName, "Stream Name", ParamKind::Str, true, false, R(streamName), 0, 0.0, L"Free Pin",
                       false, 0, 0, 0, nullptr, 0})
        .Own(Plain(kIsConnected, "Is Connected", L, 0, true, false, R(isConnected)))
        .Own(Plain(kChangingType, "Changing Type", L, 0, false, false, R(changingType)))
        .Own(Plain(kStreamNumber, "Stream Number", ParamKind::Int, -1, true, false, R(streamNumber)));
}
#undef R
#undef S

#define P(field) offsetof(muxcore::ProgramSettings, field)
void BuildProgramTable(ModuleConfig::CModuleConfigImpl<muxcore::ProgramSettings>& config, ProgramRows* own) {
    const ParamKind C = ParamKind::I4InInt32;
    TableBuilder<muxcore::ProgramSettings>(config, own)
        .Own(Plain(kProgramBitrate, "Program Bitrate", ParamKind::I4, 0, true, false,
                   offsetof(ProgramRows, programBitrate)))
        .Core(Ranged(kProgramId, "Program ID", C, 0, 0, 8191, true, P(programId)))
        .Core(Plain(kProgramNumber, "Program #", C, 0, false, true, P(programNumber)))
        .Core(Plain(kPcrPid, "PCR PID", ParamKind::Int, 0, false, true, P(pcrPid)))
        .Core(Plain(kUserPcrPid, "User Defined PCR PID", ParamKind::Int, 0, false, true, P(userDefinedPcrPid)));
}
#undef P

}  // namespace muxora
