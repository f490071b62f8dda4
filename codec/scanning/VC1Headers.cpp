#include "codec/scanning/VC1Headers.h"

#include "codec/common/BitReader.h"

namespace SPL_VC1 {

namespace {

constexpr size_t kStartCodeBytes = 4;
constexpr uint32_t kMaxAdvancedLevel = 4;
constexpr uint32_t kColorDiff420 = 1;
constexpr uint32_t kExplicitAspect = 15;

bool Open(MpegCommon::BitReader& r, const uint8_t* p, size_t n, uint8_t code) {
    if (!p || n <= kStartCodeBytes || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != code) return false;
    r.Attach(p + kStartCodeBytes, n - kStartCodeBytes);
    return true;
}

// SMPTE 421M Table 32 and 33 (FRAMERATENR 1..7, FRAMERATEDR 1..2).
uint32_t FrameRateNumerator(uint32_t nr) {
    static const uint32_t kRates[8] = {0, 24, 25, 30, 50, 60, 48, 72};
    return nr < 8 ? kRates[nr] : 0;
}

}  // namespace

bool SequenceLayer::Parse(const uint8_t* p, size_t n) {
    MpegCommon::BitReader r;
    if (!Open(r, p, n, kSequence)) return false;
    *this = SequenceLayer();
    profile = r.Read(2);
    if (profile == 2) return false;  // reserved
    if (profile != kAdvanced) {
        r.Skip(2 + 3 + 5 + 1 + 1 + 1 + 1 + 1 + 1 + 2 + 1 + 1 + 1 + 1);
        rangered = static_cast<uint8_t>(r.ReadBit());
        maxbframes = r.Read(3);
        r.Skip(2);
        finterpflag = static_cast<uint8_t>(r.ReadBit());
        return !r.Overrun();
    }
    level = r.Read(3);
    colordiff_format = r.Read(2);
    if (level > kMaxAdvancedLevel || colordiff_format != kColorDiff420) return false;
    r.Skip(3 + 5 + 1);  // FRMRTQ_POSTPROC, BITRTQ_POSTPROC, POSTPROCFLAG
    max_coded_width = (r.Read(12) + 1) * 2;
    max_coded_height = (r.Read(12) + 1) * 2;
    pulldown = static_cast<uint8_t>(r.ReadBit());
    interlace = static_cast<uint8_t>(r.ReadBit());
    tfcntrflag = static_cast<uint8_t>(r.ReadBit());
    finterpflag = static_cast<uint8_t>(r.ReadBit());
    r.Skip(1);
    psf = static_cast<uint8_t>(r.ReadBit());
    if (r.ReadBit()) {  // DISPLAY_EXT
        r.Skip(14 + 14);
        if (r.ReadBit() && r.Read(4) == kExplicitAspect) r.Skip(16);
        framerate_flag = static_cast<uint8_t>(r.ReadBit());
        if (framerate_flag) {
            framerateind = static_cast<uint8_t>(r.ReadBit());
            if (framerateind == 0) {
                frameratenr = r.Read(8);
                frameratedr = r.Read(4);
            } else {
                framerateexp = r.Read(16);
            }
        }
        if (r.ReadBit()) r.Skip(24);  // colour format
    }
    hrd_param_flag = static_cast<uint8_t>(r.ReadBit());
    if (hrd_param_flag) {
        hrd_num_leaky_buckets = r.Read(5);
        bit_rate_exponent = r.Read(4);
        buffer_size_exponent = r.Read(4);
        for (uint32_t i = 0; i < hrd_num_leaky_buckets; ++i) {
            hrd_rate[i] = r.Read(16);
            hrd_buffer[i] = r.Read(16);
        }
    }
    return !r.Overrun();
}

int64_t SequenceLayer::FrameDuration() const {
    if (!framerate_flag) return 0;
    if (framerateind) return framerateexp == 0xFFFF ? 0 : int64_t{10000000} * 32 / (framerateexp + 1);
    const uint32_t num = FrameRateNumerator(frameratenr);
    if (num == 0 || (frameratedr != 1 && frameratedr != 2)) return 0;
    // num / 1.000 or num / 1.001 frames per second.
    return int64_t{10000000} * (frameratedr == 2 ? 1001 : 1000) / (int64_t{num} * 1000);
}

bool EntryPoint::Parse(const uint8_t* p, size_t n, const SequenceLayer& seq) {
    MpegCommon::BitReader r;
    if (seq.profile != kAdvanced || !Open(r, p, n, kEntryPoint)) return false;
    broken_link = static_cast<uint8_t>(r.ReadBit());
    closed_entry = static_cast<uint8_t>(r.ReadBit());
    r.Skip(1 + 1 + 1 + 1);  // PANSCAN_FLAG, REFDIST_FLAG, LOOPFILTER, FASTUVMC
    const bool extendedMv = r.ReadBit() != 0;
    r.Skip(2 + 1 + 1 + 2);  // DQUANT, VSTRANSFORM, OVERLAP, QUANTIZER
    if (seq.hrd_param_flag) r.Skip(8 * seq.hrd_num_leaky_buckets);
    if (r.ReadBit()) r.Skip(24);  // coded size
    if (extendedMv) r.Skip(1);
    if (r.ReadBit()) r.Skip(3);
    if (r.ReadBit()) r.Skip(3);
    return !r.Overrun();
}

bool PictureLayer::Parse(const uint8_t* p, size_t n, const SequenceLayer& seq) {
    MpegCommon::BitReader r;
    if (seq.profile != kAdvanced || !Open(r, p, n, kFrame)) return false;
    *this = PictureLayer();
    if (seq.interlace) {
        if (r.ReadBit()) fcm = r.ReadBit() ? kFieldInterlace : kFrameInterlace;
    }
    if (fcm == kFieldInterlace) {
        static const uint32_t kFirstField[8] = {kPicI, kPicI, kPicP, kPicP, kPicB, kPicB, kPicBI, kPicBI};
        type = kFirstField[r.Read(3)];
    } else if (!r.ReadBit()) {
        type = kPicP;
    } else if (!r.ReadBit()) {
        type = kPicB;
    } else if (!r.ReadBit()) {
        type = kPicI;
    } else {
        type = r.ReadBit() ? kPicSkipped : kPicBI;
    }
    if (seq.tfcntrflag) tfcntr = r.Read(8);
    if (seq.pulldown) {
        if (!seq.interlace || seq.psf) {
            rptfrm = r.Read(2);
        } else {
            tff = static_cast<uint8_t>(r.ReadBit());
            rff = static_cast<uint8_t>(r.ReadBit());
        }
    }
    return !r.Overrun();
}

}  // namespace SPL_VC1
