#include "codec/common/MpegTables.h"

namespace MpegCommon {

namespace {

const double kFrameRates[9] = {0.0, 23.976, 24.0, 25.0, 29.97, 30.0, 50.0, 59.94, 60.0};
const Rational kFrameRatesQ[9] = {{0, 0},  {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                                  {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};
const double kPelAspect[15] = {0.0,    1.0,    0.6735, 0.7031, 0.7615, 0.8055, 0.8437, 0.8935,
                               0.9157, 0.9815, 1.0255, 1.0695, 1.0950, 1.1575, 1.2015};
const Rational kDisplayAspect[5] = {{0, 0}, {1, 1}, {4, 3}, {16, 9}, {221, 100}};

// kbit/s, index 0 (free format) and 15 (forbidden) are 0.
const uint16_t kMpeg1Rates[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // Layer III
};
const uint16_t kMpeg2Rates[2][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},  // Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},       // Layers II and III
};
const uint32_t kMpegAudioRates[4][3] = {
    {11025, 12000, 8000},  // MPEG-2.5
    {0, 0, 0},             // reserved
    {22050, 24000, 16000},
    {44100, 48000, 32000},
};

const uint32_t kAdtsRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

// Words per sync frame for 48, 44.1 and 32 kHz; rows by frmsizecod / 2.
const uint16_t kAc3Words[19][3] = {
    {64, 69, 96},     {80, 87, 120},      {96, 104, 144},     {112, 121, 168},    {128, 139, 192},
    {160, 174, 240},  {192, 208, 288},    {224, 243, 336},    {256, 278, 384},    {320, 348, 480},
    {384, 417, 576},  {448, 487, 672},    {512, 557, 768},    {640, 696, 960},    {768, 835, 1152},
    {896, 975, 1344}, {1024, 1114, 1536}, {1152, 1253, 1728}, {1280, 1393, 1920},
};
const uint16_t kAc3Kbps[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
const uint32_t kAc3Rates[3] = {48000, 44100, 32000};
const uint8_t kAc3Channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};

}  // namespace

double FrameRate(unsigned code) {
    return code < 9 ? kFrameRates[code] : 0.0;
}

Rational FrameRateRational(unsigned code) {
    return code < 9 ? kFrameRatesQ[code] : Rational{0, 0};
}

double PelAspectRatio(unsigned code) {
    return code < 15 ? kPelAspect[code] : 0.0;
}

Rational DisplayAspectRatio(unsigned code) {
    return code < 5 ? kDisplayAspect[code] : Rational{0, 0};
}

uint32_t MpegAudioBitRate(unsigned version, unsigned layer, unsigned index) {
    if (index > 15 || layer < 1 || layer > 3) return 0;
    const unsigned row = 3 - layer;  // 0 Layer I, 1 Layer II, 2 Layer III
    if (version == 3) return kMpeg1Rates[row][index] * 1000u;
    if (version == 2 || version == 0) return kMpeg2Rates[row == 0 ? 0 : 1][index] * 1000u;
    return 0;
}

uint32_t MpegAudioSampleRate(unsigned version, unsigned sf) {
    return (version < 4 && sf < 3) ? kMpegAudioRates[version][sf] : 0;
}

ProfileLevel DecodeProfileLevel(unsigned pli) {
    // Profile and level nibbles; the escape bit is the top bit of the profile nibble.
    static const uint8_t kProfiles[16] = {0, 5, 4, 3, 2, 1, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
    static const uint8_t kLevels[16] = {0, 0, 0, 0, 4, 5, 3, 0, 2, 0, 1, 0, 0, 0, 0, 0};
    ProfileLevel r{kProfiles[(pli >> 4) & 15], kLevels[pli & 15]};
    if (r.level == 5) r.profile = 2;
    return r;
}

uint32_t AdtsSampleRate(unsigned index) {
    return index < 12 ? kAdtsRates[index] : 0;
}

uint32_t Ac3SampleRate(unsigned fscod) {
    return fscod < 3 ? kAc3Rates[fscod] : 0;
}

uint32_t Ac3FrameSizeWords(unsigned frmsizecod, unsigned fscod) {
    if (frmsizecod > 37 || fscod > 2) return 0;
    uint32_t words = kAc3Words[frmsizecod / 2][fscod];
    // Odd codes at 44.1 kHz carry one padding word.
    if (fscod == 1 && (frmsizecod & 1)) ++words;
    return words;
}

uint32_t Ac3NominalBitRate(unsigned frmsizecod) {
    return frmsizecod <= 37 ? kAc3Kbps[frmsizecod / 2] * 1000u : 0;
}

unsigned Ac3Channels(unsigned acmod) {
    return acmod < 8 ? kAc3Channels[acmod] : 0;
}

uint32_t Eac3ReducedSampleRate(unsigned fscod2) {
    static const uint32_t rates[3] = {24000, 22050, 16000};
    return fscod2 < 3 ? rates[fscod2] : 0;
}

}  // namespace MpegCommon
