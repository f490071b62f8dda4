// VC-1 (SMPTE 421M) headers of advanced-profile streams with start codes:
// the sequence layer (with its simple/main form), the entry point and the
// picture layer as far as the picture type and repeat flags. Parse takes
// the bytes from the start code on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace SPL_VC1 {

constexpr uint8_t kEndOfSequence = 0x0A;
constexpr uint8_t kFrame = 0x0D;
constexpr uint8_t kEntryPoint = 0x0E;
constexpr uint8_t kSequence = 0x0F;

enum Profile : uint32_t { kSimple = 0, kMain = 1, kAdvanced = 3 };
enum PictureType : uint32_t { kPicI = 1, kPicP = 2, kPicB = 3, kPicBI = 4, kPicSkipped = 5 };
enum FrameCoding : uint32_t { kProgressive = 0, kFrameInterlace = 2, kFieldInterlace = 3 };

constexpr int kMaxLeakyBuckets = 32;

struct SequenceLayer {
    uint32_t profile = 0;
    uint32_t level = 0;
    uint32_t colordiff_format = 1;
    uint32_t max_coded_width = 0, max_coded_height = 0;  // pixels
    uint8_t pulldown = 0, interlace = 0, tfcntrflag = 0, finterpflag = 0, psf = 0;
    uint32_t maxbframes = 0;  // simple and main
    uint8_t rangered = 0;     // simple and main
    uint8_t framerate_flag = 0;
    uint32_t frameratenr = 0, frameratedr = 0, framerateexp = 0;
    uint8_t framerateind = 0;
    uint8_t hrd_param_flag = 0;
    uint32_t hrd_num_leaky_buckets = 0;
    uint32_t bit_rate_exponent = 0, buffer_size_exponent = 0;
    uint32_t hrd_rate[kMaxLeakyBuckets] = {};
    uint32_t hrd_buffer[kMaxLeakyBuckets] = {};

    bool Parse(const uint8_t* p, size_t n);
    // 100 ns per frame from the frame-rate fields, 0 when not given.
    int64_t FrameDuration() const;
    // The first leaky bucket: bit/s and bytes.
    uint64_t HrdBitRate() const { return (uint64_t{hrd_rate[0]} + 1) << (bit_rate_exponent + 6); }
    uint64_t HrdBufferBytes() const { return ((uint64_t{hrd_buffer[0]} + 1) << (buffer_size_exponent + 4)) / 8; }
};

struct EntryPoint {
    uint8_t broken_link = 0, closed_entry = 0;
    bool Parse(const uint8_t* p, size_t n, const SequenceLayer& seq);
};

struct PictureLayer {
    uint32_t fcm = kProgressive;
    uint32_t type = kPicI;
    uint32_t tfcntr = 0;
    uint32_t rptfrm = 0;
    uint8_t tff = 0, rff = 0;
    bool Parse(const uint8_t* p, size_t n, const SequenceLayer& seq);
};

}  // namespace SPL_VC1
