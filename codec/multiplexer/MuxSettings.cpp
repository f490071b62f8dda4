#include "codec/multiplexer/MuxSettings.h"

namespace muxcore {

bool IsVideoType(int32_t t) {
    return t == 1 || t == 5 || t == 6 || t == 8 || t == 10 || t == 12 || t == 14 || t == 17;
}

bool IsAudioType(int32_t t) {
    return t == 2 || t == 3 || t == 7 || t == 11 || t == 20;
}

bool IsSubpictureType(int32_t t) {
    return t == 15 || t == 32 || t == 33;
}

uint8_t PmtStreamType(int32_t t) {
    switch (t) {
        case 1:
            return 0x02;
        case 2:
            return 0x04;
        case 3:
            return 0x81;
        case 5:
        case 6:
        case 14:
            return 0x10;
        case 7:
        case 13:
        case 15:
        case 20:
            return 0x03;
        case 8:
            return 0x01;
        case 10:
        case 12:
            return 0x1B;
        case 11:
            return 0x0F;
        case 17:
            return 0xEA;
        case 18:
            return 0x91;
        case 55:
            return 0x06;
        default:
            return 0;
    }
}

int64_t LookAheadWindow(int32_t t) {
    switch (t) {
        case 1:
        case 8:
        case 10:
        case 12:
        case 17:
            return 18900000;
        case 2:
        case 7:
        case 3:
        case 11:
        case 15:
        case 33:
        case 32:
            return 6750000;
        case 13:
            return 6750000;  // sent ahead like other audio, paced by its buffer model
        default:
            return 27000000;
    }
}

}  // namespace muxcore
