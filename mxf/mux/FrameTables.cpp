#include "mxf/mux/FrameTables.h"

namespace mexora {

namespace {
constexpr uint32_t kSamples[8][kFrameCycle] = {
    {2002, 2002, 2002, 2002, 2002},  // 23.976 Hz
    {2000, 2000, 2000, 2000, 2000},  // 24
    {1920, 1920, 1920, 1920, 1920},  // 25
    {1602, 1601, 1602, 1601, 1602},  // 29.97
    {1600, 1600, 1600, 1600, 1600},  // 30
    {960, 960, 960, 960, 960},       // 50
    {801, 801, 800, 801, 801},       // 59.94
    {800, 800, 800, 800, 800},       // 60
};
}  // namespace

uint32_t SamplesPerFrame(int frameRateCode, int frameInCycle) {
    if (frameRateCode < 1 || frameRateCode > 8 || frameInCycle < 0 || frameInCycle >= kFrameCycle) return 0;
    return kSamples[frameRateCode - 1][frameInCycle];
}

}  // namespace mexora
