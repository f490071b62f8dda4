// libFuzzer entry point over the whole library (built with SPL_FUZZER=ON and
// clang): clang++ -fsanitize=fuzzer,address,undefined.
#include "feed_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    spltest::FeedAll(data, static_cast<uint32_t>(size));
    return 0;
}
