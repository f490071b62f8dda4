// MPEG-4 Part 2 visual headers (ISO/IEC 14496-2 6.2) shared by the
// multiplexer's scanner and the time marker: the video object layer as far
// as the time base, the VBV and the picture size, the group of VOP and the
// start of a video object plane. Parse takes the bytes from the start code on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace MpegCommon {
namespace mpeg4 {

constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVisualObject = 0xB5;
constexpr uint8_t kVop = 0xB6;
constexpr uint8_t kFirstVideoObject = 0x00, kLastVideoObject = 0x1F;
constexpr uint8_t kFirstVol = 0x20, kLastVol = 0x2F;

enum VopType : uint32_t { kVopI = 0, kVopP = 1, kVopB = 2, kVopS = 3 };
enum Shape : uint32_t { kRectangular = 0, kBinary = 1, kBinaryOnly = 2, kGrayscale = 3 };

struct Vol {
    uint8_t random_accessible_vol = 0;
    uint32_t video_object_type_indication = 0;
    uint32_t video_object_layer_verid = 1;
    uint32_t aspect_ratio_info = 0;
    uint32_t par_width = 0, par_height = 0;
    uint8_t low_delay = 0;
    uint8_t vbv_parameters = 0;
    uint32_t bit_rate = 0;         // 400 bit/s
    uint32_t vbv_buffer_size = 0;  // 16384 bits
    uint32_t video_object_layer_shape = kRectangular;
    uint32_t vop_time_increment_resolution = 0;
    unsigned timeIncrementBits = 1;  // bits of vop_time_increment
    uint8_t fixed_vop_rate = 0;
    uint32_t fixed_vop_time_increment = 0;
    uint32_t width = 0, height = 0;
    uint8_t interlaced = 0;

    bool Parse(const uint8_t* p, size_t n);
    // bit/s and bytes from the VBV parameters, 0 when absent.
    uint32_t BitRate() const { return bit_rate * 400u; }
    uint32_t VbvBytes() const { return vbv_buffer_size * 2048u; }
    // A fixed rate in 100 ns per VOP, else 0.
    int64_t FixedDuration() const;
};

struct Gov {
    uint32_t hours = 0, minutes = 0, seconds = 0;
    uint8_t closed_gov = 0, broken_link = 0;
    bool Parse(const uint8_t* p, size_t n);
    uint32_t TotalSeconds() const { return hours * 3600 + minutes * 60 + seconds; }
};

struct Vop {
    uint32_t vop_coding_type = 0;
    uint32_t modulo_time_base = 0;  // seconds (count of its one bits)
    uint32_t vop_time_increment = 0;
    uint8_t vop_coded = 1;
    bool Parse(const uint8_t* p, size_t n, const Vol& vol);
};

// Display times of VOPs in decoding order (14496-2 6.3.5): an I, P or S
// VOP counts its seconds from the previous one of them, a B VOP from the
// one before that. In units of 1 / vop_time_increment_resolution.
class VopClock {
public:
    void Reset() { *this = VopClock(); }
    void OnGov(const Gov& g) { timeBase_ = g.TotalSeconds(); }
    int64_t Time(const Vop& v, const Vol& vol);

private:
    int64_t timeBase_ = 0;
    int64_t lastTimeBase_ = 0;
};

}  // namespace mpeg4
}  // namespace MpegCommon
