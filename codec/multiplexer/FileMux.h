// Multiplexes elementary-stream files into one output file: the work of the
// command-line driver, callable from tests.
#pragma once

#include "codec/multiplexer/MuxSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace muxcore {

struct FileMuxInput {
    std::string path;
    int32_t streamType = kPinFree;  // kPinFree: detect from the bytes
};

struct FileMuxJob {
    MuxerSettings settings;
    std::vector<FileMuxInput> inputs;
    std::string output;
    size_t chunkSize = 256 * 1024;
};

struct FileMuxResult {
    bool ok = false;
    std::string error;
    uint64_t bytesOut = 0;
    uint64_t paddingPackets = 0;
    // Units written after their decoding time: the output rate is too low
    // for the inputs (the file is written, but no decoder can play it as is).
    uint64_t lateUnits = 0;
    uint32_t programMuxRate = 0;
};

FileMuxResult MuxFiles(const FileMuxJob& job);

}  // namespace muxcore
