#include "mxf/mux/FileIo.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace mexora {

bool SeekTo(FILE* f, int64_t position) {
#if defined(_WIN32)
    return _fseeki64(f, position, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

bool SeekToEnd(FILE* f) {
#if defined(_WIN32)
    return _fseeki64(f, 0, SEEK_END) == 0;
#else
    return fseeko(f, 0, SEEK_END) == 0;
#endif
}

int64_t TellPosition(FILE* f) {
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return static_cast<int64_t>(ftello(f));
#endif
}

bool EmptyFile(FILE* f) {
    if (std::fflush(f) != 0) return false;
    // Devices and pipes have no bytes to drop.
    if (FileSizeOf(f) <= 0) return true;
#if defined(_WIN32)
    return _chsize_s(_fileno(f), 0) == 0;
#else
    return ftruncate(fileno(f), 0) == 0;
#endif
}

FILE* OpenForAppending(const char* name) {
    return std::fopen(name, "ab");
}

int64_t FileSizeOf(FILE* f) {
    const int64_t here = TellPosition(f);
    if (here < 0 || !SeekToEnd(f)) return -1;
    const int64_t size = TellPosition(f);
    if (!SeekTo(f, here)) return -1;
    return size;
}

}  // namespace mexora
