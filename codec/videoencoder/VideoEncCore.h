// Platform-free decisions of the MPEG-2 video encoder filter: the settings
// record and its positions, input formats, frame-rate detection, profile and
// level, automatic aspect ratio and video format, and the frame drop and pad
// rules of the streaming path.
#pragma once

#include <cstdint>
#include <cstring>

namespace vidcore {

// ---- the 1,064-byte settings record ----

constexpr int kRecordBytes = 1064;
constexpr int kEngineWords = 220;

// Word positions of the filter's own part and the engine fields it touches.
enum Word : int {
    W_VIDEO_TYPE = 0,
    W_PULLDOWN = 1,
    W_CONSTRAINED = 2,
    W_GOP_LENGTH = 3,
    W_REF_DISTANCE = 4,
    W_DROP_FRAME = 5,
    W_TIMECODE = 6,
    W_CLOSED_GOP = 7,
    W_DEINTERLACE = 8,
    W_IGNORE_INTERVAL = 9,
    W_FLAGS = 10,
    W_HDDVD = 11,
    W_ASPECT_CODE = 12,
    W_FRAME_RATE_CODE = 13,
    W_VBV_SIZE = 21,
    W_RC_MODE = 22,
    W_QUANTISERS = 23,
    W_SEQ_HEADER = 24,
    W_END_CODE = 25,
    W_PROFILE = 26,
    W_LEVEL = 27,
    W_PROGRESSIVE_SEQ = 28,
    W_CHROMA = 29,
    W_VIDEO_FORMAT_CODE = 98,
    W_PRIMARIES = 99,
    W_TRANSFER = 100,
    W_MATRIX = 101,
    W_DISPLAY_W = 102,
    W_DISPLAY_H = 103,
    W_DISPLAY_EXT = 104,
    W_PREFILTER = 105,
    W_INTRA_MATRIX = 107,
    W_INTER_MATRIX = 108,
    W_DC_PRECISION = 109,
    W_TOP_FIELD_FIRST = 110,
    W_PROG_FRAME_I = 111,
    W_QSCALE_DEFAULT = 117,
    W_INTRA_VLC_DEFAULT = 120,
    W_SCAN_DEFAULT = 123,
    W_REPEAT_FIRST_FIELD = 126,
    W_PROGRESSIVE_FRAME = 127,
    W_VBR_FLAG = 136,
    W_VBV_INITIAL = 137,
    W_PADDING = 138,
    W_QSCALE_I = 139,
    W_INTRA_VLC_I = 142,
    W_ALT_SCAN_I = 145,
    W_SET_DEFAULTS = 220,
    W_VIDEO_FORMAT = 221,
    W_FRAME_RATE = 222,
    W_IS_RUNNING = 223,
    W_ENCODED_FRAMES = 224,
    W_SEARCH_QUALITY = 228,
    W_SEARCH_RANGE = 229,
    W_HALFPEL = 230,
    W_QSCALE_TYPE = 231,
    W_INTRA_VLC = 232,
    W_SCAN_TYPE = 233,
    W_SCENE_CHANGE = 234,
    W_OUT_SAMPLE_SIZE = 239,
    W_PAD_SKIPPED = 240,
    W_PREVIEW = 241,
    W_ASPECT = 242,
    W_BITRATE = 246,
    W_MAX_BITRATE = 247,
    W_MIN_BITRATE = 248,
    W_BITRATE_MODE = 249,
    W_QUANT_I = 250,
    W_QUANT_P = 251,
    W_QUANT_B = 252,
    W_ONLINE = 253,
    W_OFFLINE = 254,
    W_ORIG_FRAME_TYPE = 255,
    W_ORIG_COLOR_SPACE = 256,
    W_B_FRAMES = 257,
    W_SKIP_MODE = 260,
    W_TWO_PASS = 261,
    W_STATS_FILE = 262,
    W_CLOSED_CAPTION = 263,
};

// Byte offsets of fields that are not plain words.
enum Byte : int {
    B_FPS = 56,
    B_BITRATE = 64,
    B_MAX_BITRATE = 72,
    B_SEARCH = 812,
    B_SVCD_OFFSETS = 817,
    B_RC_BITRATE = 821,
    B_MIN_BITRATE = 829,
    B_CALC_PSNR = 837,
    B_PIC_DISPLAY_EXT = 857,
    B_WIDTH = 869,
    B_HEIGHT = 873,
    B_ENCODING_SPEED = 904,
    B_INPUT_RATE = 944,
    B_REAL_BITRATE = 976,
    B_OVERALL_PSNR = 1032,
};

// The byte offset of a word position.
constexpr int WordByte(int word) {
    return word * 4;
}

// Every access copies bytes: several fields are not aligned.
struct Record {
    alignas(8) uint8_t bytes[kRecordBytes];

