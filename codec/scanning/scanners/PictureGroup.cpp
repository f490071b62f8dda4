#include "codec/scanning/scanners/PictureGroup.h"

#include <algorithm>

std::vector<int64_t> PictureGroup::AssignTimes(int64_t anchor, int64_t& end) const {
    std::vector<size_t> order(pictures_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return pictures_[a].key < pictures_[b].key; });
    std::vector<int64_t> times(pictures_.size());
    int64_t t = anchor;
    for (size_t i : order) {
        times[i] = t;
        t += pictures_[i].duration;
    }
    end = t;
    return times;
}
