// The analysis of a two-pass run as the engine keeps it in file 0 of the
// host's statistics store: a header naming the picture size, then one record
// per picture in coded order.
#pragma once
#include "codec/common/bufstream.h"
#include "companions/vidova/Encoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vidova {

struct PassRecord {
    int32_t type;
    uint32_t bits;
    double avgQuant;
};

// Writes the records; false (with the reason) when the store refuses.
bool writePassStats(bufstream* stats, int width, int height, const std::vector<PassRecord>& records, std::string& why);
// Reads the plan of a second pass for a picture size; false (with the
// reason) when the store holds none for it.
bool readPassStats(bufstream* stats, int width, int height, std::vector<PassPicture>& plan, std::string& why);

}  // namespace vidova
