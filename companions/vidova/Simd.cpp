#include "companions/vidova/Simd.h"

namespace vidova {
namespace detail {
std::atomic<bool> g_simd{kHaveSse2};
}  // namespace detail

void setSimdEnabled(bool on) {
    detail::g_simd.store(on, std::memory_order_relaxed);
}

}  // namespace vidova
