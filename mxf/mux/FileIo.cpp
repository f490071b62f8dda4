#include "mxf/mux/FileIo.h"

#if !defined(_WIN32)
#include <sys/types.h>
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

int64_t FileSizeOf(FILE* f) {
    const int64_t here = TellPosition(f);
    if (here < 0 || !SeekToEnd(f)) return -1;
    const int64_t size = TellPosition(f);
    if (!SeekTo(f, here)) return -1;
    return size;
}

}  // namespace mexora