    int32_t Int(int byte) const {
        int32_t v;
        std::memcpy(&v, bytes + byte, 4);
        return v;
    }
    void SetInt(int byte, int32_t v) { std::memcpy(bytes + byte, &v, 4); }
    int32_t W(int word) const { return Int(word * 4); }
    void SetW(int word, int32_t v) { SetInt(word * 4, v); }
    double D(int byte) const {
        double v;
        std::memcpy(&v, bytes + byte, 8);
        return v;
    }
    void SetD(int byte, double v) { std::memcpy(bytes + byte, &v, 8); }
};
static_assert(sizeof(Record) == kRecordBytes, "settings record is 1,064 bytes");

// ---- input formats ----

constexpr uint32_t Fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kBGR3 = Fourcc('B', 'G', 'R', '3');
constexpr uint32_t kBGR4 = Fourcc('B', 'G', 'R', '4');
constexpr uint32_t kYUY2 = Fourcc('Y', 'U', 'Y', '2');
constexpr uint32_t kUYVY = Fourcc('U', 'Y', 'V', 'Y');
constexpr uint32_t kYV12 = Fourcc('Y', 'V', '1', '2');
constexpr uint32_t kYV16 = Fourcc('Y', 'V', '1', '6');
constexpr uint32_t kI420 = Fourcc('I', '4', '2', '0');
constexpr uint32_t kIYUV = Fourcc('I', 'Y', 'U', 'V');

// What the connection type names: the subtype as a colour code (RGB24 and
// RGB32 as "BGR3"/"BGR4", other FOURCC subtypes by their code, 0 for the
// rest) and the bitmap header's compression code.
struct InputDescription {
    uint32_t subtype;
    uint32_t compression;
    int32_t width, height;
    uint16_t bitCount;
    uint32_t sizeImage;
};

// The largest picture side the engine codes, and in MPEG-1 streams.
constexpr int32_t kMaxPictureSide = 16383;
constexpr int32_t kMaxMpeg1PictureSide = 4095;
// The largest side the engine codes for a "Video type".
int32_t MaxPictureSide(int videoType);

// Aliases folded to the code the engine knows.
uint32_t FoldAlias(uint32_t code);
// The colour format handed to the engine, 0 when unknown.
uint32_t InputFourcc(uint32_t subtype, uint32_t compression);
// CheckInputType's size and colour rules (the major type and format block
// are the caller's): sides of 1 to maxSide that are not multiples of
// 4096, RGB with a depth that holds its pixels. 0 accepted; 1 refused size;
// 2 refused colour.
int CheckInput(const InputDescription& in, int chromaFormat, int32_t maxSide = kMaxPictureSide);
bool IsBottomUp(uint32_t fourcc, int32_t biHeight);
bool IsPlanar(uint32_t fourcc);
// Bytes from one line to the next in the source buffer: for planar formats
// the luma line (the chroma lines are half of it), whatever biBitCount says.
int32_t SourceStride(const InputDescription& in);
// Bytes one picture of the colour format needs at that stride and height.
int64_t FrameBytes(uint32_t fourcc, int32_t stride, int32_t height);
// "Original color space" of a colour format.
int ColorSpaceOf(uint32_t fourcc);

// ---- frame rates ----

// The rate of a frame-rate code (1..8); 25 for any other.
double RateOfCode(int code);
struct DetectedRate {
    double inputRate;  // R1: 0 when the rate is unknown or below 23.9
    int code;          // 1..8
};
// From the type's AvgTimePerFrame (100 ns, 0 = none) and |biHeight|.
DetectedRate DetectFrameRate(int64_t avgTimePerFrame, int32_t absHeight, int pulldown);
// R2: the output rate fixed at the start of streaming.
double OutputRate(int engineCode, int pulldown);

// ---- profile and level, aspect ratio, video format ----

struct ProfileLevel {
    int profile, level;
};
ProfileLevel SelectProfileLevel(int profile, int level, int w, int h, double fps, bool progressive);
// X:Y is the picture aspect of the input (1:1 when the type has none).
int AutoAspectRatio(int videoType, int videoFormat, int frameRate, int width, int height, int x, int y);
int AutoVideoFormat(int frameRateCode, int width, int height);
// The larger of the picture size and four bit-rate seconds' share per frame.
int32_t DefaultOutSampleSize(int32_t width, int32_t height, int32_t bitrate, double fps);

// ---- streaming decisions ----

// Matches an input rate R1 to the output rate R2 by dropping frames.
// inFrames counts this frame already.
bool DropFrame(int64_t inFrames, int64_t outFrames, double inputRate, double outputRate);

// Repeated pictures to insert before a frame that starts at `start` when the
// last coded frame ended at `nextStart`.
struct PadPlan {
    int repeats;
    int64_t step;  // 100 ns per repeated picture
};
constexpr int kMaxRepeatsPerFrame = 60;
PadPlan PlanPadding(int64_t start, int64_t nextStart, double inputRate, double engineFps, int64_t inFrames);
// Frames skipped between nextStart and start, as the time record counts them.
int64_t SkippedFrames(int64_t start, int64_t nextStart, double inputRate);

}  // namespace vidcore
