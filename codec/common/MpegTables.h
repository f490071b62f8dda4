// Constant tables of the MPEG video, MPEG audio, ADTS and AC-3 syntaxes
// (ISO/IEC 11172-2/-3, 13818-2/-3/-7, ATSC A/52). Every lookup answers 0 (or
// 0/0) for an index with no entry, so callers decide what that means.
#pragma once

#include <cstdint>

namespace MpegCommon {

struct Rational {
    uint32_t num;
    uint32_t den;
};

// frame_rate_code 1..8: 23.976, 24, 25, 29.97, 30, 50, 59.94, 60.
double FrameRate(unsigned frameRateCode);
Rational FrameRateRational(unsigned frameRateCode);

// aspect_ratio_information 1..14 as the MPEG-1 pel aspect ratio (height/width).
double PelAspectRatio(unsigned aspectCode);
// aspect_ratio_information 1..4 as the MPEG-2 display aspect ratio
// (1 is square samples, given as 1:1).
Rational DisplayAspectRatio(unsigned aspectCode);

// profile_and_level_indication of the MPEG-2 sequence extension as the
// scanners' codes: profile 1 high .. 5 simple, 6 escape (0 unknown); level 1
// high .. 4 low, 5 for the escape level 0x_5 (which also sets profile 2).
struct ProfileLevel {
    uint32_t profile;
    uint32_t level;
};
ProfileLevel DecodeProfileLevel(unsigned profileAndLevel);

// MPEG audio header codes: version 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5 (1 is
// reserved); layer 3 Layer I, 2 Layer II, 1 Layer III (0 is reserved).
uint32_t MpegAudioBitRate(unsigned version, unsigned layer, unsigned bitrateIndex);  // bit/s
uint32_t MpegAudioSampleRate(unsigned version, unsigned samplingFrequency);          // Hz

// ADTS sampling_frequency_index 0..11.
uint32_t AdtsSampleRate(unsigned index);

// AC-3: fscod 0..2, frmsizecod 0..37 (A/52 Table 5.18, 16-bit words per frame).
uint32_t Ac3SampleRate(unsigned fscod);
uint32_t Ac3FrameSizeWords(unsigned frmsizecod, unsigned fscod);
uint32_t Ac3NominalBitRate(unsigned frmsizecod);  // bit/s
// Full-bandwidth channels of acmod 0..7 (without the LFE channel).
unsigned Ac3Channels(unsigned acmod);
// E-AC-3 reduced sample rates, fscod2 0..2 (fscod = 3).
uint32_t Eac3ReducedSampleRate(unsigned fscod2);

}  // namespace MpegCommon
