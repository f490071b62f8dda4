// Choice between the SSE2 kernels and their plain C++ twins. Both compute the
// same integers and the same float operations in the same order, so the coded
// stream does not depend on the choice; the plain path stays for builds
// without SSE2 and so that tests can compare the two.
#pragma once
#include <atomic>

namespace vidova {

#if defined(__SSE2__)
constexpr bool kHaveSse2 = true;
#else
constexpr bool kHaveSse2 = false;
#endif

namespace detail {
extern std::atomic<bool> g_simd;
}  // namespace detail

// Process-wide; on by default where the build has SSE2. Checked once per
// kernel call, so it is a relaxed load.
inline bool simdEnabled() {
    return kHaveSse2 && detail::g_simd.load(std::memory_order_relaxed);
}
void setSimdEnabled(bool on);

}  // namespace vidova
