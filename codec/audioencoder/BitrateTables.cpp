#include "codec/audioencoder/BitrateTables.h"

namespace audioenc {
namespace {

// Rows: [lower sampling frequencies][layer - 1][index - 1].
constexpr int kKbps[2][2][14] = {
    {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}},
    {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

struct Offer {
    int first, last;
    int skip;  // an index inside [first, last] that is not offered, or 0
};

// [lower][layer - 1][channels - 1]
constexpr Offer kOffers[2][2][2] = {
    {{{3, 14, 0}, {4, 14, 0}}, {{1, 10, 0}, {4, 14, 5}}},
    {{{1, 14, 0}, {4, 14, 0}}, {{3, 14, 0}, {6, 14, 0}}},
};

bool Lower(int sampleRate) {
    return sampleRate < 32000;
}

}  // namespace

int KbpsOfIndex(int sampleRate, int layer, int index) {
    if (layer < 1 || layer > 2 || index < 1 || index > 14) return 0;
    return kKbps[Lower(sampleRate)][layer - 1][index - 1];
}

std::vector<int> OfferedIndexes(int sampleRate, int layer, int outputChannels) {
    std::vector<int> out;
    if (layer < 1 || layer > 2) return out;
    int ch = outputChannels == 1 ? 0 : 1;
    const Offer& o = kOffers[Lower(sampleRate)][layer - 1][ch];
    for (int i = o.first; i <= o.last; ++i)
        if (i != o.skip) out.push_back(i);
    return out;
}

std::vector<NamedIndex> OfferedNames(int sampleRate, int layer, int outputChannels) {
    std::vector<NamedIndex> out;
    for (int i : OfferedIndexes(sampleRate, layer, outputChannels))
        out.push_back({std::to_wstring(KbpsOfIndex(sampleRate, layer, i)), i});
    return out;
}

bool IsAcceptedInputRate(int sampleRate) {
    switch (sampleRate) {
        case 16000:
        case 22050:
        case 24000:
        case 32000:
        case 44100:
        case 48000:
            return true;
        default:
            return false;
    }
}

}  // namespace audioenc
