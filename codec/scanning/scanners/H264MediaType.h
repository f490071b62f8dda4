// The media type an H.264 input reports once its parameter sets are known
// ("mediatype filled internally"): the format block of an MPEG-2 video info
// record (video info header 2, then the MPEG-2 fields and the sequence
// header), laid out byte for byte as the platform's headers define it, so
// that a filter shell can hand it out unchanged.
#pragma once

#include "codec/common/H264Headers.h"

#include <cstdint>
#include <vector>

namespace h264mt {

// Byte offsets inside the format block.
constexpr size_t kSourceRect = 0;
constexpr size_t kTargetRect = 16;
constexpr size_t kBitRate = 32;
constexpr size_t kAvgTimePerFrame = 40;
constexpr size_t kInterlaceFlags = 48;
constexpr size_t kAspectX = 56;
constexpr size_t kAspectY = 60;
constexpr size_t kBitmapHeader = 72;
constexpr size_t kBitmapWidth = kBitmapHeader + 4;
constexpr size_t kBitmapHeight = kBitmapHeader + 8;
constexpr size_t kBitmapCompression = kBitmapHeader + 16;
constexpr size_t kPelsPerMeterX = kBitmapHeader + 24;
constexpr size_t kPelsPerMeterY = kBitmapHeader + 28;
constexpr size_t kSequenceHeaderSize = 116;
constexpr size_t kProfile = 120;
constexpr size_t kLevel = 124;
constexpr size_t kSequenceHeader = 132;

constexpr uint32_t kH264FourCc = 0x34363248;  // "H264"

// The format block: sizes and the visible rectangle from the sequence set,
// the aspect from its sample aspect ratio, the frame duration (100 ns), and
// both parameter sets (NAL units without start codes) behind start codes.
std::vector<uint8_t> BuildFormatBlock(const MpegCommon::h264::Sps& sps, const std::vector<uint8_t>& spsNal,
                                      const std::vector<uint8_t>& ppsNal, int64_t frameDuration, uint32_t bitRate);

// Display aspect of a w x h picture of sample aspect sarW:sarH as small
// whole numbers.
void DisplayAspect(uint32_t w, uint32_t h, uint32_t sarW, uint32_t sarH, uint32_t& x, uint32_t& y);

}  // namespace h264mt
