// 64-bit file positions on every platform.
#pragma once

#include <cstdint>
#include <cstdio>

namespace mexora {

// Moves to an absolute position; false on failure.
bool SeekTo(FILE* f, int64_t position);
// Moves to the end; false on failure.
bool SeekToEnd(FILE* f);
// The current position, -1 on failure.
int64_t TellPosition(FILE* f);
// The size of an open file (the position is kept), -1 on failure.
int64_t FileSizeOf(FILE* f);

}  // namespace mexora
