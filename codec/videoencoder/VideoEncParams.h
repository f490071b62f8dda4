// The video encoder's 72 parameters in table order (also the order of
// enumeration and saving). Names double as registry value names: keep them
// exactly, spacing and spelling included.
#pragma once

#include <cstdint>

namespace vidcore {

// Laid out like a Windows GUID.
struct GuidBytes {
    uint32_t d1;
    uint16_t d2, d3;
    uint8_t d4[8];
};

struct NamedInt {
    const char* name;
    int32_t value;
};

enum RowKind { kInt, kReal, kText };

struct ParamRow {
    GuidBytes id;
    const char* name;
    RowKind kind;
    bool readOnly;
    bool visible;
    int offset;  // byte offset of the bound field in the settings record
    int32_t defaultValue;
    bool hasRange;
    int32_t min, max;
    const NamedInt* values;  // display order
    int valueCount;
};

enum ParamIndex : int {
    P_SetDefaults,        // "Set default values"
    P_IsRunning,          // "Is running"
    P_EncodedFrames,      // "Encoded frames"
    P_EncodingSpeed,      // "Encoded frames"
    P_VideoType,          // "Video type"
    P_VideoFormat,        // "Video format"
    P_Profile,            // "Profile"
    P_Level,              // "Level"
    P_GopLength,          // "GOP length"
    P_BFrames,            // "B-frames count"
    P_ClosedGop,          // "Closed GOP interval"
    P_AspectRatio,        // "Aspect ratio"
    P_FrameRate,          // "Frame rate"
    P_InputFramerate,     // "Input framerate"
    P_SceneChange,        // "Scene change detection"
    P_Pulldown,           // "Pulldown flag"
    P_Bitrate,            // "Bitrate"
    P_MaxBitrate,         // "Maximum bitrate (for VBR)"
    P_MinBitrate,         // "Minimum bitrate (for VBR)"
    P_BitrateMode,        // "Bitrate mode"
    P_QuantI,             // "Quantization paramer for I-Frames"
    P_QuantP,             // "Quantization paramer for P-Frames"
    P_QuantB,             // "Quantization paramer for B-Frames"
    P_SeqHeaderEveryGop,  // "Write a sequence header every GOP"
    P_SeqEndCode,         // "Write a sequence end code"
    P_SeqDisplayExt,      // "Write a sequence display extension"
    P_PicDisplayExt,      // "Write a picture display extension"
    P_DisplayWidth,       // "Display horizontal size"
    P_DisplayHeight,      // "Display vertical size"
    P_IntraDcPrecision,   // "Intra DC precision"
    P_ChromaFormat,       // "Chroma format"
    P_ProgressiveSeq,     // "Progressive sequence"
    P_ProgressiveFrame,   // "Progressive frame"
    P_TopFieldFirst,      // "Top field first"
    P_RepeatFirstField,   // "Repeat first field"
    P_SearchQuality,      // "Motion search quality"
    P_SearchRange,        // "Motion search range"
    P_Halfpel,            // "Halfpel search"
    P_Deinterlace,        // "Deinterlacing mode"
    P_QscaleType,         // "Quantization scale type"
    P_IntraVlc,           // "Intra VLC"
    P_ScanType,           // "Scanning type"
    P_OutSampleSize,      // "Out sample size"
    P_PadSkipped,         // "Pad skipped frames"
    P_Preview,            // "Preview"
    P_ClosedCaption,      // "ClosedCaption"
    P_TwoPass,            // "Two-pass rate control mode"
    P_SkipMode,           // "Skip mode"
    P_Prefiltering,       // "Prefiltering"
    P_OrigFrameType,      // "Original frame type"
    P_StatsFile,          // "2-pass encoding statistics file"
    P_CalcPsnr,           // "Calculate PSNR"
    P_OrigColorSpace,     // "Original color space"
    P_OverallPsnr,        // "Overall PSNR"
    P_RealBitrate,        // "Real bitrate"
    P_OnlineMode,         // "Online mode"
    P_OfflineMode,        // "Offline mode"
    P_Constrained,        // "constrained parameters flag (MPEG-1 only)"
    P_DropFrame,          // "Use Drop Frame timecode notation in GOP"
    P_Timecode,           // "timecode of first frame"
    P_IgnoreInterval,     // "Ignore frame interval"
    P_VbvSize,            // "VBV buffer size (* 16 kbit)"
    P_MbQuant,            // "macroblock quantization value"
    P_Primaries,          // "source primary chromaticity coordinates"
    P_Transfer,           // "opto-electronic transfer char. (gamma)"
    P_Flags,              // "different flags e.g. FEATURE_AUTO_GOP_PLACEMENT"
    P_Matrix,             // "Eg,Eb,Er / Y,Cb,Cr matrix coefficients"
    P_IntraMatrix,        // "use non-default intra quant. matrices"
    P_InterMatrix,        // "use non-default quant. matrices"
    P_SvcdOffsets,        // "put blank SVCD scan offset blocks in the video stream"
    P_VbvInitial,         // "initial VBV-fullnes in %"
    P_PaddingLimit,       // "Padding limint int %"
    kParamCount
};

extern const ParamRow kParamRows[kParamCount];

// The row's named value for v, or null.
const char* NameOfValue(const ParamRow& row, int32_t v);

}  // namespace vidcore
