// The two WAV readers: the multiplexer's detection of an input file (in
// memory) and the audio engine driver's block reader (from a file, here an
// anonymous in-memory one).
#include "codec/multiplexer/EsDetect.h"
#include "companions/audova/driver/WavFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

constexpr size_t kMaxInput = 1 << 20;

// The path of an in-memory file holding exactly these bytes.
const std::string* FileWith(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("fuzz-wav", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) return nullptr;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return nullptr;
        done += static_cast<size_t>(n);
    }
    return &path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return 0;
    const muxcore::EsInfo info = muxcore::DetectElementaryStream(data, size);
    if (info.streamType != muxcore::kPinFree && info.dataOffset > size) std::abort();

    const std::string* path = FileWith(data, size);
    if (!path) std::abort();  // the harness itself failed
    audova::WavData wav;
    std::string why;
    if (audova::ReadWav(*path, &wav, &why)) {
        if (wav.channels < 1 || wav.channels > 2 || wav.samples.size() % wav.channels) std::abort();
        if (wav.samples.size() * 2 > size) std::abort();
    }
    return 0;
}
