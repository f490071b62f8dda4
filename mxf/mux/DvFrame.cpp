// One DV DIF frame: header, VAUX source and source control packs, the AAUX
// source pack of the audio blocks and the subcode timecode pack.
#include "mxf/mux/EsHeaders.h"

namespace mexora::es {

namespace {

constexpr size_t kBlock = 80;  // bytes per DIF block
constexpr size_t kBlocksPerSequence = 150;
constexpr size_t kSequenceBytes = kBlock * kBlocksPerSequence;
constexpr size_t kVauxSource = 448;  // pack 9 of the third VAUX block of sequence 0
constexpr size_t kVauxControl = 453;
constexpr uint8_t kPackSource = 0x60, kPackControl = 0x61, kPackAudioSource = 0x50, kPackTimecode = 0x13;
constexpr size_t kFirstAudioBlock = 6, kAudioBlockStride = 16, kAudioBlocks = 9;
constexpr size_t kSubcodeBlocks[2] = {1, 2};
constexpr size_t kSubcodeSyncBlocks = 6, kSyncBlockBytes = 8, kSyncBlockPack = 3;
constexpr uint32_t kChannelBytes50 = 144000, kChannelBytes60 = 120000;
constexpr uint8_t kStypeSd = 0, kStypeDv50 = 4, kStype720 = 24, kStype1080a = 20, kStype1080b = 21;

int Bcd(uint8_t v, uint8_t tensMask) {
    return ((v >> 4) & tensMask) * 10 + (v & 0x0F);
}

bool BcdValid(uint8_t v, uint8_t tensMask) {
    return (v & 0x0F) <= 9 && ((v >> 4) & tensMask) <= 9;
}

}  // namespace

bool DvFrame::Parse(const uint8_t* p, size_t n) {
    *this = DvFrame();
    if (!p || n < kSequenceBytes) return false;
    if (((p[0] >> 4) & 7) != 1 || (p[6] & 0x80) != 0) return false;
    if (p[kVauxSource] != kPackSource || p[kVauxControl] != kPackControl) return false;
    system50 = (p[3] & 0x80) != 0;
    if (system50 != ((p[kVauxSource + 3] & 0x20) != 0)) return false;
    sourceType = p[kVauxSource + 3] & 0x1F;
    applicationType = p[4] & 0x07;
    const uint8_t disp = p[kVauxControl + 2] & 0x07;
    switch (sourceType) {
        case kStypeSd:
        case kStypeDv50:
            dvType = sourceType == kStypeDv50 ? 3 : (applicationType == 0 ? 1 : 2);
            difChannels = sourceType == kStypeDv50 ? 2 : 1;
            width = 720;
            height = system50 ? 576 : 480;
            frameRate = system50 ? Rate{25, 1} : Rate{30000, 1001};
            wide = disp == 2 || disp == 7 || (applicationType != 0 && disp == 1);
            break;
        case kStype720:
            dvType = 4;
            difChannels = 2;
            width = 1280;
            height = 720;
            frameRate = system50 ? Rate{50, 1} : Rate{60000, 1001};
            wide = true;
            break;
        case kStype1080a:
        case kStype1080b:
            dvType = 5;
            difChannels = 4;
            width = 1920;
            height = 1080;
            frameRate = system50 ? Rate{25, 1} : Rate{30000, 1001};
            wide = true;
            break;
        default:
            return false;
    }
    const uint32_t channelBytes = system50 ? kChannelBytes50 : kChannelBytes60;
    frameSize = channelBytes * static_cast<uint32_t>(difChannels);
    if (n < frameSize) return false;
    audioChannels = difChannels <= 2 ? 2 : difChannels;

    // The AAUX source pack sits in the audio blocks of the first channel.
    const size_t sequences = channelBytes / kSequenceBytes;
    for (size_t s = 0; s < sequences && audioRate == 0; s++) {
        for (size_t a = 0; a < kAudioBlocks; a++) {
            const uint8_t* pack = p + s * kSequenceBytes + (kFirstAudioBlock + a * kAudioBlockStride) * kBlock + 3;
            if (pack[0] != kPackAudioSource) continue;
            static constexpr uint32_t kRates[3] = {48000, 44100, 32000};
            const uint8_t smp = (pack[4] >> 3) & 7;
            if (smp > 2) return false;
            audioRate = kRates[smp];
            break;
        }
    }

    // Timecode from the subcode of the first sequence.
    for (size_t b : kSubcodeBlocks) {
        for (size_t i = 0; i < kSubcodeSyncBlocks && !hasTimecode; i++) {
            const uint8_t* pack = p + b * kBlock + 3 + i * kSyncBlockBytes + kSyncBlockPack;
            if (pack[0] != kPackTimecode) continue;
            if (!BcdValid(pack[1], 3) || !BcdValid(pack[2], 7) || !BcdValid(pack[3], 7) || !BcdValid(pack[4], 3))
                continue;
            dropFrame = (pack[1] & 0x40) != 0;
            const int64_t frames = Bcd(pack[1], 3), seconds = Bcd(pack[2], 7);
            const int64_t minutesTotal = Bcd(pack[4], 3) * 60 + Bcd(pack[3], 7);
            if (dropFrame) {
                timecodeFrames =
                    (minutesTotal * 60 + seconds) * 30 - 2 * minutesTotal + 2 * (minutesTotal / 10) + frames;
            } else {
                timecodeFrames = (minutesTotal * 60 + seconds) * (system50 ? 25 : 30) + frames;
            }
            hasTimecode = true;
        }
    }
    valid = true;
    return true;
}

}  // namespace mexora::es
