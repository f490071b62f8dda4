// Which input stream types the multiplexer core can carry: a type needs a
// scanner that finds its access units, or a pass-through rule.
#pragma once

#include <cstdint>
#include <string>

namespace muxcore {

// Empty when the core can carry the type (or for "Free", no type yet), else a
// message naming the type and why it is refused.
std::string CheckStreamTypeSupported(int32_t type);

}  // namespace muxcore
