#include "companions/vidova/Config.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vidova {

double frameRateOf(int code) {
    static const double rates[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    return code >= 1 && code <= 8 ? rates[code] : 0;
}

bool levelLimits(int profile, int level, LevelLimits& out) {
    struct Row {
        int profile, level;
        LevelLimits lim{};
    };
    static const Row rows[] = {
        {5, 8, {720, 576, 30, 15e6, 112}},       {4, 10, {352, 288, 30, 4e6, 29}},
        {4, 8, {720, 576, 30, 15e6, 112}},       {4, 6, {1440, 1152, 60, 60e6, 448}},
        {4, 4, {1920, 1152, 60, 80e6, 597}},     {1, 8, {720, 576, 30, 20e6, 150}},
        {1, 6, {1440, 1152, 60, 80e6, 597}},     {1, 4, {1920, 1152, 60, 100e6, 747}},
        {7, 8, {720, 608, 30, 50e6, 576}},       {7, 10, {720, 608, 30, 50e6, 576}},
        {7, 6, {1920, 1088, 60, 300e6, 2880}},   {7, 4, {1920, 1088, 60, 300e6, 2880}},
        {7, 15, {16383, 16383, 60, 1e9, 65535}},
    };
    for (const Row& r : rows)
        if (r.profile == profile && r.level == level) {
            out = r.lim;
            return true;
        }
    return false;
}

namespace {

bool fail(std::string& error, const char* fmt, long a = 0, long b = 0) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    error = buf;
    return false;
}

bool knownVideoType(int t) {
    switch (t) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 8:
        case 9:
        case 10:
        case 11:
        case 13:
        case 18:
        case 19:
        case 20:
        case 21:
        case 22:
        case 23:
        case 25:
        case 32:
        case 33:
        case 34:
        case 35:
        case 36:
        case 37:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool configFromSettings(const VidovaSettings& s, Config& c, std::string& error, bool allowNoSize) {
    const uint32_t* w = s.w;
    c = Config();
    int type = int(w[VIDOVA_W_VIDEO_TYPE]);
    if (!knownVideoType(type)) return fail(error, "Unknown video type %ld.", type);
    c.mpeg1 = type == 0 || type == 1 || type == 13;
    c.width = vidova_get_int(&s, VIDOVA_B_WIDTH);
    c.height = vidova_get_int(&s, VIDOVA_B_HEIGHT);
    bool noSize = c.width == 0 && c.height == 0;
    if (!(noSize && allowNoSize)) {
        if (c.width <= 0 || c.height <= 0 || c.width > 16383 || c.height > 16383)
            return fail(error, "Picture size %ldx%ld is not supported.", c.width, c.height);
        if (c.width % 4096 == 0 || c.height % 4096 == 0)
            return fail(error, "Horizontal or vertical size shall not be a multiple of 4096.");
        if (c.mpeg1 && (c.width > 4095 || c.height > 4095))
            return fail(error, "MPEG-1 pictures are at most 4095x4095, not %ldx%ld.", c.width, c.height);
    }
    int refDistance = int(w[VIDOVA_W_REF_DISTANCE]);
    if (refDistance == 0) refDistance = 1;
    if (refDistance < 1 || refDistance > 8)
        return fail(error, "Reference distance %ld is out of range (B-frames count 0 to 7).", refDistance);
    c.refDistance = refDistance;
    c.frameRateCode = int(w[VIDOVA_W_FRAME_RATE_CODE]);
    c.fps = frameRateOf(c.frameRateCode);
    if (c.fps == 0) return fail(error, "Frame rate code %ld is not supported (1 to 8).", c.frameRateCode);
    c.pulldown = int(w[VIDOVA_W_PULLDOWN]);
    if (c.pulldown < 0 || c.pulldown > 2) return fail(error, "Pulldown mode %ld is not valid.", c.pulldown);
    if (c.pulldown && !c.mpeg1) {
        // Film coded with repeated fields: 23.976 or 24 pictures per second
        // shown at 29.97 or 30.
        if (c.frameRateCode != 1 && c.frameRateCode != 2)
            return fail(error, "Pulldown needs a film frame rate (23.976 or 24), not code %ld.", c.frameRateCode);
    } else {
        c.pulldown = 0;
    }
    c.aspect = int(w[VIDOVA_W_ASPECT]);
    if (c.aspect < 1 || c.aspect > (c.mpeg1 ? 14 : 4))
        return fail(error, "Aspect ratio code %ld is not valid for this stream type.", c.aspect);
    c.gopLength = int(w[VIDOVA_W_GOP_LENGTH]);
    if (c.gopLength < 1 || c.gopLength > 1000)
        return fail(error, "GOP length %ld is out of range (1 to 1000).", c.gopLength);
    c.seqHeaderEveryGop = w[VIDOVA_W_SEQ_HEADER_EVERY_GOP] != 0;
    c.endCode = w[VIDOVA_W_END_CODE] != 0;
    c.chroma = int(w[VIDOVA_W_CHROMA_FORMAT]);
    if (c.chroma != 1 && c.chroma != 2) return fail(error, "Chroma format %ld is not supported (1 or 2).", c.chroma);
    c.intraDcPrecision = int(w[VIDOVA_W_INTRA_DC_PRECISION]);
    if (c.intraDcPrecision > 3) return fail(error, "Intra DC precision %ld is out of range.", c.intraDcPrecision);
    c.qscaleType = w[VIDOVA_W_QSCALE_TYPE_I] ? 1 : 0;
    // A per-type word that is zero leaves the choice to the default word.
    for (int t = 1; t <= 3; t++) {
        c.intraVlc[t] = w[VIDOVA_W_INTRA_VLC_I + t - 1] || w[VIDOVA_W_INTRA_VLC_DEFAULT];
        c.alternateScan[t] = w[VIDOVA_W_ALT_SCAN_I + t - 1] || w[VIDOVA_W_SCAN_DEFAULT];
    }
    c.progressiveSeq = w[VIDOVA_W_PROGRESSIVE_SEQ] != 0;
    if (c.pulldown) c.progressiveSeq = false;
    c.progressiveFrame = c.progressiveSeq || c.pulldown || w[VIDOVA_W_PROGRESSIVE_FRAME] != 0;
    c.topFieldFirst = !c.progressiveFrame && w[VIDOVA_W_TOP_FIELD_FIRST] != 0;
    c.profile = int(w[VIDOVA_W_PROFILE]);
    c.level = int(w[VIDOVA_W_LEVEL]);
    if (c.mpeg1) {
        if (c.chroma != 1) return fail(error, "MPEG-1 supports 4:2:0 chroma only.");
        c.intraDcPrecision = 0;
        c.qscaleType = 0;
        for (int t = 1; t <= 3; t++) c.intraVlc[t] = c.alternateScan[t] = false;
        c.progressiveSeq = c.progressiveFrame = true;
        c.topFieldFirst = false;
        c.constrained = w[VIDOVA_W_CONSTRAINED] != 0;
    } else {
        LevelLimits lim{};
        if (!levelLimits(c.profile, c.level, lim))
            return fail(error, "Profile %ld with level %ld is not supported.", c.profile, c.level);
        if (c.profile == 5 && c.refDistance > 1)
            return fail(error, "The Simple profile has no B pictures: set the B-frames count to 0.");
        if (c.chroma == 2 && c.profile != 7 && c.profile != 1)
            return fail(error, "4:2:2 chroma needs the 4:2:2 or High profile (profile %ld).", c.profile);
        if (c.intraDcPrecision == 3 && c.profile != 1 && c.profile != 7)
            return fail(error, "Intra DC precision of 11 bits needs the High or 4:2:2 profile.");
        if (!noSize && (c.width > lim.maxWidth || c.height > lim.maxHeight))
            return fail(error, "Picture size %ldx%ld exceeds the limits of the profile and level.", c.width, c.height);
        if (c.fps > lim.maxFps + 0.01) return fail(error, "Frame rate exceeds the limits of the level.");
    }
    c.rcMode = int(w[VIDOVA_W_RC_MODE]);
    if (c.rcMode < 0 || c.rcMode > 3) return fail(error, "Rate control mode %ld is not supported.", c.rcMode);
    c.bitrate = vidova_get_double(&s, VIDOVA_B_BITRATE);
    c.maxBitrate = vidova_get_double(&s, VIDOVA_B_MAX_BITRATE);
    c.minBitrate = vidova_get_double(&s, VIDOVA_B_MIN_BITRATE);
    if (!(c.minBitrate > 0) || c.minBitrate > 1e9) c.minBitrate = 0;
    c.sceneDetect = (w[VIDOVA_W_FLAGS] & kFlagsSceneDetect) != 0;
    c.sceneMinGop =
        w[VIDOVA_W_CLOSED_GOP] ? int(std::min<uint32_t>(w[VIDOVA_W_CLOSED_GOP], 1000)) : kDefaultSceneMinGop;
    c.adaptiveQuant = c.rcMode == 2 || (c.rcMode < 2 && (w[VIDOVA_W_FLAGS] & kFlagAdaptiveQuant) != 0);
    uint32_t q = w[VIDOVA_W_QUANTISERS];
    c.qI = int((q >> 8) & 0xFF);
    c.qP = int((q >> 16) & 0xFF);
    c.qB = int((q >> 24) & 0xFF);
    if (c.refDistance == 1) c.qB = c.qP;
    if (c.rcMode >= 2) {
        if (c.qI < 1 || c.qI > 31 || c.qP < 1 || c.qP > 31 || c.qB < 1 || c.qB > 31)
            return fail(error, "Constant quantisers must lie in 1..31 (I %ld, P %ld).", c.qI, c.qP);
        if (!(c.maxBitrate > 0)) c.maxBitrate = c.bitrate > 0 ? c.bitrate : 0;
    } else {
        if (!(c.bitrate >= 16000) || c.bitrate > 1e9)
            return fail(error, "Bitrate %ld bit/s is out of range.",
                        long(c.bitrate > 0 && c.bitrate < 2e9 ? c.bitrate : -1));
        if (c.rcMode == 1 || !(c.maxBitrate >= c.bitrate)) c.maxBitrate = c.bitrate;
    }
    if (!c.mpeg1) {
        LevelLimits lim{};
        levelLimits(c.profile, c.level, lim);
        if (c.bitrate > lim.maxBitrate)
            return fail(error, "Bitrate %ld bit/s exceeds the level's limit of %ld bit/s.", long(c.bitrate),
                        long(lim.maxBitrate));
        // A peak rate above the level's is only lowered: hosts raise it freely.
        if (c.maxBitrate > lim.maxBitrate) c.maxBitrate = lim.maxBitrate;
    } else if (c.maxBitrate > 104856800.0) {
        return fail(error, "Bitrate is too high for MPEG-1.");
    }
    int vbv = int(w[VIDOVA_W_VBV_SIZE]);
    int vbvMax = 1023;
    if (c.mpeg1) {
        vbvMax = 1023;
        if (vbv == 0) vbv = c.constrained ? 20 : (c.maxBitrate > 4e6 ? 224 : 112);
    } else {
        LevelLimits lim{};
        levelLimits(c.profile, c.level, lim);
        vbvMax = lim.maxVbv16k;
        if (vbv == 0) vbv = vbvMax;
    }
    if (vbv < 1 || vbv > vbvMax) return fail(error, "VBV buffer size %ld is out of range (1 to %ld).", vbv, vbvMax);
    c.vbvSize16k = vbv;
    int init = int(w[VIDOVA_W_VBV_INITIAL_PERCENT]);
    c.vbvInitialPercent = init >= 10 && init <= 100 ? init : 90;
    c.displayExt = !c.mpeg1 && w[VIDOVA_W_DISPLAY_EXT] != 0;
    c.videoFormat = int(w[VIDOVA_W_VIDEO_FORMAT]);
    if (c.videoFormat < 0 || c.videoFormat > 5) c.videoFormat = 5;
    c.colourPrimaries = int(w[VIDOVA_W_COLOUR_PRIMARIES]);
    c.transfer = int(w[VIDOVA_W_TRANSFER]);
    c.matrix = int(w[VIDOVA_W_MATRIX]);
    c.displayWidth = int(w[VIDOVA_W_DISPLAY_WIDTH]);
    c.displayHeight = int(w[VIDOVA_W_DISPLAY_HEIGHT]);
    if (c.displayWidth <= 0 || c.displayWidth > 16383) c.displayWidth = c.width;
    if (c.displayHeight <= 0 || c.displayHeight > 16383) c.displayHeight = c.height;
    int range = int(w[VIDOVA_W_SEARCH_RANGE]);
    c.searchRange = range < 0 ? 0 : (range > 64 ? 64 : range);
    c.halfpel = (reinterpret_cast<const uint8_t*>(&s)[VIDOVA_B_SEARCH] & 1) != 0;
    c.calcPsnr = vidova_get_int(&s, VIDOVA_B_CALC_PSNR) != 0;
    c.dropFrame = w[VIDOVA_W_DROP_FRAME] != 0 && (c.frameRateCode == 4 || (c.pulldown && c.frameRateCode == 1));
    c.timecodeStart = int(w[VIDOVA_W_TIMECODE_START]);
    if (c.timecodeStart < 0) c.timecodeStart = 0;
    return true;
}

namespace {

struct TypeDefaults {
    int type;
    bool mpeg1;
    int widthPal, heightPal, widthNtsc, heightNtsc;
    double bitrate, maxBitrate;
    int rcMode;
    int profile, level, chroma;
    int gop;  // 0: 12 PAL / 15 NTSC
    int aspect;
};

const TypeDefaults kTypes[] = {
    {0, true, 352, 288, 352, 240, 1150000, 1150000, 0, 4, 8, 1, 0, 1},
    {1, true, 352, 288, 352, 240, 1150000, 1150000, 1, 4, 8, 1, 0, 8},
    {13, true, 352, 288, 352, 240, 1856000, 1856000, 0, 4, 8, 1, 0, 8},
    {2, false, 720, 576, 720, 480, 6000000, 8000000, 0, 4, 8, 1, 0, 2},
    {3, false, 480, 576, 480, 480, 2500000, 2600000, 0, 4, 8, 1, 0, 2},
    {4, false, 720, 576, 720, 480, 6000000, 9800000, 0, 4, 8, 1, 0, 2},
    {8, false, 720, 576, 720, 480, 6000000, 9000000, 0, 4, 8, 1, 0, 2},
    {9, false, 720, 576, 720, 480, 12000000, 12000000, 1, 4, 8, 1, 0, 2},
    {10, false, 1920, 1080, 1920, 1080, 24000000, 28200000, 0, 4, 4, 1, 0, 3},
    {11, false, 1920, 1080, 1920, 1080, 18000000, 19400000, 0, 4, 4, 1, 0, 3},
    {18, false, 1280, 720, 1280, 720, 19700000, 19700000, 1, 4, 6, 1, 0, 3},
    {19, false, 1440, 1080, 1440, 1080, 25000000, 25000000, 1, 4, 6, 1, 0, 3},
    {20, false, 720, 608, 720, 512, 25000000, 25000000, 1, 7, 8, 2, 1, 2},
    {21, false, 720, 608, 720, 512, 30000000, 30000000, 1, 7, 8, 2, 1, 2},
    {22, false, 720, 608, 720, 512, 40000000, 40000000, 1, 7, 8, 2, 1, 2},
    {23, false, 720, 608, 720, 512, 50000000, 50000000, 1, 7, 8, 2, 1, 2},
    {25, false, 1920, 1080, 1920, 1080, 22050000, 29400000, 0, 4, 4, 1, 0, 3},
    {32, false, 1440, 1080, 1440, 1080, 25000000, 25000000, 1, 4, 6, 1, 0, 3},
    {33, false, 1440, 1080, 1440, 1080, 17500000, 17500000, 0, 4, 6, 1, 0, 3},
    {34, false, 1440, 1080, 1440, 1080, 35000000, 35000000, 0, 4, 6, 1, 0, 3},
    {35, false, 960, 540, 960, 540, 12500000, 12500000, 1, 4, 6, 1, 0, 3},
    {36, false, 960, 540, 960, 540, 8750000, 8750000, 0, 4, 6, 1, 0, 3},
    {37, false, 960, 540, 960, 540, 17500000, 17500000, 0, 4, 6, 1, 0, 3},
};

}  // namespace

void fillDefaults(VidovaSettings& s, int videoType, bool pal) {
    const TypeDefaults* d = &kTypes[3];  // MPEG-2 for unknown types
    for (const TypeDefaults& t : kTypes)
        if (t.type == videoType) d = &t;
    // The picture size belongs to the host once it knows its input.
    int32_t width = vidova_get_int(&s, VIDOVA_B_WIDTH), height = vidova_get_int(&s, VIDOVA_B_HEIGHT);
    uint32_t dispW = s.w[VIDOVA_W_DISPLAY_WIDTH], dispH = s.w[VIDOVA_W_DISPLAY_HEIGHT];
    for (uint32_t& x : s.w) x = 0;
    uint32_t* w = s.w;
    w[VIDOVA_W_VIDEO_TYPE] = uint32_t(d->type == videoType ? videoType : 2);
    w[VIDOVA_W_GOP_LENGTH] = uint32_t(d->gop ? d->gop : (pal ? 12 : 15));
    w[VIDOVA_W_REF_DISTANCE] = 1;
    w[VIDOVA_W_CLOSED_GOP] = 0;
    w[VIDOVA_W_FLAGS] = 0;
    w[VIDOVA_W_ASPECT] = uint32_t(d->aspect);
    w[VIDOVA_W_FRAME_RATE_CODE] = pal ? 3 : 4;
    vidova_set_double(&s, VIDOVA_B_FPS, frameRateOf(pal ? 3 : 4));
    vidova_set_double(&s, VIDOVA_B_BITRATE, d->bitrate);
    vidova_set_double(&s, VIDOVA_B_MAX_BITRATE, d->maxBitrate);
    vidova_set_double(&s, VIDOVA_B_RC_BITRATE, d->bitrate);
    vidova_set_double(&s, VIDOVA_B_MIN_BITRATE, d->rcMode == 1 ? d->bitrate : d->bitrate / 3);
    w[VIDOVA_W_VBV_SIZE] = d->mpeg1 && d->type == 1 ? 20 : 0;
    w[VIDOVA_W_RC_MODE] = uint32_t(d->rcMode);
    w[VIDOVA_W_QUANTISERS] = (2u + 4u * 256u + 6u * 65536u) * 256u;
    w[VIDOVA_W_SEQ_HEADER_EVERY_GOP] = 1;
    w[VIDOVA_W_END_CODE] = 1;
    w[VIDOVA_W_PROFILE] = uint32_t(d->profile);
    w[VIDOVA_W_LEVEL] = uint32_t(d->level);
    w[VIDOVA_W_PROGRESSIVE_SEQ] = 1;
    w[VIDOVA_W_CHROMA_FORMAT] = uint32_t(d->chroma);
    w[VIDOVA_W_SEARCH_RANGE] = 31;
    w[VIDOVA_W_VIDEO_FORMAT] = pal ? 1 : 2;
    bool hd = d->widthPal > 720;
    w[VIDOVA_W_COLOUR_PRIMARIES] = hd ? 1 : (pal ? 5 : 6);
    w[VIDOVA_W_TRANSFER] = hd ? 1 : (pal ? 5 : 6);
    w[VIDOVA_W_MATRIX] = pal ? 5 : 6;  // pictures are converted with BT.601 weights
    w[VIDOVA_W_DISPLAY_EXT] = d->mpeg1 ? 0 : 1;
    w[VIDOVA_W_PROGRESSIVE_FRAME_I] = w[VIDOVA_W_PROGRESSIVE_FRAME_I + 1] = w[VIDOVA_W_PROGRESSIVE_FRAME_I + 2] = 1;
    w[VIDOVA_W_PROGRESSIVE_FRAME] = 1;
    w[VIDOVA_W_VBR_FLAG] = d->rcMode == 1 ? 0 : 1;
    w[VIDOVA_W_VBV_INITIAL_PERCENT] = 90;
    w[VIDOVA_W_PADDING_PERCENT] = 0;
    w[VIDOVA_W_CONSTRAINED] = d->type == 1 ? 1 : 0;
    reinterpret_cast<uint8_t*>(&s)[VIDOVA_B_SEARCH] = 1 | (15 << 1);
    if (width > 0 && height > 0) {
        vidova_set_int(&s, VIDOVA_B_WIDTH, width);
        vidova_set_int(&s, VIDOVA_B_HEIGHT, height);
        w[VIDOVA_W_DISPLAY_WIDTH] = dispW;
        w[VIDOVA_W_DISPLAY_HEIGHT] = dispH;
    } else {
        vidova_set_int(&s, VIDOVA_B_WIDTH, pal ? d->widthPal : d->widthNtsc);
        vidova_set_int(&s, VIDOVA_B_HEIGHT, pal ? d->heightPal : d->heightNtsc);
        w[VIDOVA_W_DISPLAY_WIDTH] = uint32_t(pal ? d->widthPal : d->widthNtsc);
        w[VIDOVA_W_DISPLAY_HEIGHT] = uint32_t(pal ? d->heightPal : d->heightNtsc);
    }
}

}  // namespace vidova
