// The fuzz targets' view of their input: a few leading control bytes that
// choose how the core is driven, then the stream itself. A short input reads
// zeros for the controls it lacks, so every input is a valid case.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Control() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

// A chunk length from a control byte: 1 to 4,096 bytes, short ones likelier,
// so that headers are split across deliveries as often as not.
inline size_t ChunkLength(uint8_t control) {
    const size_t n = control & 0x3F;
    return (control & 0x40) ? (n + 1) * 64 : n + 1;
}

}  // namespace fuzz
