// Variable-length codes and fixed tables of MPEG-1/MPEG-2 video.
#pragma once
#include <cstdint>

namespace vidova {

struct Vlc {
    uint16_t code;
    uint8_t len;
};

extern const Vlc kMbAddrInc[34];   // index 1..33; [0] is the escape (+33)
extern const Vlc kMbTypeP[8];      // see MbTypeP
extern const Vlc kCbp[64];         // coded_block_pattern_420 0..63
extern const Vlc kMotionCode[17];  // |motion_code| 0..16, sign follows
extern const Vlc kDcSizeLuma[12];
extern const Vlc kDcSizeChroma[12];
extern const uint8_t kZigzag[64];              // natural position of each scan index
extern const uint8_t kAlternateScan[64];       // the same for the alternate scan (MPEG-2)
extern const uint8_t kDefaultIntraMatrix[64];  // natural order
extern const uint8_t kNonLinearScale[32];

enum MbTypeP { kPMcCoded = 0, kPNoMcCoded, kPMcNotCoded, kPIntra, kPMcCodedQ, kPNoMcCodedQ, kPIntraQ };

// DCT coefficient codes without the sign bit; len 0 = use the escape.
struct CoefVlcTable {
    Vlc code[32][41];  // [run][level], level 1..40
    Vlc endOfBlock;
};
const CoefVlcTable& coefTable();     // table zero: every block of MPEG-1, non-intra blocks of MPEG-2
const CoefVlcTable& coefTableOne();  // MPEG-2 intra blocks when intra_vlc_format is 1

// Every code of a table with its run and level, for self-checks. Both tables
// hold the same pairs; longer codes (14 bits and more) are escaped.
struct CoefEntry {
    uint8_t run, level;
    const char* bits;
};
extern const CoefEntry kCoefEntries[];  // table zero
extern const int kCoefEntryCount;
extern const CoefEntry kCoefEntriesOne[];  // table one
extern const int kCoefEntryCountOne;

}  // namespace vidova
