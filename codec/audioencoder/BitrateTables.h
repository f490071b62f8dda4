// Layer I/II bit-rate indexes: their kbit/s, the names the filter shows, and
// which indexes are offered for a sample rate, layer and channel count.
#pragma once

#include <string>
#include <vector>

namespace audioenc {

// kbit/s of index 1..14 (0 for anything else). Below 32 kHz the lower
// sampling frequencies' table applies.
int KbpsOfIndex(int sampleRate, int layer, int index);

// The offered indexes in ascending order.
std::vector<int> OfferedIndexes(int sampleRate, int layer, int outputChannels);

// One offered (name, index) pair per offered index; names are the kbit/s.
struct NamedIndex {
    std::wstring name;
    int index;
};
std::vector<NamedIndex> OfferedNames(int sampleRate, int layer, int outputChannels);

bool IsAcceptedInputRate(int sampleRate);

}  // namespace audioenc
