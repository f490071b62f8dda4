// The pictures of one group held in decoding order until the group ends,
// then shown by their display-order keys ("Reconstruction Mode"). Used by
// the video scanners whose streams carry display order but no times.
#pragma once

#include "codec/scanning/AccessUnit.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class PictureGroup {
public:
    struct Picture {
        muxcore::AccessUnit unit;
        int64_t key;       // display order: temporal reference or order count
        int64_t duration;  // 100 ns
    };

    void Add(const muxcore::AccessUnit& u, int64_t key, int64_t duration) { pictures_.push_back({u, key, duration}); }
    bool Empty() const { return pictures_.empty(); }
    size_t Size() const { return pictures_.size(); }
    const Picture& operator[](size_t i) const { return pictures_[i]; }
    void Clear() { pictures_.clear(); }

    // The held units follow the buffer they point into.
    void Shift(ptrdiff_t distance) {
        for (Picture& p : pictures_) p.unit.location -= distance;
    }
    void Move(ptrdiff_t delta) {
        for (Picture& p : pictures_) p.unit.location += delta;
    }

    // Presentation times in decoding order: the smallest key is shown at
    // anchor and each later key after the durations of those before it; a
    // repeated key follows the picture that had it first. end receives the
    // time after the last picture shown.
    std::vector<int64_t> AssignTimes(int64_t anchor, int64_t& end) const;

private:
    std::vector<Picture> pictures_;
};
