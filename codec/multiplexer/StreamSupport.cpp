#include "codec/multiplexer/StreamSupport.h"

#include "codec/multiplexer/MuxSettings.h"

namespace muxcore {

std::string CheckStreamTypeSupported(int32_t type) {
    switch (type) {
        case kPinFree:
        case kPinMpeg2Video:
        case kPinMpeg2Audio:
        case kPinAc3:
        case kPinMpeg1Audio:
        case kPinMpeg1Video:
        case kPinMpeg2Program:
        case kPinAac:
        case kPinPcm:
        case kPinDvdSubtitles:
        case kPinIgPes:
        case kPinPcrOnly:
        case kPinPesMpegAudio:
        case kPinPesDvdSubtitles:
        case kPinPesSubpicture33:
        case kPinPrivateData:
        case kPinH264:
        case kPinH264Soft:
        case kPinMpeg4v4:
        case kPinMpeg4v5:
        case kPinMpeg4:
        case kPinVc1:
            return std::string();
        default:
            return "stream type " + std::to_string(type) + " is unknown";
    }
}

}  // namespace muxcore
