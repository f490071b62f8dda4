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
// Cuts an open file to no bytes; false on failure.
bool EmptyFile(FILE* f);
// Opens a file for appending, made when missing; what it held is kept until
// EmptyFile, so that the cost of dropping an old file's bytes can be paid
// elsewhere. Null on failure.
FILE* OpenForAppending(const char* name);

}  // namespace mexora
