// The version line of the time marker's about page, from the two 32-bit
// halves of the module's file version.
#pragma once

#include <cstdint>
#include <string>

namespace chronel {

// "1.0.2 (build 51116)" for the file version 1, 0, 2, 51116.
std::string VersionText(uint32_t fileVersionMs, uint32_t fileVersionLs);

}  // namespace chronel
