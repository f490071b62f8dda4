// The input facts a scanner reads through its host: the stream type of the
// input, the kind of stream being written, the timing mode and the wave format
// of LPCM inputs. The multiplexer's settings records use the same names.
#pragma once

#include <cstdint>

namespace muxcore {

enum OutputStreamType : int32_t { kProgramStream = 1, kTransportStream = 2, kTransportFixedPids = 3 };
enum TimingMode : int32_t { kCaptureMode = 0, kReconstructionMode = 1 };

// Stream types of an input ("Stream Type").
enum PinType : int32_t {
    kPinFree = 0,
    kPinMpeg2Video = 1,
    kPinMpeg2Audio = 2,
    kPinAc3 = 3,
    kPinMpeg4v4 = 5,
    kPinMpeg4v5 = 6,
    kPinMpeg1Audio = 7,
    kPinMpeg1Video = 8,
    kPinMpeg2Program = 9,
    kPinH264 = 10,
    kPinAac = 11,
    kPinH264Soft = 12,
    kPinPcm = 13,
    kPinMpeg4 = 14,
    kPinDvdSubtitles = 15,
    kPinVc1 = 17,
    kPinIgPes = 18,
    kPinPcrOnly = 19,
    kPinPesMpegAudio = 20,
    kPinPesDvdSubtitles = 32,
    kPinPesSubpicture33 = 33,
    kPinPrivateData = 55,
};

// LPCM wave format of a "PCM" input.
struct PcmFormat {
    int32_t sampleRate = 48000;
    int32_t channels = 2;
    int32_t bitsPerSample = 16;
    bool littleEndian = true;
};

}  // namespace muxcore
