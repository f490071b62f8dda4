#include "companions/vidova/BitWriter.h"

#include <algorithm>

namespace vidova {

void BitWriter::grow() {
    constexpr size_t kMinGrowth = 64 * 1024;
    out_.resize(std::max(out_.size() * 2, out_.size() + kMinGrowth));
}

}  // namespace vidova
