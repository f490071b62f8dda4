#include "codec/common/Mpeg4VideoHeaders.h"

#include "codec/common/BitReader.h"

namespace MpegCommon {
namespace mpeg4 {

namespace {

constexpr unsigned kExtendedPar = 15;
constexpr size_t kStartCodeBytes = 4;
constexpr unsigned kNoResolutionBits = 10;  // what a resolution of 0 is read with

bool StartCode(const uint8_t* p, size_t n, uint8_t lo, uint8_t hi) {
    return p && n > kStartCodeBytes && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= lo && p[3] <= hi;
}

// Bits that hold resolution - 1, at least one.
unsigned IncrementBits(uint32_t resolution) {
    if (resolution == 0) return kNoResolutionBits;
    unsigned bits = 1;
    while (bits < 16 && ((resolution - 1) >> bits) != 0) ++bits;
    return bits;
}

}  // namespace

bool Vol::Parse(const uint8_t* p, size_t n) {
    if (!StartCode(p, n, kFirstVol, kLastVol)) return false;
    *this = Vol();
    BitReader r;
    r.Attach(p + kStartCodeBytes, n - kStartCodeBytes);
    random_accessible_vol = static_cast<uint8_t>(r.ReadBit());
    video_object_type_indication = r.Read(8);
    if (r.ReadBit()) {  // is_object_layer_identifier
        video_object_layer_verid = r.Read(4);
        r.Skip(3);
    }
    aspect_ratio_info = r.Read(4);
    if (aspect_ratio_info == kExtendedPar) {
        par_width = r.Read(8);
        par_height = r.Read(8);
    }
    if (r.ReadBit()) {  // vol_control_parameters
        r.Skip(2);      // chroma_format
        low_delay = static_cast<uint8_t>(r.ReadBit());
        vbv_parameters = static_cast<uint8_t>(r.ReadBit());
        if (vbv_parameters) {
            const uint32_t rateHigh = r.Read(15);
            if (!r.ReadBit()) return false;
            const uint32_t rateLow = r.Read(15);
            if (!r.ReadBit()) return false;
            const uint32_t sizeHigh = r.Read(15);
            if (!r.ReadBit()) return false;
            const uint32_t sizeLow = r.Read(3);
            r.Skip(11);  // vbv_occupancy, first half
            if (!r.ReadBit()) return false;
            r.Skip(15);
            if (!r.ReadBit()) return false;
            bit_rate = rateHigh << 15 | rateLow;
            vbv_buffer_size = sizeHigh << 3 | sizeLow;
        }
    }
    video_object_layer_shape = r.Read(2);
    if (video_object_layer_shape == kGrayscale && video_object_layer_verid != 1) r.Skip(4);
    if (!r.ReadBit()) return false;
    vop_time_increment_resolution = r.Read(16);
    if (!r.ReadBit()) return false;
    timeIncrementBits = IncrementBits(vop_time_increment_resolution);
    fixed_vop_rate = static_cast<uint8_t>(r.ReadBit());
    if (fixed_vop_rate) fixed_vop_time_increment = r.Read(timeIncrementBits);
    if (video_object_layer_shape == kRectangular) {
        if (!r.ReadBit()) return false;
        width = r.Read(13);
        if (!r.ReadBit()) return false;
        height = r.Read(13);
        if (!r.ReadBit()) return false;
    }
    if (video_object_layer_shape != kBinaryOnly) interlaced = static_cast<uint8_t>(r.ReadBit());
    return !r.Overrun() && vop_time_increment_resolution > 0;
}

int64_t Vol::FixedDuration() const {
    if (!fixed_vop_rate || vop_time_increment_resolution == 0 || fixed_vop_time_increment == 0) return 0;
    return int64_t{10000000} * fixed_vop_time_increment / vop_time_increment_resolution;
}

bool Gov::Parse(const uint8_t* p, size_t n) {
    if (!StartCode(p, n, kGroupOfVop, kGroupOfVop)) return false;
    BitReader r;
    r.Attach(p + kStartCodeBytes, n - kStartCodeBytes);
    hours = r.Read(5);
    minutes = r.Read(6);
    if (!r.ReadBit()) return false;
    seconds = r.Read(6);
    closed_gov = static_cast<uint8_t>(r.ReadBit());
    broken_link = static_cast<uint8_t>(r.ReadBit());
    return !r.Overrun();
}

bool Vop::Parse(const uint8_t* p, size_t n, const Vol& vol) {
    if (!StartCode(p, n, kVop, kVop) || vol.vop_time_increment_resolution == 0) return false;
    BitReader r;
    r.Attach(p + kStartCodeBytes, n - kStartCodeBytes);
    vop_coding_type = r.Read(2);
    modulo_time_base = 0;
    while (r.ReadBit() && !r.Overrun()) ++modulo_time_base;
    if (!r.ReadBit()) return false;
    vop_time_increment = r.Read(vol.timeIncrementBits);
    if (!r.ReadBit()) return false;
    vop_coded = static_cast<uint8_t>(r.ReadBit());
    return !r.Overrun();
}

int64_t VopClock::Time(const Vop& v, const Vol& vol) {
    int64_t seconds;
    if (v.vop_coding_type == kVopB) {
        seconds = lastTimeBase_ + v.modulo_time_base;
    } else {
        lastTimeBase_ = timeBase_;
        timeBase_ += v.modulo_time_base;
        seconds = timeBase_;
    }
    return seconds * vol.vop_time_increment_resolution + v.vop_time_increment;
}

}  // namespace mpeg4
}  // namespace MpegCommon
