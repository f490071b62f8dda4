// Planar pictures padded to whole macroblocks, and input conversion.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vidova {

struct Plane {
    std::vector<uint8_t> pix;
    int width = 0, height = 0;  // padded size; stride == width
    uint8_t* row(int y) { return pix.data() + size_t(y) * size_t(width); }
    const uint8_t* row(int y) const { return pix.data() + size_t(y) * size_t(width); }
};

struct Frame {
    Plane p[3];  // Y, Cb, Cr
    void allocate(int codedWidth, int codedHeight, int chroma) {
        p[0].width = codedWidth;
        p[0].height = codedHeight;
        p[1].width = p[2].width = codedWidth / 2;
        p[1].height = p[2].height = chroma == 2 ? codedHeight : codedHeight / 2;
        for (Plane& q : p) q.pix.assign(size_t(q.width) * size_t(q.height), 128);
    }
};

// Fourcc codes of the accepted inputs.
enum : uint32_t {
    kFourccBGR3 = 0x33524742u,
    kFourccBGR4 = 0x34524742u,
    kFourccYUY2 = 0x32595559u,
    kFourccUYVY = 0x59565955u,
    kFourccYV16 = 0x36315659u,
    kFourccI420 = 0x30323449u,
    kFourccYV12 = 0x32315659u,
};

// Which macroblocks of a new input differ from an earlier picture, found
// while the input is copied in: the rows are compared while they are still
// in the cache, not in a pass of their own.
struct ChangeMap {
    enum : uint8_t { kLuma = 1, kChroma = 2 };
    // The picture to compare with (it may be the destination itself: each row
    // is compared before it is written); null for none.
    const Frame* previous = nullptr;
    std::vector<uint8_t> changed;  // per macroblock in raster order: kLuma | kChroma where samples differ
    bool valid = false;            // the map was made for the last input
    std::vector<uint8_t> row;      // scratch: one row as it will be written
};

// True when inputs of this format reach a frame of this chroma format by a
// straight copy of their planes (and so can fill in a ChangeMap).
bool copiedStraight(uint32_t fourcc, int chroma);

// Converts one input picture into dst (already allocated), cropping or
// replicating edges when the input's size differs from the coded size.
// width x height is the visible size of the stream. Returns false for an
// unknown format or unusable geometry. With changes, inputs in the stream's
// own planar layout also fill in the map (the other formats leave it
// invalid).
bool convertPicture(const uint8_t* pic, int stride, int inWidth, int inHeight, uint32_t fourcc, int width, int height,
                    int chroma, Frame& dst, ChangeMap* changes = nullptr);

// Writes a picture as UYVY (width x height, stride width * 2).
void frameToUyvy(const Frame& f, int width, int height, int chroma, uint8_t* out);

}  // namespace vidova
