// Small H.264 NAL units written field by field for the tests: parameter
// sets, SEI and slice headers with a filler body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace h264test {

using Bytes = std::vector<uint8_t>;

class RbspWriter {
public:
    void U(uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits_.push_back(static_cast<uint8_t>((v >> i) & 1));
    }
    void UE(uint32_t v) {
        const uint64_t x = uint64_t{v} + 1;
        int n = 0;
        while ((x >> (n + 1)) != 0) ++n;
        U(0, n);
        U(x, n + 1);
    }
    void SE(int32_t v) { UE(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * int64_t{v})); }
    // The NAL unit with a four-byte start code, trailing bits, emulation
    // prevention and body bytes of 0x88 after the header fields.
    Bytes Nal(uint8_t header, size_t body = 0) {
        U(1, 1);
        while (bits_.size() % 8) U(0, 1);
        Bytes raw;
        for (size_t i = 0; i < bits_.size(); i += 8) {
            uint8_t b = 0;
            for (size_t k = 0; k < 8; ++k) b = static_cast<uint8_t>(b << 1 | bits_[i + k]);
            raw.push_back(b);
        }
        raw.insert(raw.end(), body, 0x88);
        Bytes out = {0, 0, 0, 1, header};
        int zeros = 0;
        for (uint8_t b : raw) {
            if (zeros >= 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }

private:
    std::vector<uint8_t> bits_;
};

struct SpsOptions {
    uint8_t profile = 66;
    uint8_t constraints = 0;  // six flags, constraint_set0 first
    uint8_t level = 30;
    uint32_t log2MaxFrameNumMinus4 = 0;
    uint32_t pocType = 0;
    uint32_t log2MaxPocLsbMinus4 = 2;
    std::vector<int32_t> refFrameOffsets;  // POC type 1
    int32_t offsetForNonRef = -1;
    uint32_t refFrames = 1;
    bool frameMbsOnly = true;
    uint32_t widthMbs = 22, heightMapUnits = 18;
    bool timing = false;
    uint32_t unitsInTick = 1, timeScale = 50;
    bool fixedRate = false;
    bool hrd = false;
    uint32_t bitRateValueMinus1 = 0, cpbSizeValueMinus1 = 0, bitRateScale = 0, cpbSizeScale = 0;
    bool restriction = false;
    uint32_t reorder = 0;
    bool picStruct = false;
};

inline Bytes SpsNal(const SpsOptions& o) {
    RbspWriter w;
    w.U(o.profile, 8);
    w.U(o.constraints, 6);
    w.U(0, 2);
    w.U(o.level, 8);
    w.UE(0);
    if (o.profile == 100 || o.profile == 244) {
        w.UE(1);  // 4:2:0
        w.UE(0);
        w.UE(0);
        w.U(0, 1);
        w.U(0, 1);
    }
    w.UE(o.log2MaxFrameNumMinus4);
    w.UE(o.pocType);
    if (o.pocType == 0) {
        w.UE(o.log2MaxPocLsbMinus4);
    } else if (o.pocType == 1) {
        w.U(0, 1);
        w.SE(o.offsetForNonRef);
        w.SE(1);  // offset_for_top_to_bottom_field
        w.UE(static_cast<uint32_t>(o.refFrameOffsets.size()));
        for (int32_t v : o.refFrameOffsets) w.SE(v);
    }
    w.UE(o.refFrames);
    w.U(0, 1);
    w.UE(o.widthMbs - 1);
    w.UE(o.heightMapUnits - 1);
    w.U(o.frameMbsOnly, 1);
    if (!o.frameMbsOnly) w.U(0, 1);
    w.U(1, 1);  // direct_8x8_inference_flag
    w.U(0, 1);  // no cropping
    const bool vui = o.timing || o.hrd || o.restriction || o.picStruct;
    w.U(vui, 1);
    if (vui) {
        w.U(0, 4);  // aspect, overscan, video signal, chroma location
        w.U(o.timing, 1);
        if (o.timing) {
            w.U(o.unitsInTick, 32);
            w.U(o.timeScale, 32);
            w.U(o.fixedRate, 1);
        }
        w.U(o.hrd, 1);
        if (o.hrd) {
            w.UE(0);
            w.U(o.bitRateScale, 4);
            w.U(o.cpbSizeScale, 4);
            w.UE(o.bitRateValueMinus1);
            w.UE(o.cpbSizeValueMinus1);
            w.U(0, 1);
            for (int i = 0; i < 4; ++i) w.U(23, 5);
        }
        w.U(0, 1);  // no VCL HRD
        if (o.hrd) w.U(0, 1);
        w.U(o.picStruct, 1);
        w.U(o.restriction, 1);
        if (o.restriction) {
            w.U(1, 1);
            w.UE(2);
            w.UE(1);
            w.UE(16);
            w.UE(16);
            w.UE(o.reorder);
            w.UE(o.reorder + o.refFrames);
        }
    }
    return w.Nal(0x67);
}

inline Bytes PpsNal(bool bottomFieldPicOrder = false) {
    RbspWriter w;
    w.UE(0);
    w.UE(0);
    w.U(0, 1);
    w.U(bottomFieldPicOrder, 1);
    w.UE(0);  // one slice group
    w.UE(0);
    w.UE(0);
    w.U(0, 1);
    w.U(0, 2);
    w.SE(0);
    w.SE(0);
    w.SE(0);
    w.U(1, 1);
    w.U(0, 1);
    w.U(0, 1);
    return w.Nal(0x68);
}

struct SliceOptions {
    bool idr = false;
    uint8_t refIdc = 2;
    uint32_t sliceType = 5;  // P, all slices of the picture alike
    uint32_t frameNum = 0;
    uint32_t pocLsb = 0;
    bool field = false, bottom = false;
    uint32_t idrPicId = 0;
    uint32_t firstMb = 0;
    int32_t deltaPoc0 = 0;
};

inline Bytes SliceNal(const SpsOptions& sps, const SliceOptions& o, size_t body = 40) {
    RbspWriter w;
    w.UE(o.firstMb);
    w.UE(o.sliceType);
    w.UE(0);
    w.U(o.frameNum, static_cast<int>(sps.log2MaxFrameNumMinus4 + 4));
    if (!sps.frameMbsOnly) {
        w.U(o.field, 1);
        if (o.field) w.U(o.bottom, 1);
    }
    if (o.idr) w.UE(o.idrPicId);
    if (sps.pocType == 0) w.U(o.pocLsb, static_cast<int>(sps.log2MaxPocLsbMinus4 + 4));
    if (sps.pocType == 1) w.SE(o.deltaPoc0);
    return w.Nal(static_cast<uint8_t>(o.refIdc << 5 | (o.idr ? 5 : 1)), body);
}

inline void Add(Bytes& to, const Bytes& nal) {
    to.insert(to.end(), nal.begin(), nal.end());
}

}  // namespace h264test
