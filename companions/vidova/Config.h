// The engine's working configuration, derived from a settings record.
#pragma once
#include "codec/common/engine/vidova.h"

#include <string>

namespace vidova {

struct Config {
    bool mpeg1 = false;
    int width = 0, height = 0;
    int chroma = 1;  // 1 4:2:0, 2 4:2:2
    int frameRateCode = 3;
    double fps = 25.0;
    int aspect = 1;
    int profile = 4, level = 8;
    bool progressiveSeq = true, progressiveFrame = true, topFieldFirst = false;
    int pulldown = 0;  // 1 2:3, 2 3:2; film pictures shown with repeated fields
    int gopLength = 12;
    bool seqHeaderEveryGop = true, endCode = true, displayExt = false;
    int videoFormat = 5, colourPrimaries = 0, transfer = 0, matrix = 0;
    int displayWidth = 0, displayHeight = 0;
    int intraDcPrecision = 0;
    int qscaleType = 0;
    // By picture type (1 I, 2 P, 3 B): intra blocks coded with table one, and
    // coefficients in the alternate scan order. MPEG-2 only.
    bool intraVlc[4] = {false, false, false, false};
    bool alternateScan[4] = {false, false, false, false};
    int rcMode = 0;  // 0 VBR, 1 CBR, 2/3 constant quantiser
    double bitrate = 0, maxBitrate = 0, minBitrate = 0;
    int vbvSize16k = 112;
    int vbvInitialPercent = 90;
    int qI = 2, qP = 4, qB = 6;  // quantiser_scale_code of constant-quantiser modes
    int refDistance = 1;         // B pictures between anchors + 1
    int searchRange = 15;
    bool halfpel = true;
    bool calcPsnr = false;
    bool constrained = false;
    bool dropFrame = false;
    int timecodeStart = 0;
    // Scene change detection (word 10, 0x10 fast, 0x20 refined, 0x800
    // regular): a cut starts a new closed GOP, at least sceneMinGop pictures
    // after the last one started (word 7, the closed-GOP interval; 0 means
    // kDefaultSceneMinGop).
    bool sceneDetect = false;
    int sceneMinGop = 3;
    // Quantiser per macroblock scaled by its activity against the last
    // picture's average: on in the adaptive constant-quantiser mode (2) and
    // where word 10 holds kFlagAdaptiveQuant. It spends bits where the eye
    // sees them rather than where PSNR counts them, so it is not the default.
    bool adaptiveQuant = false;
};

constexpr uint32_t kFlagsSceneDetect = 0x10 | 0x20 | 0x800;
constexpr uint32_t kFlagAdaptiveQuant = 0x1000;
constexpr int kDefaultSceneMinGop = 3;

// Largest luma sizes, sample rates, bit rates and VBV sizes per profile/level.
struct LevelLimits {
    int maxWidth, maxHeight;
    double maxFps;
    double maxBitrate;  // bit/s
    int maxVbv16k;      // units of 16384 bits
};
bool levelLimits(int profile, int level, LevelLimits& out);

double frameRateOf(int code);

// Reads and validates a settings record. With allowNoSize a zero picture size
// is accepted (hosts check settings before they know the size).
bool configFromSettings(const VidovaSettings& s, Config& c, std::string& error, bool allowNoSize);

void fillDefaults(VidovaSettings& s, int videoType, bool pal);

}  // namespace vidova
