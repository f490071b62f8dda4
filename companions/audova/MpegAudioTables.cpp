#include "companions/audova/MpegAudioTables.h"

#include <cmath>

namespace audova {

int SampleRateCode(int rate, bool* lsf) {
    switch (rate) {
        case 44100:
            *lsf = false;
            return 0;
        case 48000:
            *lsf = false;
            return 1;
        case 32000:
            *lsf = false;
            return 2;
        case 22050:
            *lsf = true;
            return 0;
        case 24000:
            *lsf = true;
            return 1;
        case 16000:
            *lsf = true;
            return 2;
        default:
            return -1;
    }
}

namespace {
const int kKbps[2][2][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
}  // namespace

int BitrateKbps(bool lsf, int layer, int index) {
    if (layer < 1 || layer > 2 || index < 1 || index > 14) return 0;
    return kKbps[lsf ? 1 : 0][layer - 1][index];
}

bool BitrateIndexLegal(bool lsf, int layer, int channels, int index) {
    if (index < 1 || index > 14 || (channels != 1 && channels != 2)) return false;
    const bool mono = channels == 1;
    if (!lsf) {
        if (layer == 1) return index >= (mono ? 3 : 4);
        if (layer == 2) return mono ? index <= 10 : (index == 4 || index >= 6);
        return false;
    }
    if (layer == 1) return mono || index >= 4;
    if (layer == 2) return index >= (mono ? 3 : 6);
    return false;
}

const QuantClass kQuantClasses[17] = {
    {3, 5, true},      {5, 7, true},      {7, 3, false},      {9, 10, true},      {15, 4, false},     {31, 5, false},
    {63, 6, false},    {127, 7, false},   {255, 8, false},    {511, 9, false},    {1023, 10, false},  {2047, 11, false},
    {4095, 12, false}, {8191, 13, false}, {16383, 14, false}, {32767, 15, false}, {65535, 16, false},
};

namespace {

int ClassOf(int levels) {
    for (int i = 0; i < 17; ++i)
        if (kQuantClasses[i].levels == levels) return i;
    return -1;
}

struct Range {
    int from, to, nbal;
    int levels[15];
};

AllocTable Build(const Range* ranges, int count) {
    AllocTable t{};
    for (auto& row : t.cls)
        for (auto& c : row) c = -1;
    for (int r = 0; r < count; ++r) {
        for (int sb = ranges[r].from; sb <= ranges[r].to; ++sb) {
            t.nbal[sb] = static_cast<uint8_t>(ranges[r].nbal);
            for (int a = 1; a < (1 << ranges[r].nbal); ++a)
                t.cls[sb][a] = static_cast<int8_t>(ClassOf(ranges[r].levels[a - 1]));
            if (sb + 1 > t.sblimit) t.sblimit = sb + 1;
        }
    }
    return t;
}

#define HIGH_LOW \
    { 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535 }
#define HIGH_MID \
    { 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 65535 }
#define LOWR_LOW \
    { 3, 5, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767 }

const Range kTableA[] = {
    {0, 2, 4, HIGH_LOW}, {3, 10, 4, HIGH_MID}, {11, 22, 3, {3, 5, 7, 9, 15, 31, 65535}}, {23, 26, 2, {3, 5, 65535}}};
const Range kTableB[] = {
    {0, 2, 4, HIGH_LOW}, {3, 10, 4, HIGH_MID}, {11, 22, 3, {3, 5, 7, 9, 15, 31, 65535}}, {23, 29, 2, {3, 5, 65535}}};
const Range kTableC[] = {{0, 1, 4, LOWR_LOW}, {2, 7, 3, {3, 5, 9, 15, 31, 63, 127}}};
const Range kTableD[] = {{0, 1, 4, LOWR_LOW}, {2, 11, 3, {3, 5, 9, 15, 31, 63, 127}}};
const Range kTableLsf[] = {{0, 3, 4, {3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383}},
                           {4, 10, 3, {3, 5, 9, 15, 31, 63, 127}},
                           {11, 29, 2, {3, 5, 9}}};

}  // namespace

const AllocTable& Layer2Table(bool lsf, int rate, int kbpsPerChannel) {
    static const AllocTable a = Build(kTableA, 4);
    static const AllocTable b = Build(kTableB, 4);
    static const AllocTable c = Build(kTableC, 2);
    static const AllocTable d = Build(kTableD, 2);
    static const AllocTable l = Build(kTableLsf, 3);
    if (lsf) return l;
    if (kbpsPerChannel <= 48) return rate == 32000 ? d : c;
    if (kbpsPerChannel <= 80 || rate == 48000) return a;
    return b;
}

const float* ScaleFactors() {
    struct Table {
        float v[63];
        Table() {
            for (int i = 0; i < 63; ++i) v[i] = static_cast<float>(std::pow(2.0, 1.0 - i / 3.0));
        }
    };
    static const Table t;
    return t.v;
}

}  // namespace audova
