#include "restamp/FilterStuff/VersionText.h"

#include <cstdio>

namespace chronel {

std::string VersionText(uint32_t fileVersionMs, uint32_t fileVersionLs) {
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u (build %u)", fileVersionMs >> 16, fileVersionMs & 0xFFFFu,
                  fileVersionLs >> 16, fileVersionLs & 0xFFFFu);
    return text;
}

}  // namespace chronel
